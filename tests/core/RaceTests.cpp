// The core against the player's threads and against values no player should
// send: a pause or a Quit that lands inside a Write, long streams, absurd
// fudge factors and DSP blocks, and an engine whose driver hangs. Each
// interleaving is made to happen on purpose through the clock the core reads.
#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <thread>
#include <vector>

#include "CoreTestSupport.h"
#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "core/SampleHandOff.h"
#include "engine/Waveoutplaythreadunit.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/FakeWaveOut.h"

using namespace qv;

namespace {

constexpr int32_t Block = 2304; // 576 frames of 16-bit stereo
constexpr int32_t PreBufferBytes = 79380;
constexpr double Ms = 1.0 / 86400000.0;

// The clock's Now, with an action run on the Nth reading after arming.
std::atomic<int> NowCalls{0};
std::atomic<int> ActAtCall{0};
void (*NowAction)() = nullptr;
double HookedNow() {
    if (++NowCalls == ActAtCall && NowAction != nullptr)
        NowAction();
    return SystemNow();
}
void ActAtNowCall(int call, void (*action)()) {
    NowAction = action;
    NowCalls = 0;
    ActAtCall = call;
    ClockSource.Now = HookedNow;
}

// Runs `body` on another thread, as the player's window thread would, and
// waits for it.
template <class F> void OnWindowThread(F body) {
    std::thread(body).join();
}

TWaveOutPlayThread* PausedEngine = nullptr;

class RaceTest : public qvtest::CoreTest {
protected:
    RaceTest() : Fake({{"Fake Mapper"}, {"Speakers"}}) {}
    void SetUp() override {
        CoreTest::SetUp();
        Engine = std::make_unique<TWaveOutPlayThread>(Fake);
        ASSERT_TRUE(WaitForState(*Engine, psIdle));
        WaveOutPlayThread = Engine.get();
        SetOutDevice("Speakers");
        Open(44100, 2, 16, 0, 0);
    }
    void TearDown() override {
        ClockSource = SystemClockSource();
        WaveOutPlayThread = nullptr;
        Engine->Quit();
        Engine->WaitFor();
        EXPECT_EQ(Engine->LiveBuffers(), 0u);
        Engine.reset();
        CoreTest::TearDown();
    }
    void Hand(int32_t bytes) {
        const std::vector<char> data = Pattern(static_cast<size_t>(bytes), ++Seed);
        HandOff(data.data(), bytes, 16, 2, 44100);
    }
    // Opens the device and starts it: the block that opens the device is
    // kept but is exactly 0.45 s, not yet enough; the second starts it, and
    // a third follows while it plays.
    void StartPlaying() {
        Hand(PreBufferBytes);
        ASSERT_TRUE(WaitForState(*Engine, psOpen));
        Hand(PreBufferBytes);
        ASSERT_TRUE(WaitForState(*Engine, psPlaying));
        Hand(PreBufferBytes);
    }
    // Everything posted to the engine so far has been handled.
    bool EngineCaughtUp() {
        const size_t volumes = Fake.Volumes().size();
        Engine->PostVolume(Engine->Volume == 200 ? 201 : 200);
        return Fake.WaitFor([&] { return Fake.Volumes().size() > volumes; });
    }

    TFakeWaveOut Fake;
    std::unique_ptr<TWaveOutPlayThread> Engine;
    unsigned Seed = 0;
};

} // namespace

