// The engine against devices that fail the way unplugged or broken drivers
// do, against block sizes no sane player sends, and against close, open and
// exit requests that cross each other.
#include <thread>
#include <tuple>

#include "tests/engine/EngineTestSupport.h"

namespace {

class DeviceFault : public EngineTest {
protected:
    // Ends an engine whose device was abandoned: it stays open, so the
    // fixture's own check of a clean end does not apply.
    void EndWithAbandonedDevice() {
        Engine->Quit();
        Engine->WaitFor();
        Engine.reset();
    }
};

// A device that will not reset or close may still write into every buffer it
// holds: none of them may be freed, whatever the close answers. Either it
// holds what it was playing, or it ran dry and then took the silence played
// behind the last buffer and never finished it: that wait takes the close's
// time, yet the device is still tried before the close gives up.
class CloseFault : public DeviceFault,
                   public testing::WithParamInterface<std::tuple<MMRESULT, bool>> {};

TEST_P(CloseFault, NeverFreesWhatTheDeviceHolds) {
    const auto [answer, ranDry] = GetParam();
    OpenDevice();
    StartPlaying(3);
    if (ranDry) {
        ASSERT_TRUE(Until([&] { return !Fake.CompleteOne(); }));
        ASSERT_TRUE(WaitForState(*Engine, psOpen));
    }
    const uint32_t cutShort = Engine->Stats.PlayOutsCutShort;
    Fake.Fail(TFakeCall::Reset, MMSYSERR_NODRIVER, 1000);
    if (answer != WAVERR_STILLPLAYING) // the fake answers that by itself
        Fake.Fail(TFakeCall::Close, answer);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    const size_t held = ranDry ? 1 : 3;
    EXPECT_EQ(Fake.InDevice(), held);
    EXPECT_GE(Engine->Stats.BuffersAllocated - Engine->Stats.BuffersFreed, held)
        << "buffers still in the device were freed";
    EXPECT_EQ(Engine->Stats.BuffersAbandoned, held);
    EXPECT_EQ(Engine->Stats.PlayOutsCutShort - cutShort, ranDry ? 1u : 0u);
    EXPECT_GE(Fake.Calls(TFakeCall::Close), 1) << "the close gave up without trying the device";
    EndWithAbandonedDevice();
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseFault,
                         testing::Combine(testing::Values(WAVERR_STILLPLAYING, MMSYSERR_NODRIVER),
                                          testing::Bool()),
                         [](const auto& info) {
                             return MmResultName(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_AfterRunningDry" : "");
                         });

// A reset refused once is tried again while the close waits for the buffers:
// the device gives them back and closes long before the close would give up.
TEST_F(DeviceFault, ARefusedResetIsTriedAgainBeforeTheCloseGivesUp) {
    OpenDevice();
    StartPlaying(3);
    Fake.Fail(TFakeCall::Reset, MMSYSERR_ERROR, 2);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Fake.Calls(TFakeCall::Reset), 3);
    EXPECT_EQ(Engine->Stats.BuffersAbandoned, 0u) << "the close gave up";
    EXPECT_EQ(Fake.InDevice(), 0u);
    EXPECT_FALSE(Fake.IsOpen());
}

// The device empties while every write of a pass fails: no completion will
// ever come, so the engine falls back to open and the next restart plays.
TEST_F(DeviceFault, ADeviceLeftEmptyByFailedWritesIsStartedAgain) {
    OpenDevice();
    StartPlaying(2);
    Queue(Pattern(2 * TestBlock, 5));
    ASSERT_TRUE(WaitToWrite(2));
    const int writes = Fake.Calls(TFakeCall::Write);
    Fake.Fail(TFakeCall::Write, WAVERR_UNPREPARED, 4);
    // Each completion makes a pass over the two waiting buffers; both fail.
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until(
        [&] { return Fake.Calls(TFakeCall::Write) == writes + 2 && Engine->ToWriteCount == 2; }));
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Fake.Calls(TFakeCall::Write) == writes + 4; }));
    ASSERT_TRUE(WaitForState(*Engine, psOpen)) << "silence for good in " << StateOf(*Engine);
    ASSERT_TRUE(WaitToWrite(2)) << "the refused buffers wait to be written again";
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_TRUE(Until([&] { return Fake.InDevice() == 2; }));
}

