// The playback clock: pacing, the position answers and the schedule's arithmetic.
#include <future>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "core/SampleHandOff.h"

using namespace qv;
using qvtest::CoreTest;

namespace {

constexpr int BlockFrames = 576;
constexpr int BlockBytes = BlockFrames * 4; // 16-bit stereo
const std::vector<char> Block(BlockBytes, 0);

uint32_t FakeTicks = 0;
uint32_t FakeTick() {
    return FakeTicks;
}

double FakeWall = 45000.0;
double FakeNow() {
    return FakeWall;
}

constexpr double Ms = 1.0 / 86400000.0; // one millisecond as a date-time

} // namespace

class ClockTest : public CoreTest {};

TEST_F(ClockTest, PacingNeverRunsFasterThanTheAudio) {
    CreatePaceTimer();
    Open(44100, 2, 16, 0, 0);
    const double start = qvtest::MonotonicMs();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(Write(Block.data(), BlockBytes), 0);
    while (CanWrite() == 0)
        Sleep(1);
    const double elapsed = qvtest::MonotonicMs() - start;
    const double audio = 10.0 * BlockFrames * 1000.0 / 44100.0;
    // The clock reads local time in whole milliseconds: allow that much.
    EXPECT_GE(elapsed, audio - 1.5) << "10 blocks of " << audio << " ms took " << elapsed;
    EXPECT_EQ(Clock.FramesScheduled, 10 * BlockFrames);
}