// Under load the user's pause most often lands while the decoding thread
// waits in Write for its due time (here, at Write's second clock reading).
// The block must then neither restart the paused device nor anchor a
// schedule during the pause; it plays after the unpause, which starts a
// fresh schedule.
TEST_F(RaceTest, APauseLandingInAWriteKeepsTheBlockForTheUnpause) {
    StartPlaying();
    CreatePaceTimer();
    const int restarts = Fake.Calls(TFakeCall::Restart);
    Clock.NextDue = SystemNow() + 20 * Ms; // Write waits a little
    PausedEngine = Engine.get();
    ActAtNowCall(2, [] {
        OnWindowThread([] { Pause(1); });
        WaitForState(*PausedEngine, psPaused);
    });
    const std::vector<char> block = Pattern(Block, 99);
    ASSERT_EQ(Write(block.data(), Block), 0);
    ClockSource = SystemClockSource();

    ASSERT_TRUE(EngineCaughtUp());
    EXPECT_TRUE(Fake.IsPaused()) << "the device was restarted during the pause";
    EXPECT_EQ(Fake.Calls(TFakeCall::Restart), restarts);
    EXPECT_EQ(StateOf(*Engine), "Paused");
    EXPECT_EQ(Clock.NextDue, 0.0) << "a schedule was anchored while paused";
    EXPECT_EQ(KeptBlocks(), 1u);

    const double unpaused = SystemNow();
    OnWindowThread([] { Pause(0); });
    EXPECT_EQ(KeptBlocks(), 0u);
    ASSERT_TRUE(WaitForState(*Engine, psPlaying)) << "the kept block resumes the device";
    EXPECT_GE(Clock.ScheduleStart, unpaused) << "pacing starts afresh at the unpause";
    EXPECT_NEAR((Clock.NextDue - Clock.ScheduleStart) * SecondsPerDay, 576 / 44100.0, 0.0005);

    // The kept block is the last one the device plays.
    const size_t total = 3 * PreBufferBytes + Block;
    ASSERT_TRUE(Fake.WaitFor([&] {
        Fake.CompleteOne();
        return Fake.Played().size() >= total;
    }));
    const std::vector<char> played = Fake.Played();
    ASSERT_EQ(played.size(), total);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), played.end() - Block));
}

// A Write whose hand-off waits for a device to close (here one whose reset
// hangs until released) holds up no call of the window thread: the user's
// pause, CanWrite and the position answer meanwhile. The pause lands in
// that wait, so the block is kept and opens the next device at the unpause.
TEST_F(RaceTest, AWriteWaitingForACloseHoldsUpNoOtherCall) {
    StartPlaying();
    static HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    static HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(entered);
    ResetEvent(release);
    Fake.OnCall(TFakeCall::Reset, [] {
        SetEvent(entered);
        WaitForSingleObject(release, 30000);
    });
    RequestReopen();
    Clock.NextDue = 0.0;
    const std::vector<char> block = Pattern(Block, 42);
    auto write = std::async(std::launch::async, [&] { Write(block.data(), Block); });
    ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);

    auto others = std::async(std::launch::async, [] {
        CanWrite();
        GetOutputTime();
        Pause(1);
    });
    // Write gives up on the engine after a few seconds; the calls must
    // come back well before, while it still waits.
    const bool answered = others.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const bool writeWaits = write.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    SetEvent(release);
    others.wait();
    write.wait();
    Fake.OnCall(TFakeCall::Reset, nullptr);
    EXPECT_TRUE(answered && writeWaits) << "the window thread waited for the device's close";
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    EXPECT_EQ(KeptBlocks(), 1u) << "the block waits for the unpause";

    const int opens = Fake.Calls(TFakeCall::Open);
    Pause(0);
    EXPECT_EQ(KeptBlocks(), 0u);
    ASSERT_TRUE(Fake.WaitFor([&] { return Fake.Calls(TFakeCall::Open) > opens; }));
    EXPECT_EQ(Engine->GetTotalBytes(), Block);
}

