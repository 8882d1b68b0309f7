// The hand-off drives the engine by its state: open on the first block,
// pre-buffer 0.45 s, play, and close on a change of format or device. The
// engine runs for real here, on the fake wave-out device.
#include <functional>

#include <float.h>
#include <thread>

#include "CoreTestSupport.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "core/SampleHandOff.h"
#include "engine/Waveoutplaythreadunit.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/FakeWaveOut.h"
#include "tests/host/HostTestSupport.h"
#include "host/Versionreader.h"
#include "host/WinAmpAPIUnit.h"

using namespace qv;

namespace {

constexpr int32_t Block = 2304; // 576 frames of 16-bit stereo
// Exactly 0.45 s at 44100 Hz, 16-bit stereo.
constexpr int32_t PreBufferBytes = 79380;

class HandOffTest : public qvtest::CoreTest {
protected:
    HandOffTest() : Fake({{"Fake Mapper"}, {"Speakers"}, {"Speakers"}}) {}

    void SetUp() override {
        CoreTest::SetUp();
        Engine = std::make_unique<TWaveOutPlayThread>(Fake);
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
        WaveOutPlayThread = Engine.get();
        SetOutDevice("Speakers");
        Open(44100, 2, 16, 0, 0);
    }
    void TearDown() override {
        WaveOutPlayThread = nullptr;
        Engine->Quit();
        Engine->WaitFor();
        EXPECT_EQ(Engine->LiveBuffers(), 0u);
        Engine.reset();
        CoreTest::TearDown();
    }

    void Hand(int32_t bytes, int32_t rate = 44100, int32_t channels = 2, int32_t bits = 16) {
        const std::vector<char> data = Pattern(static_cast<size_t>(bytes), ++Seed);
        HandOff(data.data(), bytes, bits, channels, rate);
    }
    // Hands blocks over until the engine has the device open.
    void OpenWith(int32_t bytes) {
        Hand(bytes);
        ASSERT_TRUE(WaitForState(*Engine, psOpen)) << StateOf(*Engine);
    }
    bool Holds(int32_t bytes) {
        return Fake.WaitFor([&] { return Engine->GetTotalBytes() == bytes; });
    }
    // Everything posted to the engine so far has been handled.
    bool EngineCaughtUp() {
        const size_t volumes = Fake.Volumes().size();
        Engine->PostVolume(Engine->Volume == 200 ? 201 : 200);
        return Fake.WaitFor([&] { return Fake.Volumes().size() > volumes; });
    }
    // The blocks handed over so far (Hand's patterns), joined.
    std::vector<char> HandedSince(unsigned firstSeed, const std::vector<int32_t>& sizes) const {
        std::vector<char> joined;
        unsigned seed = firstSeed;
        for (const int32_t size : sizes) {
            const std::vector<char> block = Pattern(static_cast<size_t>(size), seed++);
            joined.insert(joined.end(), block.begin(), block.end());
        }
        return joined;
    }
    // Lets the device play everything it is given until `bytes` have played.
    bool PlaysOut(size_t bytes) {
        return Fake.WaitFor([&] {
            Fake.CompleteOne();
            return Fake.Played().size() >= bytes;
        });
    }

