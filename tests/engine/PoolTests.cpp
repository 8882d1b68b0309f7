// The buffer pool: sizing, splitting, the way into and out of the device, and
// what each failing device call does to a buffer.
#include <algorithm>

#include "tests/engine/EngineTestSupport.h"

namespace {

class BufferPool : public EngineTest {};

TEST_F(BufferPool, BufferSizeFollowsTheOpenRequestInWholeFrames) {
    const struct {
        uint32_t BlockBytes;
        uint32_t BuffSize;
    } cases[] = {{2304, 9216}, {2305, 9216}, {9216, 9216}, {3, 88200}, {0, 88200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.BlockBytes);
        OpenDevice(c.BlockBytes);
        EXPECT_EQ(Engine->BuffSize, c.BuffSize);
        EXPECT_EQ(Engine->BlockAlign, 4u);
        EXPECT_EQ(Engine->UnusedCount, 25);
        Engine->PostClose();
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
        EXPECT_EQ(Engine->BuffSize, 0u);
        EXPECT_EQ(Engine->UnusedCount, 0);
    }
    const WAVEFORMATEX format = Fake.LastFormat();
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.wBitsPerSample, 16);
}

// Blocks are gathered into buffers of BuffSize; only a full buffer goes to
// the engine thread, and a restart takes the one being gathered as it is.
TEST_F(BufferPool, BlocksAreGatheredIntoBuffersOfBuffSize) {
    OpenDevice(TestBlock / 4); // the player's 13 ms blocks: four to a buffer
    ASSERT_EQ(Engine->BuffSize, TestBlock);
    const std::vector<char> data = Pattern(3 * TestBlock + 1, 1);
    const uint32_t quarter = TestBlock / 4;
    for (uint32_t i = 0; i < 3; ++i)
        Engine->QueueData({TestRate, TestChannels, TestBits, quarter, data.data() + i * quarter});
    EXPECT_EQ(Engine->GetTotalBytes(), int32_t(3 * quarter)) << "held while gathered";
    Engine->QueueData(
        {TestRate, TestChannels, TestBits, 2 * TestBlock + quarter + 1, data.data() + 3 * quarter});
    ASSERT_TRUE(WaitToWrite(3));
    EXPECT_EQ(Engine->ToWriteBytes, int32_t(3 * TestBlock));
    EXPECT_EQ(Engine->GetTotalBytes(), int32_t(3 * TestBlock + 1));
    EXPECT_EQ(Engine->UnusedCount, 21);
    Engine->PostRestart();
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 4; }));
    EXPECT_EQ(Engine->InQueueBytes, int32_t(3 * TestBlock + 1));
    ASSERT_TRUE(Until([&] {
        Fake.CompleteOne();
        return Fake.Played().size() == data.size();
    }));
    EXPECT_EQ(Fake.Played(), data) << "in order, nothing lost or doubled";
}

// A device about to run dry takes what is being gathered: the end of a
// stream is not kept back waiting for a buffer to fill.
TEST_F(BufferPool, ADeviceAboutToRunDryTakesTheBufferBeingGathered) {
    OpenDevice();
    const std::vector<char> started = StartPlaying(2);
    const std::vector<char> tail = Pattern(TestBlock / 2, 3);
    Queue(tail);
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 2; })) << "gathered half joins the device";
    EXPECT_EQ(Engine->InQueueBytes, int32_t(TestBlock + tail.size()));
    ASSERT_TRUE(Until([&] {
        Fake.CompleteOne();
        return Fake.Played().size() == started.size() + tail.size();
    }));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), Fake.Played().end() - tail.size()));
}

