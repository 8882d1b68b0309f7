// The detector DSP hands each block over at the DSP stage, and Write then
// only paces it: every block reaches the schedule (and the engine) once,
// whatever comes between the DSP stage and Write.
#include <vector>

#include "CoreTestSupport.h"
#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"

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
