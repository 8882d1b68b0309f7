// The device list, the open/close cycle, pause and restart, volume and pan,
// and what each failing device call of that cycle leads to.
#include <algorithm>

#include "tests/engine/EngineTestSupport.h"

namespace {

std::vector<std::string> Names(const std::vector<TWaveOutDevice>& list) {
    std::vector<std::string> names;
    for (const TWaveOutDevice& device : list)
        names.push_back(std::to_string(device.Id) + ":" + device.Name);
    return names;
}

TEST(DeviceList, DuplicateNamesGetANumberAndLookupIsExact) {
    TFakeWaveOut fake({{"Wave Mapper"},
                       {"Speakers"},
                       {"Broken", 2, 0, true},
                       {"SPEAKERS"},
                       {"Headset"},
                       {"speakers(2)"}});
    EXPECT_EQ(Names(WaveOutDeviceList(fake)),
              (std::vector<std::string>{"-1:Wave Mapper", "0:Speakers", "2:SPEAKERS(2)",
                                        "3:Headset", "4:speakers(2)(2)"}));
    EXPECT_EQ(DeviceNameToId("Wave Mapper", fake), -1);
    EXPECT_EQ(DeviceNameToId("Speakers", fake), 0);
    EXPECT_EQ(DeviceNameToId("SPEAKERS(2)", fake), 2);
    EXPECT_EQ(DeviceNameToId("Speakers(2)", fake), -2) << "letter case counts in a lookup";
    EXPECT_EQ(DeviceNameToId("Broken", fake), -2);
    EXPECT_EQ(DeviceNameToId("", fake), -2);
    EXPECT_EQ(DeviceNameToId("Nowhere", fake), -2);
}

class DeviceCycle : public EngineTest {
protected:
    DeviceCycle()
        : EngineTest({{"Fake Mapper"},
                      {"Speakers"},
                      {"Speakers"},
                      {"Mono", 1},
                      {"Fixed", 2, WAVECAPS_VOLUME},
                      {"Mute", 2, 0}}) {}
};

TEST_F(DeviceCycle, OpenPlayCloseGoesThroughEveryStateAndClearsTheFormat) {
    OpenDevice(TestBlock, "Speakers(2)");
    EXPECT_EQ(Fake.LastOpenId(), 1u);
    EXPECT_EQ(Engine->GetDeviceName(), "Speakers(2)");
    StartPlaying(3);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Fake.Calls(TFakeCall::GetPosition), 0) << "a stop waited for the device to play out";
    EXPECT_TRUE(InOrder(StateNames(*Engine),
                        {"Idle", "Init", "Open", "Playing", "Reset", "Close", "Idle"}));
    EXPECT_EQ(Engine->GetDeviceName(), "");
    EXPECT_EQ(Engine->SampleRate, 0);
    EXPECT_EQ(Engine->Channels, 0);
    EXPECT_EQ(Engine->BitsPerSample, 0);
    EXPECT_EQ(Engine->BlockBytes, 0u);
    EXPECT_EQ(Engine->DeviceHandle, nullptr);
    EXPECT_FALSE(Fake.IsOpen());
}