    TFakeWaveOut Fake;
    std::unique_ptr<TWaveOutPlayThread> Engine;
    unsigned Seed = 0;
};

TEST_F(HandOffTest, TheFirstBlockOpensTheDeviceAndIsItsFirstToPlay) {
    const double before = SystemNow();
    OpenWith(Block);
    const double after = SystemNow();
    EXPECT_EQ(Fake.LastOpenId(), 0u) << "the list's \"Speakers\" is device 0";
    const WAVEFORMATEX format = Fake.LastFormat();
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(Engine->BuffSize, static_cast<uint32_t>(4 * Block)) << "buffers gather four blocks";
    EXPECT_TRUE(Holds(Block)) << "the opening block is held to be played";
    EXPECT_EQ(Clock.FramesScheduled, 576);
    // The device starts empty: the next block is due once the engine holds
    // the pre-buffer, so the decoder fills it at once.
    const double block = 576 / 44100.0;
    EXPECT_GE((Clock.NextDue - before) * SecondsPerDay, block - PreBufferSeconds - 0.002);
    EXPECT_LE((Clock.NextDue - after) * SecondsPerDay, block - PreBufferSeconds + 0.002);
    EXPECT_EQ(GetDeviceInUse(), "Speakers");
}

TEST_F(HandOffTest, PlayingStartsOnceThePreBufferIsHeld) {
    OpenWith(PreBufferBytes);
    // Exactly 0.45 s held, this block included: the single-precision
    // 0.449999988 stays below the threshold, so the device waits.
    EXPECT_LT(static_cast<double>(HeldSeconds(PreBufferBytes, 4, 44100)), PreBufferSeconds);
    ASSERT_TRUE(EngineCaughtUp());
    EXPECT_EQ(Fake.Calls(TFakeCall::Write), 0);
    EXPECT_EQ(StateOf(*Engine), "Open");

    Hand(Block); // more than 0.45 s: starts with this block
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    ASSERT_TRUE(PlaysOut(PreBufferBytes + Block));
}

// The device takes its time to open: the blocks meanwhile wait in the pool,
// and once they fill the pre-buffer the device starts as soon as it is open,
// with no later block to bring the restart.
TEST_F(HandOffTest, BlocksHandedOverWhileTheDeviceOpensPlayInOrder) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Fake.OnCall(TFakeCall::Open, [&] { WaitForSingleObject(release, 10000); });
    const std::vector<int32_t> sizes = {Block, Block, PreBufferBytes};
    for (const int32_t size : sizes)
        Hand(size);
    EXPECT_EQ(StateOf(*Engine), "Init");
    EXPECT_TRUE(Holds(2 * Block + PreBufferBytes)) << "counted in the held audio";
    SetEvent(release);
    ASSERT_TRUE(PlaysOut(2 * Block + PreBufferBytes));
    EXPECT_EQ(Fake.Played(), HandedSince(1, sizes));
    CloseHandle(release);
}

TEST_F(HandOffTest, ABlockThatFindsACloseUnderWayWaitsForTheNextDevice) {
    OpenWith(Block);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Fake.OnCall(TFakeCall::Close, [&] { WaitForSingleObject(release, 10000); });
    Engine->PostClose(); // a stop, say
    ASSERT_TRUE(WaitForState(*Engine, psReset));
    std::thread later([&] {
        Sleep(50);
        SetEvent(release);
    });
    Hand(Block);
    later.join();
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    EXPECT_EQ(Fake.Calls(TFakeCall::Open), 2);
    EXPECT_TRUE(Holds(Block));
    CloseHandle(release);
}

TEST_F(HandOffTest, ANewDeviceNameMovesPlaybackToThatDevice) {
    OpenWith(Block);
    SetOutDevice("Speakers(2)");
    Hand(Block); // closes, and opens the second "Speakers" with this block
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    EXPECT_TRUE(Holds(Block));
    EXPECT_EQ(Fake.LastOpenId(), 1u);
    EXPECT_EQ(Engine->GetDeviceName(), "Speakers(2)");
    EXPECT_EQ(GetDeviceInUse(), "Speakers(2)");
}

TEST_F(HandOffTest, AFailedOpenIsClosedAndRetriedByLaterBlocks) {
    Fake.Fail(TFakeCall::Open, MMSYSERR_ALLOCATED);
    Hand(Block);
    ASSERT_TRUE(WaitForState(*Engine, psError));
    Hand(Block); // psError: close
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    Hand(Block); // idle again: a new attempt, which the device now allows
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    EXPECT_EQ(Fake.Calls(TFakeCall::Open), 2);
}

TEST_F(HandOffTest, WithoutADeviceTheScheduleRunsAndNothingOpens) {
    SetOutDevice("");
    for (int i = 0; i < 5; ++i)
        Hand(Block);
    EXPECT_EQ(Clock.FramesScheduled, 5 * 576);
    EXPECT_EQ(StateOf(*Engine), "Idle");
    EXPECT_EQ(Fake.Calls(TFakeCall::Open), 0);
}

TEST_F(HandOffTest, OpenKeepsADeviceOfTheSameFormatAndClosesAnyOther) {
    OpenWith(Block);
    EXPECT_EQ(Open(44100, 2, 16, 0, 0), 0x10000);
    EXPECT_EQ(StateOf(*Engine), "Open") << "same format: the device and its audio stay";
    EXPECT_EQ(Open(44100, 1, 16, 0, 0), 0x10000);
    EXPECT_EQ(StateOf(*Engine), "Idle") << "Open returns once the engine is idle";
    EXPECT_FALSE(Fake.IsOpen());
}

