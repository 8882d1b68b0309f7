// The structured-exception guard: a fault inside the guarded call ends that
// call only, on any thread, and the guard is left ready for the next one.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dspproxy/ExceptionGuard.h"
#include "host/PlayerInterface.h"
#include "tests/dspproxy/TestFolders.h"

namespace {

volatile int Zero = 0;
volatile int Sink = 0; // keeps the faulting reads and divisions in the code
int* volatile NullPointer = nullptr;
using Function = int (*)();
volatile Function NullFunction = nullptr;

struct Fault {
    const char* name;
    void (*raise)();
};

const Fault Faults[] = {
    {"read through null", [] { Sink = *NullPointer; }},
    {"write through null", [] { *NullPointer = 1; }},
    {"call to null", [] { static_cast<void>(NullFunction()); }},
    {"integer division by zero", [] { Sink = 7 / Zero; }},
    {"illegal instruction", [] { __builtin_trap(); }},
};

class GuardFaultTest : public testing::TestWithParam<Fault> {};

TEST_P(GuardFaultTest, EndsOnlyTheFaultingCall) {
    bool reachedAfterFault = false;
    auto faulting = [&] {
        GetParam().raise();
        reachedAfterFault = true;
    };
    EXPECT_FALSE(qv::CallGuarded(faulting));
    EXPECT_FALSE(reachedAfterFault);

    int result = 0;
    auto good = [&] { result = 42; };
    EXPECT_TRUE(qv::CallGuarded(good));
    EXPECT_EQ(result, 42);
}

INSTANTIATE_TEST_SUITE_P(Faults, GuardFaultTest, testing::ValuesIn(Faults),
                         [](const testing::TestParamInfo<Fault>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ')
                                     c = '_';
                             return name;
                         });

TEST(GuardTest, ACppExceptionOutOfTheCallIsAFailure) {
    auto throwing = [] { throw std::runtime_error("apeshit"); };
    EXPECT_FALSE(qv::CallGuarded(throwing));
}

TEST(GuardTest, AnInnerFaultResumesTheInnerGuardAndTheOuterCallGoesOn) {
    bool innerReturned = true;
    bool outerFinished = false;
    auto outer = [&] {
        auto inner = [] { *NullPointer = 1; };
        innerReturned = qv::CallGuarded(inner);
        outerFinished = true;
    };
    EXPECT_TRUE(qv::CallGuarded(outer));
    EXPECT_FALSE(innerReturned);
    EXPECT_TRUE(outerFinished);
    EXPECT_TRUE(qv::GuardHandlerInstalled());
}

// The proxy's race: the output library was released between the read of its
// module and the call. Code of an unloaded library is no longer mapped.
TEST(GuardTest, ACallIntoAnUnloadedLibraryIsCaught) {
    const std::string path = qvtest::ProgramFolder() + "\\..\\e2e\\dsp_e2e_halving.dll";
    HMODULE library = LoadLibraryA(path.c_str());
    ASSERT_NE(library, nullptr) << path;
    const auto getHeader = reinterpret_cast<winampDSPGetHeaderType>(
        reinterpret_cast<void*>(GetProcAddress(library, "winampDSPGetHeader2")));
    ASSERT_NE(getHeader, nullptr);
    ASSERT_TRUE(FreeLibrary(library));
    ASSERT_EQ(GetModuleHandleA("dsp_e2e_halving.dll"), nullptr) << "still loaded";
    auto call = [getHeader] { getHeader(nullptr); };
    EXPECT_FALSE(qv::CallGuarded(call));
}

// Each thread resumes at its own guard: a thread-wide slot shared by two
// threads would send one thread's fault into the other's stack.
TEST(GuardTest, ThreadsFaultingAtOnceEachResumeAtTheirOwnGuard) {
    constexpr int Rounds = 300;
    std::atomic<int> caught{0};
    std::atomic<int> completed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < Rounds; ++i) {
                int value = 0;
                auto call = [&] {
                    if ((i + t) % 2 == 0)
                        *NullPointer = i;
                    value = i;
                };
                if (qv::CallGuarded(call))
                    completed += value == i ? 1 : 0;
                else
                    ++caught;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(caught.load(), 4 * Rounds / 2);
    EXPECT_EQ(completed.load(), 4 * Rounds / 2);
}

} // namespace