// A device reports a buffer done once it has taken it, before it is heard.
// A close after the last one (as at a format change) first plays a short
// silence behind it, then waits until the device's position reaches what it
// was given, and for a grace after the last notification; a position that
// never gets there holds the close only up to its bound, and is counted.
// Either way the next format's first buffer plays.
TEST_F(DeviceCycle, ACloseAfterTheLastBufferWaitsForTheDeviceToPlayOut) {
    constexpr int64_t GraceNs = 50'000'000;
    for (const bool catchesUp : {true, false}) {
        SCOPED_TRACE(catchesUp ? "the position catches up" : "the position stays behind");
        const uint32_t cutBefore = Engine->Stats.PlayOutsCutShort;
        OpenDevice();
        const size_t playedAtOpen = Fake.Played().size();
        const std::vector<char> data = StartPlaying(2);
        ASSERT_TRUE(Until([&] {
            Fake.CompleteOne();
            return Fake.Played().size() >= playedAtOpen + data.size();
        }));
        const int64_t lastDone = TWaveOutPlayThread::SystemNs();
        ASSERT_TRUE(WaitForState(*Engine, psOpen)) << "the device ran dry after its last buffer";
        Fake.PositionLag = 1000;
        std::atomic<int> positionReads{0}, readsAtReset{-1};
        std::atomic<int64_t> resetAt{0};
        Fake.OnCall(TFakeCall::GetPosition, [&] {
            if (++positionReads == 3 && catchesUp)
                Fake.PositionLag = 0;
        });
        Fake.OnCall(TFakeCall::Reset, [&] {
            if (readsAtReset < 0) {
                readsAtReset = positionReads.load();
                resetAt = TWaveOutPlayThread::SystemNs();
            }
        });
        const uint32_t dryRuns = Engine->Stats.DryRuns;
        Engine->PostClose();
        ASSERT_TRUE(Until([&] { return Fake.CompleteOne(); }))
            << "no silence behind the last buffer";
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
        const std::vector<char> closed = Fake.Played();
        ASSERT_EQ(closed.size(), playedAtOpen + data.size() + 3528) << "20 ms of silence";
        EXPECT_TRUE(std::all_of(closed.end() - 3528, closed.end(), [](char c) { return c == 0; }));
        EXPECT_EQ(Engine->Stats.DryRuns, dryRuns) << "the silence's own end is no underrun";
        Fake.OnCall(TFakeCall::GetPosition, {});
        Fake.OnCall(TFakeCall::Reset, {});
        Fake.PositionLag = 0;
        EXPECT_GE(readsAtReset, 3) << "reset before the position was read to its end";
        EXPECT_GE(resetAt - lastDone, GraceNs) << "reset within the grace after the last buffer";
        EXPECT_EQ(Engine->Stats.PlayOutsCutShort - cutBefore, catchesUp ? 0u : 1u);

        ASSERT_TRUE(Engine->RequestOpen("Speakers", 48000, 1, 8, int32_t(TestBlock)));
        ASSERT_TRUE(WaitForState(*Engine, psOpen));
        const size_t playedBefore = Fake.Played().size();
        const std::vector<char> next = Pattern(Engine->BuffSize, 7);
        Engine->QueueData({48000, 1, 8, uint32_t(next.size()), next.data()});
        ASSERT_TRUE(WaitToWrite(1));
        Engine->PostRestart();
        ASSERT_TRUE(Until([&] { return Fake.CompleteOne(); }));
        const std::vector<char> played = Fake.Played();
        EXPECT_EQ(std::vector<char>(played.begin() + playedBefore, played.end()), next);
        Engine->PostClose();
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
    }
}

TEST_F(DeviceCycle, RequestOpenWhileADeviceIsOpenIsRefusedAndChangesNothing) {
    OpenDevice();
    EXPECT_FALSE(Engine->RequestOpen("Mono", 8000, 1, 8, 100));
    EXPECT_EQ(Engine->GetDeviceName(), "Speakers");
    EXPECT_EQ(Engine->SampleRate, TestRate);
    EXPECT_EQ(Engine->Channels, TestChannels);
    EXPECT_EQ(Engine->BitsPerSample, TestBits);
    EXPECT_EQ(StateOf(*Engine), "Open");
}

TEST_F(DeviceCycle, RequestOpenWithTheRecordedValuesPostsNothing) {
    ASSERT_TRUE(Engine->RequestOpen("Nowhere", TestRate, 2, 16, 2304));
    ASSERT_TRUE(WaitForState(*Engine, psError));
    const size_t states = Engine->StateHistory().size();
    EXPECT_TRUE(Engine->RequestOpen("Nowhere", TestRate, 2, 16, 2304));
    EXPECT_EQ(StateOf(*Engine), "Error");
    EXPECT_EQ(Engine->StateHistory().size(), states);
}