// A Write whose block needs the device closed first (the user chose another
// one) closes it while it waits for its due time, not after it: the two
// waits run at once. Here the due time is a minute away.
TEST_F(RaceTest, AWriteClosesTheDeviceWhileItWaitsForItsDueTime) {
    StartPlaying();
    CreatePaceTimer();
    const int resets = Fake.Calls(TFakeCall::Reset);
    const int opens = Fake.Calls(TFakeCall::Open);
    RequestReopen();
    Clock.NextDue = SystemNow() + 60000 * Ms;
    const std::vector<char> block = Pattern(Block, 5);
    auto write = std::async(std::launch::async, [&] { Write(block.data(), Block); });
    EXPECT_TRUE(Fake.WaitFor([&] { return Fake.Calls(TFakeCall::Reset) > resets; }))
        << "the close waited for the due time";
    // Now the block falls due, and goes to the device that follows.
    for (int i = 0;
         i < 1000 && write.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready;
         ++i) {
        LARGE_INTEGER dueNow{};
        SetWaitableTimer(Clock.PaceTimer, &dueNow, 0, nullptr, nullptr, FALSE);
    }
    ASSERT_EQ(write.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    // The engine thread opens the next device once it has the request.
    EXPECT_TRUE(Fake.WaitFor([&] { return Fake.Calls(TFakeCall::Open) > opens; }));
    EXPECT_EQ(Engine->GetTotalBytes(), Block);
}

// A player that writes on through a pause is held to a second of audio.
TEST_F(RaceTest, WritesThroughAPauseKeepAtMostASecond) {
    Pause(1);
    const std::vector<char> block(Block, 1);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(Write(block.data(), Block), 0);
    EXPECT_EQ(KeptBlocks(), size_t(176400 / Block));
    EXPECT_EQ(Clock.NextDue, 0.0);
    Flush(0);
    EXPECT_EQ(KeptBlocks(), 0u) << "a seek drops what the pause kept";
    Pause(0);
    EXPECT_EQ(Clock.FramesScheduled, 0) << "pacing starts afresh at the unpause";
}

// Quit while the decoding thread is inside Write's hand-off: Quit waits for
// the Write to leave before it ends the engine.
TEST_F(RaceTest, QuitWaitsForAWriteInsideTheHandOff) {
    Hand(Block);
    ASSERT_TRUE(WaitForState(*Engine, psOpen));
    // Quit destroys what the variable holds: give it the engine.
    TWaveOutPlayThread* const engine = Engine.release();
    static TFakeWaveOut* fake = nullptr;
    fake = &Fake;
    static std::future<void> quit;
    Clock.NextDue = 0.0; // no wait: the second reading is the hand-off's
    ActAtNowCall(2, [] { // inside the hand-off's schedule update
        quit = std::async(std::launch::async, [] { Quit(); });
        ASSERT_TRUE(fake->WaitFor([] { return WaveOutPlayThread == nullptr; }));
        EXPECT_FALSE(fake->WaitFor([] { return !fake->IsOpen(); }, 500))
            << "Quit closed the engine under a Write";
    });
    const std::vector<char> block = Pattern(Block, 7);
    Write(block.data(), Block);
    ClockSource = SystemClockSource();
    ASSERT_EQ(quit.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(Fake.IsOpen());
    EXPECT_EQ(WaveOutPlayThread, nullptr);
    Engine = std::make_unique<TWaveOutPlayThread>(Fake); // for TearDown
    static_cast<void>(engine);
}

// The player's position after a day of 192 kHz, 32-bit, 8-channel audio.
TEST_F(RaceTest, WrittenTimeStaysRightForADayOfTheWidestFormat) {
    WaveOutPlayThread = nullptr; // the bytes are counted, never read
    Open(192000, 8, 32, 0, 0);
    constexpr int BytesPerSecond = 192000 * 8 * 4;
    constexpr int FiveMinutes = 300 * BytesPerSecond;
    for (int i = 0; i < 288; ++i)
        ASSERT_EQ(Write(reinterpret_cast<const char*>(this), FiveMinutes), 0);
    EXPECT_EQ(GetWrittenTime(), 86400000);
    Flush(1000);
    Write(reinterpret_cast<const char*>(this), BytesPerSecond);
    EXPECT_EQ(GetWrittenTime(), 2000);
    WaveOutPlayThread = Engine.get();
}

// Whatever the settings hold, one block never makes the next Write wait more
// than its own length plus a second, and the schedule never runs backwards.
TEST_F(RaceTest, FudgeFactorsOfAnySizeKeepTheScheduleSane) {
    WaveOutPlayThread = nullptr;
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {std::nan(""), inf, -inf, 1e300, -1e300, 1e6, -1e6, 1000.0};
    for (const double value : values) {
        SCOPED_TRACE("factor " + std::to_string(value));
        ResetClockForTest();
        Open(44100, 2, 16, 0, 0);
        SetPlaybackFudgeFactor(value);
        SetSongEndFudgeFactor(value);
        EXPECT_TRUE(std::isfinite(Clock.PlaybackFudgeFactor));
        for (const int32_t bytes : {4, Block, 176400}) {
            const int64_t before = Clock.FramesScheduled;
            const double due = Clock.NextDue;
            const int64_t frames = AdvanceSchedule(bytes, 16, 2, 44100);
            EXPECT_LE(Clock.FramesScheduled - before, frames + 44100) << bytes << " bytes";
            EXPECT_GE(Clock.FramesScheduled, before) << bytes << " bytes";
            EXPECT_GE(Clock.NextDue, due) << bytes << " bytes";
        }
        const int64_t frames = Clock.FramesScheduled;
        Close();
        EXPECT_LE(std::llabs(Clock.FramesScheduled - frames), 44100);
        EXPECT_GE(Clock.FramesScheduled, 0);
    }
    WaveOutPlayThread = Engine.get();
}

// A block no player can deliver is passed through untouched: nothing is
// copied, scheduled or handed to the engine.
TEST_F(RaceTest, ImpossibleDspBlocksArePassedThrough) {
    Clock.OutputActive = 1;
    Clock.DSPActive = 1;
    Clock.CoreInitialised = 1;
    std::vector<short> samples(4096, 1);
    struct TCase {
        int Count, Bits, Channels, Rate;
    };
    const TCase cases[] = {
        {-1, 16, 2, 44100},        {-1000000, 16, 2, 44100}, {576, 16, 0, 44100},
        {576, 16, -2, 44100},      {576, 0, 2, 44100},       {576, -16, 2, 44100},
        {576, 12, 2, 44100},       {576, 16, 2, 0},          {576, 16, 2, -44100},
        {INT32_MAX, 32, 8, 44100}, {576, 16, 100000, 44100}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Count) + " samples, " + std::to_string(c.Bits) + " bits, " +
                     std::to_string(c.Channels) + " channels, " + std::to_string(c.Rate) + " Hz");
        EXPECT_EQ(
            DspModifySamples(&DSPmodule0, samples.data(), c.Count, c.Bits, c.Channels, c.Rate),
            c.Count);
        EXPECT_EQ(Clock.FramesScheduled, 0);
        EXPECT_EQ(Clock.HandedOverAtDSP, 0);
        EXPECT_EQ(Engine->GetTotalBytes(), 0);
    }
    EXPECT_EQ(DspModifySamples(&DSPmodule0, samples.data(), 576, 16, 2, 44100), 576);
    EXPECT_EQ(Clock.FramesScheduled, 576) << "a plausible block still goes through";
    Clock.DSPActive = 0;
}