// 24-bit buffers end on whole groups of four frames (Wine drops the last
// frame of one that ends a frame or two into a group): full buffers are
// sized in groups, one taken unfilled leaves its odd frames to the next, and
// the end of the stream is made up to a group with silence.
TEST_F(BufferPool, TwentyFourBitBuffersEndOnWholeGroupsOfFourFrames) {
    constexpr uint32_t Frame = 6, Group = 4 * Frame;
    ASSERT_TRUE(Engine->RequestOpen("Speakers", TestRate, 2, 24, 4410 * Frame)); // 100 ms blocks
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    EXPECT_EQ(Engine->BuffSize, 4408 * Frame);
    const auto queue = [&](const std::vector<char>& bytes) {
        Engine->QueueData({TestRate, 2, 24, uint32_t(bytes.size()), bytes.data()});
    };
    std::vector<char> wanted = Pattern(Engine->BuffSize + 7 * Frame, 1);
    queue(wanted);
    ASSERT_TRUE(WaitToWrite(1));
    Engine->PostRestart(); // the 7 gathered frames go as 4; 3 stay behind
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 2; }));
    const std::vector<char> more = Pattern(2 * Frame, 2);
    queue(more); // joins the 3: the next buffer about to run dry takes 4, then 1 and silence
    wanted.insert(wanted.end(), more.begin(), more.end());
    wanted.resize(wanted.size() + Group - wanted.size() % Group, 0);
    ASSERT_TRUE(Until([&] {
        Fake.CompleteOne();
        return Fake.Played().size() >= wanted.size() && Fake.InDevice() == 0;
    }));
    EXPECT_EQ(Fake.Played(), wanted) << "in order, nothing lost, silence only at the end";
    const std::vector<DWORD> lengths = Fake.WriteLengths();
    EXPECT_EQ(lengths.size(), 4u);
    for (const DWORD length : lengths)
        EXPECT_EQ(length % Group, 0u) << length;
}

// The device is heard from the moment it began the buffer it plays (where
// the previous one ended, or when it was written to an empty device), on
// into the buffers queued behind it whether or not their messages have come,
// and never past what it holds; paused, it stays where the pause stopped it.
// A message later than the slack times the next buffer from the slack.
TEST_F(BufferPool, TheHeldAheadCountsWhatTheDeviceHasPlayed) {
    static int64_t now = 0;
    Engine->NowNs = [] { return now; };
    OpenDevice();
    const auto nsOf = [](int64_t frames) {
        return (frames * 1000000000LL + TestRate - 1) / TestRate;
    };
    const int32_t frame = 4;
    const int32_t block = TestBlock;
    const int32_t blockFrames = block / frame;
    StartPlaying(3);
    EXPECT_EQ(Engine->GetHeldAheadBytes(), 3 * block);
    now += nsOf(100);
    EXPECT_EQ(Engine->GetHeldAheadBytes(), 3 * block - 100 * frame);
    now += nsOf(blockFrames); // its message is late: the second buffer plays
    EXPECT_EQ(Engine->GetHeldAheadBytes(), 2 * block - 100 * frame);
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Engine->GetTotalBytes() == 2 * block; }));
    EXPECT_EQ(Engine->GetHeldAheadBytes(), 2 * block - 100 * frame)
        << "the next one began where the one before ended, not when it came back";
    now += nsOf(10 * blockFrames);
    EXPECT_EQ(Engine->GetHeldAheadBytes(), 0) << "never past what the device holds";
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Engine->GetTotalBytes() == block; }));
    const int32_t slackFrames = TestRate * 40 / 1000;
    EXPECT_EQ(Engine->GetHeldAheadBytes(), block - slackFrames * frame)
        << "a message long after the end: the last buffer began 40 ms before it";
    Engine->PostPause();
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    EXPECT_EQ(Engine->GetHeldAheadBytes(), block) << "paused: all of it ahead";
    now += nsOf(1000);
    Engine->PostRestart();
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_EQ(Engine->GetHeldAheadBytes(), block - slackFrames * frame);
}

TEST_F(BufferPool, BlocksInAnotherFormatOrWithoutDataAreDropped) {
    OpenDevice();
    const std::vector<char> data = Pattern(TestBlock, 1);
    Engine->QueueData({48000, TestChannels, TestBits, TestBlock, data.data()});
    Engine->QueueData({TestRate, 1, TestBits, TestBlock, data.data()});
    Engine->QueueData({TestRate, TestChannels, 8, TestBlock, data.data()});
    Engine->QueueData({TestRate, TestChannels, TestBits, TestBlock, nullptr});
    Queue(data); // the one that counts, and a barrier for the ones before
    ASSERT_TRUE(WaitToWrite(1));
    EXPECT_EQ(Engine->GetTotalBytes(), int32_t(TestBlock));
}