// Unpausing resumes the device at once: after a track's last block no
// block would come to resume it, and its end would never be heard.
TEST_F(HandOffTest, PauseHoldsTheDeviceAndTheUnpauseResumesIt) {
    OpenWith(PreBufferBytes);
    ASSERT_TRUE(Holds(PreBufferBytes));
    Hand(PreBufferBytes);
    ASSERT_TRUE(Holds(2 * PreBufferBytes));
    Hand(PreBufferBytes);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));

    const int restarts = Fake.Calls(TFakeCall::Restart); // the engine's own, at the start
    Pause(1);
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    EXPECT_EQ(Clock.NextDue, 0.0);
    Pause(0);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_EQ(Fake.Calls(TFakeCall::Restart), restarts + 1);
    ASSERT_TRUE(PlaysOut(3 * PreBufferBytes)) << "to the last block, with no block after it";
}

// A seek drops what the engine holds for the old position, in the device
// and queued, and keeps the device open for the same format: the sound
// heard next is the target's, and the shown time is the target's.
TEST_F(HandOffTest, ASeekDropsWhatIsHeldAndTheTargetPlaysNext) {
    OpenWith(PreBufferBytes);
    Hand(PreBufferBytes);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    Hand(Block);
    ASSERT_TRUE(Fake.CompleteOne());
    const std::vector<char> heard = Fake.Played();
    const int opens = Fake.Calls(TFakeCall::Open);

    Flush(3000);
    EXPECT_EQ(Engine->GetTotalBytes(), 0);
    EXPECT_EQ(Fake.InDevice(), 0u);
    EXPECT_EQ(StateOf(*Engine), "Open");
    EXPECT_EQ(Clock.NextDue, 0.0) << "the schedule starts afresh with the target";
    EXPECT_EQ(GetOutputTime(), 3000);
    EXPECT_TRUE(Fake.IsOpen());

    const unsigned target = Seed + 1;
    Hand(PreBufferBytes);
    Hand(Block);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    ASSERT_TRUE(PlaysOut(heard.size() + PreBufferBytes + Block));
    std::vector<char> wanted = heard;
    const std::vector<char> after = HandedSince(target, {PreBufferBytes, Block});
    wanted.insert(wanted.end(), after.begin(), after.end());
    EXPECT_EQ(Fake.Played(), wanted);
    EXPECT_EQ(Fake.Calls(TFakeCall::Open), opens) << "the device stayed open";
    EXPECT_TRUE(Fake.WaitFor([&] { return size_t(Engine->UnusedCount) == Engine->LiveBuffers(); }))
        << "every buffer back in the pool";
}

// A seek while paused empties the paused device too and shows the target
// at once; the unpause leaves the schedule to the target's first block.
TEST_F(HandOffTest, ASeekWhilePausedStartsAfreshAtTheUnpause) {
    OpenWith(PreBufferBytes);
    Hand(PreBufferBytes);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    Pause(1);
    ASSERT_TRUE(WaitForState(*Engine, psPaused));
    Flush(1500);
    EXPECT_EQ(GetOutputTime(), 1500);
    EXPECT_EQ(Fake.InDevice(), 0u);
    EXPECT_FALSE(Fake.IsPaused()) << "nothing is left to resume";
    Pause(0);
    EXPECT_EQ(Clock.NextDue, 0.0);
    Hand(PreBufferBytes);
    Hand(Block);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    EXPECT_EQ(GetOutputTime(), 1500) << "nothing of the target heard yet";
}

// A Flush that has nothing of this track to drop changes only the time:
// with nothing held, before the track's first block (a decoder setting its
// time at a track start, while the last track's tail plays), or with no
// device at all.
TEST_F(HandOffTest, AFlushWithNothingOfTheTrackHeldKeepsTheScheduleAndTheDevice) {
    OpenWith(PreBufferBytes);
    Hand(PreBufferBytes);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying));
    const struct {
        const char* Case;
        std::function<void()> Before;
    } cases[] = {
        {"nothing held",
         [&] {
             ASSERT_TRUE(PlaysOut(2 * PreBufferBytes));
             ASSERT_TRUE(Holds(0));
         }},
        {"before the track's first block",
         [&] {
             Hand(PreBufferBytes);
             Hand(Block);
             ASSERT_TRUE(WaitForState(*Engine, psPlaying));
             Open(44100, 2, 16, 0, 0);
         }},
        {"no device",
         [&] {
             SetOutDevice("");
             Hand(Block);
         }},
    };
    for (const auto& c : cases) {
        c.Before();
        const double due = Clock.NextDue;
        const size_t inDevice = Fake.InDevice();
        const int resets = Fake.Calls(TFakeCall::Reset);
        Flush(700);
        EXPECT_EQ(Clock.NextDue, due) << c.Case;
        EXPECT_EQ(Fake.InDevice(), inDevice) << c.Case;
        EXPECT_EQ(Fake.Calls(TFakeCall::Reset), resets) << c.Case;
        EXPECT_GE(GetWrittenTime(), 700) << c.Case;
    }
}