// A driver that never returns from its reset: Open, which waits for the
// engine to close, and Quit, which waits for its thread, both give up within
// seconds. The stuck engine is abandoned; it and its fake device are never
// freed.
TEST(HungDriverTest, OpenAndQuitDoNotWaitForeverForAStuckEngine) {
    ResetClockForTest();
    auto* fake = new TFakeWaveOut({{"Fake Mapper"}, {"Speakers"}});
    static HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateHeld(WaveOutPlayThread, *fake);
    ASSERT_TRUE(WaitForState(*WaveOutPlayThread, psIdle));
    SetOutDevice("Speakers");
    Open(44100, 2, 16, 0, 0);
    const std::vector<char> block(Block, 1);
    HandOff(block.data(), Block, 16, 2, 44100);
    ASSERT_TRUE(WaitForState(*WaveOutPlayThread, psOpen));
    fake->OnCall(TFakeCall::Reset, [] { WaitForSingleObject(release, INFINITE); });

    auto open = std::async(std::launch::async, [] { Open(48000, 2, 16, 0, 0); });
    const bool opened = open.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    auto quit = std::async(std::launch::async, [] { Quit(); });
    const bool quitted = quit.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    SetEvent(release); // lets a stuck call end, so that the test process can
    EXPECT_TRUE(opened) << "Open waited forever for the engine to close";
    EXPECT_TRUE(quitted) << "Quit waited forever for the engine thread";
    EXPECT_EQ(WaveOutPlayThread, nullptr);
    open.wait();
    quit.wait();
    ResetClockForTest();
}