TEST_F(BufferPool, TheTwentySixthBufferGrowsThePoolByTwentyFive) {
    OpenDevice();
    Queue(Pattern(25 * TestBlock, 1));
    EXPECT_EQ(Engine->UnusedCount, 0);
    Queue(Pattern(TestBlock, 2));
    EXPECT_EQ(Engine->UnusedCount, 24);
    EXPECT_EQ(Engine->Stats.BuffersAllocated, 50u);
    ASSERT_TRUE(WaitToWrite(26));
}

TEST_F(BufferPool, PlayedBytesEqualQueuedBytesAndBuffersAreReused) {
    OpenDevice();
    const std::vector<char> first = StartPlaying(8, 1);
    EXPECT_EQ(Engine->InQueueCount, 8);
    EXPECT_EQ(Engine->InQueueBytes, int32_t(8 * TestBlock));
    // More while playing: written as soon as the device finishes a buffer.
    const std::vector<char> second = Pattern(4 * TestBlock, 2);
    Queue(second);
    ASSERT_TRUE(WaitToWrite(4));
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 11; }));
    while (Fake.CompleteOne()) {
    }
    ASSERT_TRUE(Until([&] { return Engine->InQueueCount == 0 && Engine->UnusedCount == 25; }));
    // Ran dry: back to psOpen, nothing allocated beyond the first pool.
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    EXPECT_EQ(Engine->Stats.DryRuns, 1u);
    EXPECT_EQ(Engine->Stats.BuffersAllocated, 25u);
    std::vector<char> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Fake.Played(), expected);
    EXPECT_EQ(Engine->GetTotalBytes(), 0);
}

TEST_F(BufferPool, WriteAnsweringUnpreparedIsPreparedAgainAndWrittenBehindTheOthers) {
    OpenDevice();
    const std::vector<char> data = Pattern(3 * TestBlock, 1);
    Queue(data);
    ASSERT_TRUE(WaitToWrite(3));
    Fake.Fail(TFakeCall::Write, WAVERR_UNPREPARED);
    Engine->PostRestart();
    ASSERT_TRUE(Until([&] { return Fake.InDevice() == 2 && Engine->ToWriteCount == 1; }));
    EXPECT_EQ(Fake.Calls(TFakeCall::Prepare), 4);
    EXPECT_EQ(StateOf(*Engine), "Playing");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Until([&] { return Fake.InDevice() > 0; }));
        ASSERT_TRUE(Fake.CompleteOne());
    }
    const std::vector<char> played = Fake.Played();
    ASSERT_EQ(played.size(), data.size());
    // Buffers 2 and 3, then buffer 1.
    EXPECT_TRUE(
        std::equal(played.begin(), played.begin() + 2 * TestBlock, data.begin() + TestBlock));
    EXPECT_TRUE(std::equal(played.begin() + 2 * TestBlock, played.end(), data.begin()));
}

// Each failing call of the buffer path sets psError and gives the buffer back.
struct BufferFailure {
    TFakeCall Call;
    MMRESULT Result;
};
void PrintTo(const BufferFailure& failure, std::ostream* out) {
    *out << FakeCallName(failure.Call) << " answering " << MmResultName(failure.Result);
}

class BufferFailures : public EngineTest, public testing::WithParamInterface<BufferFailure> {};