// Each refusal of the open ends in psError without buffers; the close that
// the core then posts ends in psIdle.
struct OpenFailure {
    const char* Label;
    const char* Device;
    int32_t Channels;
    int32_t Bits;
    TFakeCall Fail;
    MMRESULT Result;
    bool OpenCalled;
};
void PrintTo(const OpenFailure& failure, std::ostream* out) {
    *out << failure.Label;
}

class OpenFailures : public DeviceCycle, public testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, EndInErrorWithoutBuffers) {
    const OpenFailure failure = GetParam();
    // The name lookup queries every device first (six of them).
    if (failure.Fail == TFakeCall::GetDevCaps)
        Fake.Fail(TFakeCall::GetDevCaps, MMSYSERR_NOERROR, 6);
    Fake.Fail(failure.Fail, failure.Result);
    ASSERT_TRUE(Engine->RequestOpen(failure.Device, TestRate, failure.Channels, failure.Bits, 0));
    ASSERT_TRUE(WaitForState(*Engine, psError));
    EXPECT_EQ(Fake.Calls(TFakeCall::Open) > 0, failure.OpenCalled);
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
    EXPECT_EQ(Engine->DeviceHandle, nullptr);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    // One attempt per idle cycle: the next one works.
    OpenDevice();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFailures,
    testing::Values(
        OpenFailure{"NoName", "", 2, 16, TFakeCall::Open, 0, false},
        OpenFailure{"UnknownName", "Nowhere", 2, 16, TFakeCall::Open, 0, false},
        OpenFailure{"CapsQuery", "Speakers", 2, 16, TFakeCall::GetDevCaps, MMSYSERR_NODRIVER,
                    false},
        OpenFailure{"SixChannelsOnTwo", "Speakers", 6, 16, TFakeCall::Open, 0, false},
        OpenFailure{"StereoOnMono", "Mono", 2, 16, TFakeCall::Open, 0, false},
        OpenFailure{"FourBitsNoFrame", "Speakers", 2, 4, TFakeCall::Open, 0, false},
        OpenFailure{"NoChannels", "Speakers", 0, 16, TFakeCall::Open, 0, false},
        OpenFailure{"OpenBadFormat", "Speakers", 2, 16, TFakeCall::Open, WAVERR_BADFORMAT, true},
        OpenFailure{"OpenAllocated", "Speakers", 2, 16, TFakeCall::Open, MMSYSERR_ALLOCATED, true}),
    [](const testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.Label); });

TEST_F(DeviceCycle, PauseIsIgnoredWhilePreBufferingAndWorksWhilePlaying) {
    OpenDevice();
    Engine->PostPause();
    const std::vector<char> first = StartPlaying(2, 1);
    EXPECT_EQ(Fake.Calls(TFakeCall::Pause), 1) << "only the hold while the start is written";
    Engine->PostPause();
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    // Queued during the pause: written to the paused device, played after it.
    const std::vector<char> second = Pattern(2 * TestBlock, 2);
    Queue(second);
    ASSERT_TRUE(WaitToWrite(2));
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_EQ(Fake.Calls(TFakeCall::Restart), 2);
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 4; }));
    while (Fake.CompleteOne()) {
    }
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    std::vector<char> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Fake.Played(), expected);
}

TEST_F(DeviceCycle, TheStartIsWrittenToAHeldDeviceAndReleasedInOneGo) {
    OpenDevice();
    StartPlaying(5);
    EXPECT_EQ(Fake.WritesWhilePaused(), 5);
    EXPECT_EQ(Fake.Calls(TFakeCall::Pause), 1);
    EXPECT_EQ(Fake.Calls(TFakeCall::Restart), 1);
    EXPECT_FALSE(Fake.IsPaused());
    // Ran dry, then one buffer: nothing to gather, written straight away.
    while (Fake.CompleteOne()) {
    }
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    Queue(Pattern(TestBlock, 2));
    ASSERT_TRUE(WaitToWrite(1));
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_EQ(Fake.Calls(TFakeCall::Pause), 1);
    EXPECT_EQ(Fake.WritesWhilePaused(), 5);
}