// A change of format plays what the device holds of the old one before the
// device closes, whether Open or a block in the new format brings it.
TEST_F(HandOffTest, AFormatChangePlaysOutTheOldFormatFirst) {
    const struct {
        const char* Trigger;
        std::function<void()> Change;
    } cases[] = {
        {"Open", [] { Open(48000, 2, 16, 0, 0); }},
        {"a block", [this] { Hand(Block, 48000); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Trigger);
        Open(44100, 2, 16, 0, 0);
        const unsigned first = Seed + 1;
        const size_t before = Fake.Played().size();
        OpenWith(Block);
        Hand(Block);
        Hand(Block);
        ASSERT_TRUE(Holds(3 * Block));
        // Less than the pre-buffer: the change itself starts the device.
        std::thread change(c.Change);
        const bool played = PlaysOut(before + 3 * Block);
        change.join();
        ASSERT_TRUE(played);
        const std::vector<char> all = Fake.Played();
        EXPECT_EQ(std::vector<char>(all.begin() + static_cast<ptrdiff_t>(before), all.end()),
                  HandedSince(first, {Block, Block, Block}));
        EXPECT_NE(Engine->SampleRate, 44100) << "closed after playing out";
    }
}

uint32_t FakeTicks = 0;
uint32_t FakeTick() {
    return FakeTicks;
}
int64_t FakeNanoseconds = 0;
int64_t FakeNs() {
    return FakeNanoseconds;
}
constexpr int64_t NsPerMs = 1000000;

// Milliseconds that `bytes` of 16-bit stereo at 44100 Hz last, truncated as
// the core counts them.
int32_t MsOf(int64_t bytes) {
    return static_cast<int32_t>(bytes * 1000 / 4 / 44100);
}

// The output time is the time of the sample heard: the written time (or the
// ticks since Open, while the writes run ahead of them) less what the engine
// holds and the device has not played, timed from when the device began the
// buffer it plays; never negative, never backwards, never past the
// written time; frozen in a pause. The ticks here follow the audio written,
// as the pacing keeps them.
TEST_F(HandOffTest, TheOutputTimeIsTheTimeOfTheSampleHeard) {
    ClockSource.Tick = FakeTick;
    Engine->NowNs = FakeNs;
    FakeTicks = 1000;
    FakeNanoseconds = 0;
    Open(44100, 2, 16, 0, 0);
    const std::vector<char> data = Pattern(Block, 7);
    int64_t written = 0;
    const auto write = [&](int blocks) {
        for (int i = 0; i < blocks; ++i)
            Write(data.data(), Block);
        written += int64_t(blocks) * Block;
    };
    // What is shown once `played` bytes have been heard.
    const auto shownAfter = [&](int64_t played) { return MsOf(written) - MsOf(written - played); };
    write(8); // 104 ms: enough to start with, as two whole buffers, once open
    ASSERT_TRUE(Fake.WaitFor([&] { return Fake.InDevice() == 2; }));
    FakeTicks = 1000 + MsOf(written);
    EXPECT_EQ(GetOutputTime(), 0) << "nothing heard yet";

    write(28); // follows the sound, gathered into whole buffers
    const int32_t buffer = 4 * Block;
    ASSERT_TRUE(Holds(36 * Block));
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Holds(36 * Block - buffer)); // the engine has taken it back
    FakeNanoseconds = 10 * NsPerMs;
    ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Holds(36 * Block - 2 * buffer));
    FakeNanoseconds += 20 * NsPerMs;
    FakeTicks = 1000 + MsOf(written);
    const int32_t heard = shownAfter(2 * buffer + 882 * 4); // 20 ms into the third
    EXPECT_EQ(GetOutputTime(), heard);
    write(1); // more held, no time passed: the shown time does not go back
    ASSERT_TRUE(Holds(37 * Block - 2 * buffer));
    EXPECT_GE(GetOutputTime(), heard);
    EXPECT_LE(GetOutputTime(), heard + 1);

    FakeTicks += 1000; // the writes stop; the device plays on
    FakeNanoseconds += 30 * NsPerMs;
    EXPECT_EQ(GetOutputTime(), shownAfter(2 * buffer + 2205 * 4)) << "runs with the sound";
    FakeNanoseconds += 100 * NsPerMs; // on into the next buffers, their messages late
    EXPECT_EQ(GetOutputTime(), shownAfter(2 * buffer + 6615 * 4));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Fake.CompleteOne());
    ASSERT_TRUE(Holds(37 * Block - 5 * buffer));
    const int32_t later = GetOutputTime();
    EXPECT_EQ(later, shownAfter(5 * buffer));

    Pause(1);
    FakeTicks = 5000;
    FakeNanoseconds += 40 * NsPerMs;
    EXPECT_EQ(GetOutputTime(), later) << "frozen while paused";
    Pause(0);
    ASSERT_TRUE(PlaysOut(37 * Block));
    ASSERT_TRUE(Holds(0));
    FakeTicks = 9000;
    EXPECT_EQ(GetOutputTime(), GetWrittenTime()) << "never past what was written";

    SetOutDevice(""); // silent pacing: ticks alone, as ever
    Flush(0);
    FakeTicks = 9250;
    EXPECT_EQ(GetOutputTime(), 250);
}

