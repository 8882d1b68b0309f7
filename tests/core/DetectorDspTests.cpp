// The detector DSP hands each block over at the DSP stage, and Write then
// only paces it: every block reaches the schedule (and the engine) once,
// whatever comes between the DSP stage and Write.
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "dspproxy/ExceptionGuard.h"

using namespace qv;

namespace {

constexpr int Frames = 576;
constexpr int Bytes = Frames * 4; // 16-bit stereo

enum class Between { Nothing, DspQuit, DspQuitAndInit, NextSongOpen, DspQuitInitAndNextSong };

struct HandOverCase {
    const char* name;
    Between between;
    int framesByWrite; // what the block's Write adds to the schedule
};

const HandOverCase Cases[] = {
    {"Write only paces the block handed over", Between::Nothing, 0},
    {"a DSP Quit in between does not hand it twice", Between::DspQuit, 0},
    {"nor a DSP restart", Between::DspQuitAndInit, 0},
    {"a Write that never came does not cost the next song its first block", Between::NextSongOpen,
     Frames},
    {"nor after a DSP restart", Between::DspQuitInitAndNextSong, Frames},
};

class DetectorHandOverTest : public qvtest::CoreTest,
                             public testing::WithParamInterface<HandOverCase> {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ProcessAttach(GetModuleHandleA(nullptr));
        Module = GetDetectorModule(0);
        Clock.CoreInitialised = 1;
        ASSERT_EQ(Module->Init(Module), 0);
        Open(44100, 2, 16, 0, 0);
    }
    void TearDown() override {
        if (IsDetectorDSPActive())
            Module->Quit(Module);
        CoreTest::TearDown();
    }
    std::vector<short> Samples = std::vector<short>(Frames * 2, 0);
    winampDSPModule* Module = nullptr;
};

TEST_P(DetectorHandOverTest, EachBlockReachesTheScheduleOnce) {
    ASSERT_EQ(Module->ModifySamples(Module, Samples.data(), Frames, 16, 2, 44100), Frames);
    ASSERT_EQ(Clock.FramesScheduled, Frames) << "handed over at the DSP stage";
    const Between between = GetParam().between;
    if (between != Between::Nothing && between != Between::NextSongOpen)
        Module->Quit(Module);
    if (between == Between::DspQuitAndInit || between == Between::DspQuitInitAndNextSong) {
        ASSERT_EQ(Module->Init(Module), 0);
    }
    if (between == Between::NextSongOpen || between == Between::DspQuitInitAndNextSong)
        Open(44100, 2, 16, 0, 0);

    const int64_t before = Clock.FramesScheduled;
    ASSERT_EQ(Write(reinterpret_cast<const char*>(Samples.data()), Bytes), 0);
    EXPECT_EQ(Clock.FramesScheduled - before, GetParam().framesByWrite);
    EXPECT_EQ(Clock.HandedOverAtDSP, 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, DetectorHandOverTest, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<HandOverCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c)
                                 name += *c == ' ' ? '_' : *c;
                             return name;
                         });

} // namespace

// A player block that cannot be read, given while paused (the hand-off keeps
// a copy of it then): the proxy's guard ends the call at the fault without
// running a destructor, so nothing of ours may be held while the block is
// read. Every call after it must still return.
class DetectorFaultTest : public DetectorHandOverTest {};

TEST_F(DetectorFaultTest, AnUnreadableBlockLeavesNoLockHeld) {
    ASSERT_EQ(Pause(1), 0);
    void* const unreadable = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(unreadable, nullptr);
    int result = 0;
    auto modify = [&] {
        result =
            Module->ModifySamples(Module, static_cast<short*>(unreadable), Frames, 16, 2, 44100);
    };
    EXPECT_FALSE(qv::CallGuarded(modify)) << "the read faulted and the guard caught it";
    VirtualFree(unreadable, 0, MEM_RELEASE);

    // On another thread, as the player's decoding thread and window thread
    // would call them; a lock left held shows as a thread that never signals.
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(done, nullptr);
    std::thread caller([&] {
        CanWrite();
        Pause(0);
        Write(reinterpret_cast<const char*>(Samples.data()), Bytes);
        Pause(1);
        Pause(0);
        Close();
        SetEvent(done);
    });
    const DWORD waited = WaitForSingleObject(done, 60000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "a call after the fault never returned";
    if (waited == WAIT_OBJECT_0)
        caller.join();
    else
        caller.detach(); // it cannot be joined; the process ends it
    CloseHandle(done);
}