TEST_F(DeviceCycle, AHeldStartThatCannotBeReleasedIsAnError) {
    OpenDevice();
    Queue(Pattern(3 * TestBlock, 1));
    ASSERT_TRUE(WaitToWrite(3));
    Fake.Fail(TFakeCall::Restart, MMSYSERR_ERROR);
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psError));
    EXPECT_EQ(Engine->InQueueCount, 3);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
}

TEST_F(DeviceCycle, AStartOnADeviceThatCannotPauseIsWrittenAsItComes) {
    OpenDevice();
    Fake.Fail(TFakeCall::Pause, MMSYSERR_NOTSUPPORTED);
    StartPlaying(3);
    EXPECT_EQ(Fake.WritesWhilePaused(), 0);
    EXPECT_EQ(Fake.Calls(TFakeCall::Restart), 0);
}

TEST_F(DeviceCycle, PauseAndRestartThatTheDeviceDoesNotSupportAreNotErrors) {
    OpenDevice();
    StartPlaying(2);
    Fake.Fail(TFakeCall::Pause, MMSYSERR_NOTSUPPORTED);
    Engine->PostPause();
    ASSERT_TRUE(Until([&] { return Fake.Calls(TFakeCall::Pause) == 2; }));
    Engine->PostPause(); // a barrier: handled after the first one
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    EXPECT_EQ(Fake.Calls(TFakeCall::Pause), 3);
    // A device that accepted the pause and then refuses the restart, whatever
    // it answers, stays paused and would never hand a buffer back: the
    // engine reports it, and the core reopens the device.
    Fake.Fail(TFakeCall::Restart, MMSYSERR_NOTSUPPORTED);
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psError));
}

TEST_F(DeviceCycle, PauseOrRestartFailingOtherwiseIsAnError) {
    OpenDevice();
    StartPlaying(2);
    Fake.Fail(TFakeCall::Pause, MMSYSERR_ERROR);
    Engine->PostPause();
    ASSERT_TRUE(WaitForState(*Engine, psError));
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    OpenDevice();
    StartPlaying(2);
    Engine->PostPause();
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    Fake.Fail(TFakeCall::Restart, MMSYSERR_INVALHANDLE);
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psError));
}

TEST_F(DeviceCycle, CloseRetriesWhileTheDeviceStillPlays) {
    OpenDevice();
    StartPlaying(2);
    Fake.Fail(TFakeCall::Close, WAVERR_STILLPLAYING, 2);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Fake.Calls(TFakeCall::Close), 3);
    EXPECT_FALSE(Fake.IsOpen());
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
}

TEST_F(DeviceCycle, CloseFailingOtherwiseDropsTheHandleAndStillGoesIdle) {
    OpenDevice();
    StartPlaying(2);
    Fake.Fail(TFakeCall::Close, MMSYSERR_ERROR);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Fake.Calls(TFakeCall::Close), 1);
    EXPECT_EQ(Engine->DeviceHandle, nullptr);
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
    // The fake still holds the device the engine gave up; close it for TearDown.
    Fake.Close(Fake.OpenHandle());
}

TEST_F(DeviceCycle, ASecondCloseDuringACloseOnlyGoesIdleOnce) {
    OpenDevice();
    StartPlaying(2);
    // The second close is posted from inside the first one's device reset,
    // so the first one's message draining handles it.
    Fake.OnCall(TFakeCall::Reset, [&] { Engine->PostClose(); });
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Fake.Calls(TFakeCall::Reset), 1);
    EXPECT_EQ(Fake.Calls(TFakeCall::Close), 1);
    EXPECT_FALSE(Fake.IsOpen());
    EXPECT_TRUE(InOrder(StateNames(*Engine), {"Reset", "Close", "Idle"}));
}