TEST_P(BufferFailures, SetErrorAndReturnTheBufferToThePool) {
    const BufferFailure failure = GetParam();
    OpenDevice();
    if (failure.Call == TFakeCall::Prepare)
        Fake.Fail(failure.Call, failure.Result);
    Queue(Pattern(2 * TestBlock, 1));
    if (failure.Call == TFakeCall::Prepare) {
        ASSERT_TRUE(WaitForState(*Engine, psError));
        ASSERT_TRUE(Until([&] { return Engine->UnusedCount == 24 && Engine->ToWriteCount == 1; }));
    } else {
        ASSERT_TRUE(WaitToWrite(2));
        Fake.Fail(failure.Call, failure.Result);
        Engine->PostRestart();
        if (failure.Call == TFakeCall::Unprepare) {
            ASSERT_TRUE(Until([&] { return Fake.InDevice() == 2; }));
            ASSERT_TRUE(Fake.CompleteOne());
        }
        ASSERT_TRUE(WaitForState(*Engine, psError));
        ASSERT_TRUE(Until([&] { return Engine->UnusedCount == 24 && Engine->InQueueCount == 1; }));
    }
    // The core answers psError with a close, which ends in psIdle with nothing held.
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Engine->UnusedCount, 0);
    EXPECT_EQ(Engine->ToWriteCount, 0);
    EXPECT_EQ(Engine->InQueueCount, 0);
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachCall, BufferFailures,
                         testing::Values(BufferFailure{TFakeCall::Prepare, MMSYSERR_NOMEM},
                                         BufferFailure{TFakeCall::Write, MMSYSERR_ERROR},
                                         BufferFailure{TFakeCall::Write, MMSYSERR_INVALHANDLE},
                                         BufferFailure{TFakeCall::Unprepare, MMSYSERR_ERROR}),
                         [](const testing::TestParamInfo<BufferFailure>& info) {
                             return std::string(FakeCallName(info.param.Call)) + "_" +
                                    MmResultName(info.param.Result);
                         });

TEST_F(BufferPool, UnprepareAnsweringStillPlayingKeepsTheBufferInTheDevice) {
    OpenDevice();
    StartPlaying(2);
    Fake.Fail(TFakeCall::Unprepare, WAVERR_STILLPLAYING);
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Fake.Calls(TFakeCall::Unprepare) == 1; }));
    ASSERT_TRUE(Until([&] { return Engine->InQueueCount == 2; }));
    EXPECT_EQ(Engine->UnusedCount, 23);
    EXPECT_EQ(StateOf(*Engine), "Playing");
    // The device's own later notification brings it back.
    Fake.RepeatLastDone();
    ASSERT_TRUE(Until([&] { return Engine->InQueueCount == 1 && Engine->UnusedCount == 24; }));
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Until([&] { return Engine->InQueueCount == 0 && Engine->UnusedCount == 25; }));
}

TEST_F(BufferPool, FlushReturnsEverythingQueuedButNothingInTheDevice) {
    OpenDevice();
    StartPlaying(2);
    Queue(Pattern(3 * TestBlock, 2));
    ASSERT_TRUE(WaitToWrite(3));
    PostMessageA(Engine->UtilWindow, PTM_FLUSH, 0, 0);
    ASSERT_TRUE(Until([&] { return Engine->ToWriteCount == 0 && Engine->UnusedCount == 23; }));
    EXPECT_EQ(Engine->ToWriteBytes, 0);
    EXPECT_EQ(Engine->InQueueCount, 2);
}

// A seek's discard: everything held for the old place (in the device, queued,
// being gathered) goes back to the pool while the device stays open; a block
// gathered while the discard is under way is the new place's and plays.
TEST_F(BufferPool, DiscardDropsEverythingHeldButWhatComesAfterIt) {
    OpenDevice();
    const std::vector<char> old = StartPlaying(2);
    Queue(Pattern(3 * TestBlock + 4, 2));
    ASSERT_TRUE(WaitToWrite(3));
    ASSERT_TRUE(Fake.CompleteOne()); // heard before the seek
    const std::vector<char> next = Pattern(TestBlock, 3);
    Fake.OnCall(TFakeCall::Reset, [&] { Queue(next); });
    EXPECT_TRUE(Engine->Discard(10000));
    Fake.OnCall(TFakeCall::Reset, nullptr);
    EXPECT_EQ(Fake.InDevice(), 0u);
    EXPECT_TRUE(Fake.IsOpen());
    EXPECT_EQ(StateOf(*Engine), "Open");
    EXPECT_EQ(Engine->GetTotalBytes(), int32_t(TestBlock)) << "only the new place's block";
    Engine->PostRestart();
    ASSERT_TRUE(Until([&] {
        Fake.CompleteOne();
        return Fake.Played().size() == 2 * TestBlock;
    }));
    const std::vector<char> played = Fake.Played();
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + TestBlock, played.begin()));
    EXPECT_TRUE(std::equal(next.begin(), next.end(), played.begin() + TestBlock))
        << "the new place's block follows what had played";
}

