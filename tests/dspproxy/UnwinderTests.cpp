// Both shipped DLLs with the compiler's shared runtime (libgcc_s_dw2-1.dll)
// already in the process, as another MinGW-built plug-in leaves it in the
// player: every exception our code throws and catches inside must still be
// caught there, not end the process. Each case runs in a child run of this
// program, so that the runtime is loaded before either DLL and no earlier
// test has loaded them already.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "host/PlayerInterface.h"
#include "tests/dspproxy/TestFolders.h"

namespace {

constexpr char ChildVariable[] = "QV_UNWINDER_CHILD";

const std::string OutputLibrary = qvtest::ProgramFolder() + "\\..\\..\\out_qvquellspring.dll";
const std::string ProxyLibrary = qvtest::ProgramFolder() + "\\..\\..\\dsp_qvquellspring.dll";
const std::string CompilerRuntime = qvtest::ProgramFolder() + "\\libgcc_s_dw2-1.dll";

bool InChild() {
    char value[8] = {};
    return GetEnvironmentVariableA(ChildVariable, value, sizeof value) > 0;
}

// Runs this program again on one test, with or without the compiler's runtime
// loaded first; the child's exit code (3 is std::terminate's abort).
DWORD RunChild(const std::string& test, bool preloadRuntime) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=" + test;
    SetEnvironmentVariableA(ChildVariable, preloadRuntime ? "with" : "without");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    SetEnvironmentVariableA(ChildVariable, nullptr);
    if (!started)
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    // A child that hangs is ended: it holds this program's output, and the
    // test runner waits for every holder of it.
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, code);
    else
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void PreloadRuntimeIfAsked() {
    char value[8] = {};
    GetEnvironmentVariableA(ChildVariable, value, sizeof value);
    if (std::string(value) == "with") {
        ASSERT_NE(LoadLibraryA(CompilerRuntime.c_str()), nullptr) << CompilerRuntime;
    }
}

template <class F> F Export(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// What the child runs: paths on which the output library throws and catches
// inside (Init without a main window, a repeated DSP Init, an unmatched DSP
// Quit), reached through the proxy as the player reaches them.
TEST(UnwinderChild, ThrowingPathsReturnTheirDefinedResults) {
    if (!InChild())
        GTEST_SKIP() << "runs only as a child of UnwinderTest";
    PreloadRuntimeIfAsked();
    const HMODULE output = LoadLibraryA(OutputLibrary.c_str());
    ASSERT_NE(output, nullptr) << OutputLibrary;
    const auto getOut = Export<winampGetOutModuleType>(output, "winampGetOutModule");
    ASSERT_NE(getOut, nullptr);
    Out_Module* const out = getOut();
    out->hMainWindow = nullptr;
    out->Init(); // throws "NULL Winamp Main HWND Var." inside and returns
    out->Quit();

    const HMODULE proxy = LoadLibraryA(ProxyLibrary.c_str());
    ASSERT_NE(proxy, nullptr) << ProxyLibrary;
    const auto getHeader = Export<winampDSPGetHeaderType>(proxy, "winampDSPGetHeader2");
    ASSERT_NE(getHeader, nullptr);
    winampDSPHeader* const header = getHeader(nullptr);
    ASSERT_NE(header, nullptr);
    winampDSPModule* const module = header->getModule(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->Init(module), 0);
    EXPECT_EQ(module->Init(module), -1) << "a repeated Init is refused by value";
    module->Quit(module);
    module->Quit(module); // unmatched: refused inside, returns
    EXPECT_EQ(header->sf(7), 32);
}

struct Case {
    const char* name;
    bool preloadRuntime;
};

class UnwinderTest : public testing::TestWithParam<Case> {};

TEST_P(UnwinderTest, ExceptionsStayInsideTheLibraries) {
    if (InChild())
        GTEST_SKIP() << "a child runs only its own case";
#if !defined(__i386__)
    if (GetParam().preloadRuntime)
        GTEST_SKIP() << "only the i686 (DWARF-2) runtime hands our tables to a shared runtime";
#endif
    EXPECT_EQ(RunChild("UnwinderChild.*", GetParam().preloadRuntime), 0u)
        << (GetParam().preloadRuntime ? "with " : "without ") << CompilerRuntime;
}

INSTANTIATE_TEST_SUITE_P(Runtime, UnwinderTest,
                         testing::Values(Case{"without_libgcc_dll", false},
                                         Case{"with_libgcc_dll", true}),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