// Volume and pan as they reach the device: left in the low word, right in the high.
struct VolumeCase {
    int32_t Volume;
    int32_t Pan;
    const char* Device;
    WORD Left;
    WORD Right;
};
void PrintTo(const VolumeCase& c, std::ostream* out) {
    *out << "volume " << c.Volume << " pan " << c.Pan << " on " << c.Device;
}

class VolumeWords : public DeviceCycle, public testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeWords, ReachTheDevice) {
    const VolumeCase c = GetParam();
    OpenDevice(TestBlock, c.Device);
    PostMessageA(Engine->UtilWindow, PTM_SETVOLUMEPAN, WPARAM(c.Volume), LPARAM(c.Pan));
    ASSERT_TRUE(Until([&] { return Fake.Volumes().size() == 2; }));
    const DWORD word = Fake.Volumes().back();
    EXPECT_EQ(LOWORD(word), c.Left);
    EXPECT_EQ(HIWORD(word), c.Right);
}

INSTANTIATE_TEST_SUITE_P(Table, VolumeWords,
                         testing::Values(VolumeCase{255, 0, "Speakers", 0xFFFF, 0xFFFF},
                                         VolumeCase{255, 127, "Speakers", 0, 0xFFFF},
                                         VolumeCase{255, -127, "Speakers", 0xFFFF, 0},
                                         VolumeCase{255, 127, "Fixed", 0xFFFF, 0xFFFF},
                                         VolumeCase{128, -64, "Speakers", 0x8080, 16318},
                                         VolumeCase{128, 0, "Speakers", 0x8080, 0x8080},
                                         VolumeCase{1, 0, "Speakers", 257, 257},
                                         VolumeCase{0, 0, "Speakers", 0, 0},
                                         VolumeCase{300, 0, "Speakers", 0xFFFF, 0xFFFF},
                                         VolumeCase{-20, 0, "Speakers", 0, 0},
                                         VolumeCase{255, 300, "Speakers", 0, 0xFFFF}));

TEST_F(DeviceCycle, EveryVolumeFrom0To255GivesVolumeTimes257) {
    OpenDevice(TestBlock, "Fixed");
    for (int32_t volume = 0; volume <= 255; ++volume) {
        Engine->PostVolume(volume);
        ASSERT_TRUE(Until([&] { return Fake.Volumes().size() == size_t(volume) + 2; }));
        ASSERT_EQ(LOWORD(Fake.Volumes().back()), volume * 257) << "volume " << volume;
    }
}

TEST_F(DeviceCycle, PanIsClampedAndOutOfRangeVolumesAreIgnored) {
    Engine->PostPan(300);
    Engine->PostVolume(400);
    Engine->PostVolume(-333);
    OpenDevice(); // volume and pan are applied to every device that opens
    EXPECT_EQ(Engine->Pan, 127);
    EXPECT_EQ(Engine->Volume, 255);
    EXPECT_EQ(Fake.Volumes(), std::vector<DWORD>{0xFFFF0000u});
    Engine->PostVolume(332);
    Engine->PostPan(-500);
    ASSERT_TRUE(Until([&] { return Fake.Volumes().size() == 3; }));
    EXPECT_EQ(Engine->Pan, -127);
    EXPECT_EQ(Engine->Volume, 332);
    EXPECT_EQ(Fake.Volumes().back(), 0x0000FFFFu);
}

TEST_F(DeviceCycle, ADeviceWithoutVolumeControlIsNeverSetAndStaysOpen) {
    OpenDevice(TestBlock, "Mute");
    Engine->PostVolume(10);
    Engine->PostPan(10);
    PostMessageA(Engine->UtilWindow, PTM_GETRATE, 0, 0); // a barrier after the two
    ASSERT_TRUE(Until([&] { return Engine->Pan == 10; }));
    EXPECT_EQ(Fake.Calls(TFakeCall::SetVolume), 0);
    EXPECT_EQ(StateOf(*Engine), "Open");
}

} // namespace