TEST_F(ClockTest, QuitReleasesAWriteBlockedOnTheTimer) {
    CreatePaceTimer();
    Open(44100, 2, 16, 0, 0);
    Clock.NextDue = SystemNow() + 60.0 / SecondsPerDay;
    auto write = std::async(std::launch::async, [] { return Write(Block.data(), BlockBytes); });
    ASSERT_EQ(write.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "Write did not wait for its due time";
    Quit();
    ASSERT_EQ(write.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(write.get(), 0);
    EXPECT_EQ(Clock.PaceTimer, nullptr);
    EXPECT_EQ(Clock.BytesWritten, BlockBytes) << "the released Write completes its block";
}

TEST_F(ClockTest, WallClockJumpsMoveTheScheduleInsteadOfTheWait) {
    ClockSource.Now = qvtest::OffsetNow;
    CreatePaceTimer();
    Open(44100, 2, 16, 0, 0);
    ASSERT_EQ(Write(Block.data(), BlockBytes), 0); // starts the schedule

    qvtest::WallOffsetDays = -1.0 / 24.0; // the clock is set back an hour
    auto write = std::async(std::launch::async, [] { return Write(Block.data(), BlockBytes); });
    if (write.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        Quit(); // release it, or the test would hang for the hour
        FAIL() << "Write waited for the clock change";
    }
    EXPECT_LT(Clock.NextDue - qvtest::OffsetNow(), 1.0 / SecondsPerDay);

    qvtest::WallOffsetDays = 1.0 / 24.0; // and an hour forward: no rush either
    const double jumped = qvtest::OffsetNow();
    ASSERT_EQ(Write(Block.data(), BlockBytes), 0);
    // Read before the Write, so that a busy machine cannot make it fail: an
    // unguarded schedule would have been due an hour before.
    EXPECT_GT(Clock.NextDue, jumped) << "the next block is not due yet";
}

TEST_F(ClockTest, OutputTimeRunsOnTicksAndFreezesWhilePaused) {
    ClockSource.Tick = FakeTick;
    FakeTicks = 1000;
    Open(44100, 2, 16, 0, 0);
    FakeTicks = 1500;
    EXPECT_EQ(GetOutputTime(), 500);

    EXPECT_EQ(Pause(1), 0);
    FakeTicks = 4000;
    EXPECT_EQ(GetOutputTime(), 500);
    EXPECT_EQ(GetOutputTime(), 500);
    EXPECT_EQ(CanWrite(), 0);

    EXPECT_EQ(Pause(0), 1);
    FakeTicks = 4200;
    EXPECT_EQ(GetOutputTime(), 700);

    Flush(30000);
    FakeTicks = 4300;
    EXPECT_EQ(GetOutputTime(), 30100);

    // The 32-bit tick counter wraps after 49.7 days.
    FakeTicks = 0xFFFFFF00u;
    Flush(0);
    FakeTicks = 0x100;
    EXPECT_EQ(GetOutputTime(), 0x200);
}

TEST_F(ClockTest, PausingClearsTheScheduleAndTheWrittenBytes) {
    Open(44100, 2, 16, 0, 0);
    Write(Block.data(), BlockBytes);
    ASSERT_NE(Clock.NextDue, 0.0);
    Pause(1);
    EXPECT_EQ(Clock.NextDue, 0.0);
    EXPECT_EQ(Clock.FramesScheduled, 0);
    EXPECT_EQ(Clock.BytesWritten, 0);
    EXPECT_EQ(Pause(1), 1) << "pausing again changes nothing";
}

// Pacing after an unpause counts from the unpause, not from the decoder's
// next Write, and keeps the wait the next block had left at the pause. Else
// every pause would change what the device holds ahead, for good: less by
// the poll of a decoder that polls CanWrite, more by the wait left.
TEST_F(ClockTest, PacingAfterAnUnpauseCountsFromTheUnpause) {
    ClockSource.Now = qvtest::OffsetNow;
    Open(44100, 2, 16, 0, 0);
    Write(Block.data(), BlockBytes); // the next block is due a block from now
    qvtest::WallOffsetDays += 5 * Ms;
    Pause(1);
    qvtest::WallOffsetDays += 2000 * Ms;
    Pause(0);
    const double unpaused = qvtest::OffsetNow();
    const double block = BlockFrames / 44100.0;
    const double tolerance = 0.002; // the wall clock reads in milliseconds
    EXPECT_NEAR((Clock.NextDue - unpaused) * SecondsPerDay, block - 0.005, tolerance)
        << "the next block still waits what it had left to wait at the pause";
    qvtest::WallOffsetDays += 20 * Ms; // the decoder's next poll
    Write(Block.data(), BlockBytes);
    EXPECT_NEAR((Clock.NextDue - unpaused) * SecondsPerDay, 2 * block - 0.005, tolerance)
        << "counted from the unpause, not from the decoder's Write";
}

TEST_F(ClockTest, WrittenTimeCountsBytesAtTheOpenFormat) {
    EXPECT_EQ(GetWrittenTime(), 0) << "before any Open";
    Clock.BytesWritten = 1234;
    EXPECT_EQ(GetWrittenTime(), 1234) << "no format: the byte count itself";

    Open(44100, 2, 16, 0, 0);
    std::vector<char> second(176400, 0);
    Write(second.data(), static_cast<int>(second.size()));
    EXPECT_EQ(GetWrittenTime(), 1000);
    Flush(5000);
    Write(second.data(), static_cast<int>(second.size()));
    EXPECT_EQ(GetWrittenTime(), 6000);

    Open(8000, 1, 8, 0, 0);
    Write(second.data(), 12000);
    EXPECT_EQ(GetWrittenTime(), 1500);

    // Depths below 8 bits take a byte per sample instead of dividing by zero.
    Open(8000, 1, 4, 0, 0);
    Write(second.data(), 8000);
    EXPECT_EQ(GetWrittenTime(), 1000);
}

TEST_F(ClockTest, WriteOfNothingReturnsOneAndChangesNothing) {
    Open(44100, 2, 16, 0, 0);
    EXPECT_EQ(Write(Block.data(), 0), 1);
    EXPECT_EQ(Write(Block.data(), -5), 1);
    EXPECT_EQ(Clock.BytesWritten, 0);
    EXPECT_EQ(Clock.NextDue, 0.0);
}

TEST_F(ClockTest, ANewRateKeepsTheScheduledSeconds) {
    Open(44100, 2, 16, 0, 0);
    std::vector<char> second(176400, 0);
    Write(second.data(), static_cast<int>(second.size()));
    ASSERT_EQ(Clock.FramesScheduled, 44100);
    const double due = Clock.NextDue;
    Open(48000, 2, 16, 0, 0);
    EXPECT_EQ(Clock.FramesScheduled, 48000);
    EXPECT_EQ(Clock.NextDue, due) << "Open does not reset a running schedule";
    EXPECT_EQ(Clock.OutputActive, 1);
    Open(22050, 2, 16, 0, 0);
    EXPECT_EQ(Clock.FramesScheduled, 22050);
}

TEST_F(ClockTest, CanWriteGrantsRoomOnlyOnceTheBlockIsDue) {
    ClockSource.Now = FakeNow;
    FakeWall = 45000.0;
    Open(44100, 2, 16, 0, 0);
    EXPECT_EQ(CanWrite(), 0x10000) << "no schedule yet";
    Write(Block.data(), BlockBytes);
    EXPECT_EQ(CanWrite(), 0);
    FakeWall += 13.0 * Ms;
    EXPECT_EQ(CanWrite(), 0) << "576 frames last 13.06 ms";
    FakeWall += 1.0 * Ms;
    EXPECT_EQ(CanWrite(), 0x10000);
}

TEST_F(ClockTest, FudgeFactorsAddFramesWithTruncation) {
    Open(44100, 2, 16, 0, 0);
    SetPlaybackFudgeFactor(1.0);
    AdvanceSchedule(BlockBytes, 16, 2, 44100);
    EXPECT_EQ(GetLPFFTS(), 76.0);
    EXPECT_EQ(Clock.FramesScheduled, 652);

    SetPlaybackFudgeFactor(0.01); // 0.76 of a frame: lost
    AdvanceSchedule(BlockBytes, 16, 2, 44100);
    EXPECT_EQ(Clock.FramesScheduled, 652 + 576);

    SetPlaybackFudgeFactor(-0.01); // removes one whole frame
    AdvanceSchedule(BlockBytes, 16, 2, 44100);
    EXPECT_EQ(Clock.FramesScheduled, 652 + 576 + 575);

    const double seconds = (Clock.NextDue - Clock.ScheduleStart) * SecondsPerDay;
    EXPECT_NEAR(seconds, (652 + 576 + 575) / 44100.0, 1e-6);

    SetSongEndFudgeFactor(0.01);
    const int64_t before = Clock.FramesScheduled;
    Close(); // no player: not stopping, still its output plug-in
    EXPECT_EQ(GetLSEFFTS(), 441.0);
    EXPECT_EQ(Clock.FramesScheduled, before + 441);
    EXPECT_NE(Clock.NextDue, 0.0) << "the schedule runs on into the next track";
}

TEST_F(ClockTest, FramesCountBytesPerSampleByDepth) {
    Open(44100, 2, 24, 0, 0);
    EXPECT_EQ(AdvanceSchedule(576 * 6, 24, 2, 44100), 576);
    EXPECT_EQ(AdvanceSchedule(576 * 4, 12, 2, 44100), 576) << "odd depths count as 16 bits";
    EXPECT_EQ(AdvanceSchedule(576 * 8, 32, 2, 44100), 576);
    EXPECT_EQ(AdvanceSchedule(576, 8, 1, 44100), 576);
}

TEST_F(ClockTest, BlocksWithoutAWholeFrameOrFormatDivideByNothing) {
    SetPlaybackFudgeFactor(1.0);
    Open(44100, 2, 16, 0, 0);
    EXPECT_EQ(Write(Block.data(), 3), 0) << "shorter than one frame";
    EXPECT_EQ(Clock.FramesScheduled, 0);
    EXPECT_EQ(GetLPFFTS(), 0.0);
    EXPECT_EQ(AdvanceSchedule(BlockBytes, 16, 0, 44100), 0) << "no channels";
    EXPECT_EQ(AdvanceSchedule(BlockBytes, 16, 2, 0), 576) << "no rate";
}

TEST_F(ClockTest, PlaybackOperationsBeforeInitDoNotFail) {
    ASSERT_EQ(WaveOutPlayThread, nullptr);
    ASSERT_EQ(WinAmpAPIMan, nullptr);
    EXPECT_EQ(Open(44100, 2, 16, 0, 0), 0x10000);
    SetVolume(300); // out of range, and no player to ask
    SetPan(-300);
    SetVolume(128);
    EXPECT_EQ(Pause(1), 0);
    Close();
    EXPECT_EQ(IsPlaying(), 0);
    EXPECT_EQ(Write(Block.data(), BlockBytes), 0) << "no timer: no pacing, no failure";
}

TEST_F(ClockTest, ChoosingADeviceRequestsAReopenOnlyWhenItChanges) {
    SetOutDevice("Speakers");
    EXPECT_EQ(Clock.ReopenRequested, 1);
    EXPECT_EQ(Clock.DeviceNamed, 1);
    EXPECT_EQ(GetWantedDevice(), "Speakers");
    Clock.ReopenRequested = 0;
    SetOutDevice("Speakers");
    EXPECT_EQ(Clock.ReopenRequested, 0);
    SetOutDevice("speakers");
    EXPECT_EQ(Clock.ReopenRequested, 1) << "names compare exactly";
    SetOutDevice("");
    EXPECT_EQ(Clock.DeviceNamed, 0);
    Clock.ReopenRequested = 0;
    RequestReopen();
    EXPECT_EQ(Clock.ReopenRequested, 1);
}