TEST_F(HandOffTest, VolumeAndPanReachTheDevice) {
    OpenWith(Block);
    SetVolume(128);
    SetPan(-64);
    ASSERT_TRUE(Fake.WaitFor([&] { return Engine->Pan == -64 && Fake.Volumes().size() >= 3; }));
    EXPECT_EQ(Engine->Volume, 128);
    const DWORD word = Fake.Volumes().back();
    EXPECT_EQ(LOWORD(word), 0x8080);
    EXPECT_EQ(HIWORD(word), 16318);
}

// Close asks the player whether playback goes on: at a track change the
// device keeps playing what it holds; at a stop, or when another output
// plug-in has taken over, the device is closed.
class CloseTest : public HandOffTest {
protected:
    void SetUp() override {
        HandOffTest::SetUp();
        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        ThisLibraryFileName = exe;
        const std::string path = exe;
        const size_t slash = path.find_last_of('\\');
        Clock.PluginDir = path.substr(0, slash + 1);
        Player.AnswerText(player::IpcGetOutputPlugin, path.substr(slash + 1));
        Player.Answer(player::IpcIsPlaybackContinuing, 0, 1);
        plugin.hMainWindow = Player.Window();
        CreateHeld(WinAmpAPIMan, &plugin);
    }
    void TearDown() override {
        DestroyHeld(WinAmpAPIMan);
        plugin.hMainWindow = nullptr;
        HandOffTest::TearDown();
    }
    hosttest::TTestPlayer Player;
};

TEST_F(CloseTest, ATrackChangeKeepsTheDeviceAndAStopClosesIt) {
    OpenWith(Block);
    Close();
    // The device stays, and the track's tail (shorter than the pre-buffer)
    // starts rather than wait for a next track that may never come.
    EXPECT_TRUE(WaitForState(*Engine, psPlaying)) << StateOf(*Engine);
    EXPECT_TRUE(Fake.IsOpen());

    Open(44100, 2, 16, 0, 0); // next track, same format
    Player.Answer(player::IpcIsPlaybackContinuing, 0, 0);
    Close();
    EXPECT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_FALSE(Fake.IsOpen());
}

// A track shorter than the pre-buffer can end while the device its first
// block asked for is still opening: its tail is started once it is open.
TEST_F(CloseTest, ATrackThatEndsWhileItsDeviceOpensStillPlays) {
    std::atomic<bool> release{false};
    Fake.OnCall(TFakeCall::Open, [&] {
        while (!release)
            Sleep(1);
    });
    Hand(Block); // asks for the device; its open waits above
    ASSERT_EQ(StateOf(*Engine), "Init");
    std::thread opener([&] {
        Sleep(100); // Close is then waiting for the open
        release = true;
    });
    Close();
    opener.join();
    Fake.OnCall(TFakeCall::Open, {});
    EXPECT_TRUE(WaitForState(*Engine, psPlaying)) << StateOf(*Engine);
    EXPECT_TRUE(Fake.WaitFor([&] { return Fake.Calls(TFakeCall::Write) > 0; }));
}

TEST_F(CloseTest, AnotherOutputPluginTakingOverClosesTheDevice) {
    OpenWith(Block);
    Player.AnswerText(player::IpcGetOutputPlugin, "out_other.dll");
    Close();
    EXPECT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(Clock.OutputActive, 0);
}

} // namespace