// A start on a paused device whose restart the driver refuses leaves it
// paused: the engine reports an error, which makes the core reopen it.
TEST_F(DeviceFault, AStartWhoseRestartIsRefusedIsAnError) {
    OpenDevice();
    Queue(Pattern(3 * TestBlock, 1));
    ASSERT_TRUE(WaitToWrite(3));
    Fake.Fail(TFakeCall::Restart, MMSYSERR_NOTSUPPORTED);
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psError));
    EXPECT_TRUE(Fake.IsPaused());
}

// Buffers are whole frames and whole blocks, at least 50 ms, at most a
// second; a size whose header arithmetic would overflow is never allocated.
TEST_F(DeviceFault, BufferSizesHaveAFloorACeilingAndWholeFrames) {
    const struct {
        int32_t Rate, Bits;
        int32_t BlockBytes;
        uint32_t BuffSize;
    } cases[] = {
        {44100, 16, 64, 8832},         // 138 blocks of 16 frames
        {44100, 16, 1, 88200},         // no whole frame: half a second
        {11025, 24, 0, 5512 * 6},      // half a second in whole frames
        {44100, 16, 10000000, 176400}, // the ceiling
        {44100, 16, -1, 176400},       // 4 GB as the header sees it
        {44100, 16, 2304, 9216},       // the player's usual block, four to a buffer
        {44100, 16, 17640, 17640},     // a block of 100 ms is a buffer of its own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Rate) + " Hz " + std::to_string(c.Bits) + " bits, block " +
                     std::to_string(c.BlockBytes));
        ASSERT_TRUE(Engine->RequestOpen("Speakers", c.Rate, 2, c.Bits, c.BlockBytes));
        ASSERT_TRUE(WaitForState(*Engine, psOpen)) << StateOf(*Engine);
        EXPECT_EQ(Engine->BuffSize, c.BuffSize);
        EXPECT_EQ(Engine->BuffSize % Engine->BlockAlign, 0u);
        Engine->PostClose();
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
    }
    // A tiny first block does not cut the later 0.45 s into hundreds of
    // pieces: it comes as 8 full buffers and the one being gathered.
    OpenDevice(64);
    Queue(Pattern(79380, 1));
    EXPECT_TRUE(WaitToWrite(8));
    EXPECT_EQ(Engine->GetTotalBytes(), 79380);
}

// A rate whose byte rate does not fit the format's 32-bit field is refused.
TEST_F(DeviceFault, AFormatWhoseByteRateOverflowsIsRefused) {
    ASSERT_TRUE(Engine->RequestOpen("Speakers", 0x7FFFFFFF, 2, 32, TestBlock));
    ASSERT_TRUE(WaitForState(*Engine, psError));
    EXPECT_FALSE(Fake.IsOpen());
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
}

// An open requested while the engine is exiting (a Write that Quit released)
// is refused: nothing would close the device afterwards.
TEST_F(DeviceFault, AnOpenRequestedDuringTheExitIsNotCarriedOut) {
    Engine->Quit();
    Engine->RequestOpen("Speakers", TestRate, TestChannels, TestBits, TestBlock);
    Engine->WaitFor();
    EXPECT_FALSE(Fake.IsOpen()) << "an open device outlived the engine";
    EXPECT_EQ(Fake.Calls(TFakeCall::Open), 0);
    Engine.reset();
}

// Two closes in a row (a stop, then a format change): an open requested the
// moment the engine is idle must survive whatever the second close left
// queued, its go-idle or the close request itself.
TEST_F(DeviceFault, AStaleGoIdleLeavesANewOpenAlone) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        OpenDevice();
        Engine->PostClose();
        Engine->PostClose();
        while (Engine->State != psIdle) {
        }
        ASSERT_TRUE(Engine->RequestOpen("Speakers", TestRate, TestChannels, TestBits, TestBlock));
        ASSERT_TRUE(Until([&] {
            const uint8_t state = Engine->State;
            return state == psOpen || state == psError || state == psIdle;
        }));
        EXPECT_EQ(StateOf(*Engine), "Open");
        EXPECT_TRUE(Fake.IsOpen());
        EXPECT_EQ(Engine->GetDeviceName(), "Speakers");
        Engine->PostClose();
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
    }
}

} // namespace