TEST_F(BufferPool, CloseWithBuffersInTheDeviceAndQueuedLeavesNothing) {
    OpenDevice();
    StartPlaying(6);
    Queue(Pattern(30 * TestBlock, 2)); // grows the pool
    ASSERT_TRUE(WaitToWrite(30));
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_TRUE(InOrder(StateNames(*Engine), {"Playing", "Reset", "Close", "Idle"}));
    EXPECT_EQ(Engine->UnusedCount, 0);
    EXPECT_EQ(Engine->ToWriteCount, 0);
    EXPECT_EQ(Engine->InQueueCount, 0);
    EXPECT_EQ(Engine->ToWriteBytes, 0);
    EXPECT_EQ(Engine->InQueueBytes, 0);
    EXPECT_EQ(Engine->BuffSize, 0u);
    EXPECT_EQ(Engine->LiveBuffers(), 0u);
    EXPECT_FALSE(Fake.IsOpen());
}

TEST_F(BufferPool, ABlockQueuedWhileTheDeviceClosesGoesWithThePool) {
    OpenDevice();
    // A block that comes in while the device closes has no device to go to:
    // its buffer is freed with the pool, and the close is no failure.
    const std::vector<char> data = Pattern(TestBlock, 1);
    Fake.OnCall(TFakeCall::Close, [&] { Queue(data); });
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_TRUE(InOrder(StateNames(*Engine), {"Reset", "Close", "Idle"}));
    EXPECT_EQ(Engine->GetTotalBytes(), 0);
    EXPECT_TRUE(Until([&] { return Engine->LiveBuffers() == 0; }));
}

TEST_F(BufferPool, ACloseWhileAnotherThreadSplitsBlocksNeverHangsOrLeaks) {
    OpenDevice(64);
    const std::vector<char> big = Pattern(64 * 2000, 3);
    // Buffers of a block that lost the race reach the engine after the close
    // and report psError, which the core answers with a close: so does this.
    const auto reopen = [&] {
        for (int attempt = 0; attempt < 200 && Engine->State != psOpen; ++attempt) {
            if (Engine->State == psIdle)
                Engine->RequestOpen("Speakers", TestRate, TestChannels, TestBits, 64);
            else if (Engine->State == psError)
                Engine->PostClose();
            Engine->WaitForStateChange(100);
        }
        return Engine->State == psOpen;
    };
    for (int round = 0; round < 20; ++round) {
        Engine->PostClose();
        Queue(big); // races with the close on the engine thread
        ASSERT_TRUE(reopen()) << "round " << round << ": " << StateOf(*Engine);
    }
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_TRUE(Until([&] { return Engine->LiveBuffers() == 0; }));
}

} // namespace

// Blocks gathered while the device closes (it keeps saying it still plays)
// are dropped with the pool: nothing is held once idle, and the next pool,
// of a larger size, never fills the old, smaller buffer.
TEST_F(BufferPool, BlocksGatheredWhileTheDeviceClosesGoWithThePool) {
    OpenDevice(TestBlock / 4);
    StartPlaying(2);
    Fake.Fail(TFakeCall::Close, WAVERR_STILLPLAYING, 20);
    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psReset));
    Queue(Pattern(TestBlock / 4, 3));
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Engine->GetTotalBytes(), 0);
    EXPECT_EQ(Engine->LiveBuffers(), 0u);

    OpenDevice(2 * TestBlock);
    const std::vector<char> data = Pattern(2 * TestBlock + 4, 4);
    Queue(data);
    Engine->PostRestart();
    ASSERT_TRUE(Until([&] {
        Fake.CompleteOne();
        return Fake.Played().size() >= data.size();
    }));
    const std::vector<char> played = Fake.Played();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), played.end() - data.size()));
}
