#include "core/SampleHandOff.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"

namespace qv {

int32_t BytesPerSample(int32_t bitsPerSample) {
    switch (bitsPerSample) {
    case 8:
        return 1;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 2;
    }
}

int64_t FramesIn(int32_t byteCount, int32_t bitsPerSample, int32_t channels) {
    return channels > 0 ? static_cast<int64_t>(byteCount / BytesPerSample(bitsPerSample) / channels)
                        : 0;
}

int64_t AdvanceSchedule(int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                        int32_t sampleRate) {
    const double now = ScheduleNow();
    if (Clock.NextDue == 0.0) {
        Clock.NextDue = now;
        Clock.ScheduleStart = now;
        Clock.FramesScheduled = 0;
    }
    const int64_t frames = FramesIn(byteCount, bitsPerSample, channels);
    Clock.FramesScheduled += frames;
    // The block rate is sampleRate div frames; a block shorter than one frame
    // has no block rate and adds no fudge term.
    Clock.LPFFTS =
        frames > 0 ? static_cast<double>(sampleRate / frames) * Clock.PlaybackFudgeFactor : 0.0;
    // No block may wait more than a second beyond its own length, nor take
    // back more than itself (the schedule would run backwards).
    Clock.LPFFTS = std::clamp(Clock.LPFFTS, -static_cast<double>(frames),
                              static_cast<double>(std::max(sampleRate, 0)));
    Clock.FramesScheduled =
        static_cast<int64_t>(static_cast<double>(Clock.FramesScheduled) + Clock.LPFFTS);
    if (sampleRate > 0) {
        const long double seconds = static_cast<long double>(Clock.FramesScheduled) / sampleRate;
        Clock.NextDue = static_cast<double>(static_cast<long double>(Clock.ScheduleStart) +
                                            seconds * (1.0L / 86400.0L));
    }
    return frames;
}

float HeldSeconds(int32_t totalBytes, uint32_t blockAlign, int32_t sampleRate) {
    // No format (a close under way): nothing is held. Never computed as
    // 0/0, which traps on a thread whose caller unmasked the x87 or SSE
    // exceptions (another plug-in may have).
    if (blockAlign == 0 || sampleRate <= 0)
        return 0.0f;
    const long double align = static_cast<float>(blockAlign);
    const long double rate = static_cast<float>(sampleRate);
    return static_cast<float>(static_cast<long double>(totalBytes) / align / rate);
}

void WaitForEngineIdle(TWaveOutPlayThread& engine) {
    // psExit: the engine thread is gone and will never report idle. The bound
    // keeps a stuck engine from holding the player's thread for ever.
    const uint64_t started = ClockSource.MonotonicMs();
    while (engine.State != psIdle && engine.State != psExit &&
           ClockSource.MonotonicMs() - started < EngineIdleWaitMs)
        engine.WaitForStateChange(100);
}

void WaitWhileOpening(TWaveOutPlayThread& engine) {
    const uint64_t started = ClockSource.MonotonicMs();
    while (engine.State == psInit && ClockSource.MonotonicMs() - started < EngineIdleWaitMs)
        engine.WaitForStateChange(100);
}

// Lets the device play what the engine holds: a tail shorter than the
// pre-buffer is started too. Returns when nothing is held, the device is
// not playing, or the time the held audio lasts (plus a margin) has passed.
void PlayOut(TWaveOutPlayThread& engine) {
    const float held = HeldSeconds(engine.GetTotalBytes(), engine.BlockAlign, engine.SampleRate);
    if (!(held > 0.0f))
        return;
    const uint64_t bound = static_cast<uint64_t>(held * 1000.0f) + PlayOutMarginMs;
    const uint64_t started = ClockSource.MonotonicMs();
    for (;;) {
        const uint8_t state = engine.State;
        if (state != psInit && state != psOpen && state != psPlaying)
            return;
        if (state != psInit && engine.GetTotalBytes() == 0)
            return;
        const uint64_t spent = ClockSource.MonotonicMs() - started;
        if (spent >= bound)
            return;
        if (state == psOpen)
            engine.PostRestart();
        // The device running dry (psPlaying to psOpen) wakes this at once.
        engine.WaitForStateChange(static_cast<int32_t>(std::min<uint64_t>(bound - spent, 100)));
    }
}

void CloseEngine(TWaveOutPlayThread& engine, bool playOut) {
    if (playOut)
        PlayOut(engine);
    engine.PostClose();
    WaitForEngineIdle(engine);
}

namespace {

void QueueBlockToEngine(TWaveOutPlayThread& engine, const void* data, int32_t byteCount,
                        int32_t bitsPerSample, int32_t channels, int32_t sampleRate) {
    const QueueBlock block{sampleRate, channels, bitsPerSample, static_cast<uint32_t>(byteCount),
                           data};
    engine.QueueData(block);
}

// A close under way: the block waits for the device that follows it.
bool Closing(uint8_t state) {
    return state == psReset || state == psClose;
}

// What the engine must finish before it can take a block of this format.
enum class TEngineWait { None, Close, PlayOutAndClose, Idle };

TEngineWait NeededWait(const TWaveOutPlayThread& engine, int32_t bitsPerSample, int32_t channels,
                       int32_t sampleRate) {
    const uint8_t state = engine.State;
    const bool otherFormat =
        state != psIdle && (sampleRate != engine.SampleRate ||
                            bitsPerSample != engine.BitsPerSample || channels != engine.Channels);
    if (state != psIdle && (otherFormat || Clock.ReopenRequested != 0))
        // The end of the old format is heard first; a new device or a reset
        // (the user's choice) moves on at once.
        return otherFormat && Clock.ReopenRequested == 0 ? TEngineWait::PlayOutAndClose
                                                         : TEngineWait::Close;
    return Closing(state) ? TEngineWait::Idle : TEngineWait::None;
}

void WaitForEngine(TWaveOutPlayThread& engine, TEngineWait wait) {
    if (wait == TEngineWait::Idle) {
        WaitForEngineIdle(engine);
        return;
    }
    CloseEngine(engine, wait == TEngineWait::PlayOutAndClose);
    Clock.ReopenRequested = 0;
}

// A device not playing starts once it holds the pre-buffer, this block
// included (one opening starts as soon as it is open). While the schedule
// lets the decoder run ahead (it fills the pre-buffer at once, or catches
// up), the rest follows faster than the device plays: it starts as soon as
// it holds enough to bridge its own start.
void StartIfPreBuffered(TWaveOutPlayThread& engine, int32_t sampleRate) {
    const float held = HeldSeconds(engine.GetTotalBytes(), engine.BlockAlign, sampleRate);
    const double wanted = Clock.NextDue <= ScheduleNow() ? StartSeconds : PreBufferSeconds;
    if (static_cast<double>(held) >= wanted)
        engine.PostRestart();
}

// Gives the block to the engine by its state; never waits for it. True when
// the block asked for a device to be opened.
bool DriveEngine(TWaveOutPlayThread& engine, const void* data, int32_t byteCount,
                 int32_t bitsPerSample, int32_t channels, int32_t sampleRate) {
    switch (engine.State) {
    case psIdle: {
        const std::string device = GetWantedDevice();
        SetDeviceInUse(device);
        Clock.ReopenRequested = 0;
        // The block that opens the device is its first to play.
        if (Clock.DeviceNamed == 0 ||
            !engine.RequestOpen(device, sampleRate, channels, bitsPerSample, byteCount))
            return false;
        QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        StartIfPreBuffered(engine, sampleRate);
        return true;
    }
    case psInit: // waits in the pool until the device is open
    case psOpen:
    case psPaused:
        QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        StartIfPreBuffered(engine, sampleRate);
        return false;
    case psPlaying:
        QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        return false;
    case psClose:
    case psError:
        engine.PostClose();
        return false;
    default:
        return false;
    }
}

// A device that starts empty is given its pre-buffer at once: the schedule
// is set so that the next block is due when what the engine holds ahead of
// the sound reaches the pre-buffer, and from there on it runs at real time
// as ever. Without it the decoder would be held to real time while the
// device gathers, and the sound would start a pre-buffer late.
void FillPreBufferAtOnce(TWaveOutPlayThread& engine) {
    const uint8_t state = engine.State;
    const int64_t rate = engine.SampleRate;
    const int64_t align = engine.BlockAlign;
    if ((state != psInit && state != psOpen && state != psPlaying && state != psPaused) ||
        rate <= 0 || align <= 0)
        return;
    const double held = static_cast<double>(engine.GetHeldAheadBytes()) / align / rate;
    const double due = ScheduleNow() + (held - PreBufferSeconds) / SecondsPerDay;
    Clock.ScheduleStart += due - Clock.NextDue;
    Clock.NextDue = due;
}

// A block that reached the hand-off during a pause, with its format.
struct TKeptBlock {
    std::vector<char> Bytes;
    int32_t BitsPerSample;
    int32_t Channels;
    int32_t SampleRate;
};
std::deque<TKeptBlock> Kept; // under the schedule lock
int64_t KeptBytes = 0;

std::mutex HandOffLock;

// With both locks, not paused. False, with nothing done, when the block must
// wait for a pause after all (one came while the engine was waited for) or,
// without mayWait, for the engine.
bool HandOffOne(std::unique_lock<std::mutex>& schedule, const void* data, int32_t byteCount,
                int32_t bitsPerSample, int32_t channels, int32_t sampleRate, bool mayWait) {
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    const TEngineWait wait = engine != nullptr
                                 ? NeededWait(*engine, bitsPerSample, channels, sampleRate)
                                 : TEngineWait::None;
    if (wait != TEngineWait::None && !mayWait)
        return false;
    const bool fresh = Clock.NextDue == 0.0;
    const int64_t frames = AdvanceSchedule(byteCount, bitsPerSample, channels, sampleRate);
    // Less than one frame cannot be played without shifting every later
    // sample; it only counts for the schedule (which it does not move).
    if (engine == nullptr || frames == 0)
        return true;
    if (wait != TEngineWait::None) {
        // Quit cannot destroy the engine meanwhile: it waits for this call.
        schedule.unlock();
        WaitForEngine(*engine, wait);
        schedule.lock();
        // The pause cleared the schedule this block was counted in.
        if (Clock.Paused != 0)
            return false;
    }
    const bool opened = DriveEngine(*engine, data, byteCount, bitsPerSample, channels, sampleRate);
    if ((fresh || opened) && Clock.DeviceNamed != 0)
        FillPreBufferAtOnce(*engine);
    return true;
}

void Keep(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
          int32_t sampleRate) {
    const int64_t second = static_cast<int64_t>(std::max(sampleRate, 0)) * std::max(channels, 0) *
                           BytesPerSample(bitsPerSample);
    if (KeptBytes == 0 || KeptBytes + byteCount <= second) {
        const char* const bytes = static_cast<const char*>(data);
        Kept.push_back(
            {std::vector<char>(bytes, bytes + byteCount), bitsPerSample, channels, sampleRate});
        KeptBytes += byteCount;
    }
}

} // namespace

std::unique_lock<std::mutex> LockHandOff() {
    return std::unique_lock(HandOffLock);
}

std::unique_lock<std::mutex> TryLockHandOff() {
    return std::unique_lock(HandOffLock, std::try_to_lock);
}

bool KeepIfPaused(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                  int32_t sampleRate) {
    if (Clock.Paused == 0)
        return false;
    Keep(data, byteCount, bitsPerSample, channels, sampleRate);
    return true;
}

void PrepareEngine(int32_t byteCount, int32_t bitsPerSample, int32_t channels, int32_t sampleRate) {
    const auto handOff = LockHandOff();
    auto schedule = LockSchedule();
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    if (engine == nullptr || Clock.Paused != 0)
        return;
    // The first block to go is one an unpause left behind, if any.
    if (!Kept.empty()) {
        const TKeptBlock& first = Kept.front();
        byteCount = static_cast<int32_t>(first.Bytes.size());
        bitsPerSample = first.BitsPerSample;
        channels = first.Channels;
        sampleRate = first.SampleRate;
    }
    if (FramesIn(byteCount, bitsPerSample, channels) == 0)
        return;
    const TEngineWait wait = NeededWait(*engine, bitsPerSample, channels, sampleRate);
    if (wait == TEngineWait::None)
        return;
    schedule.unlock();
    WaitForEngine(*engine, wait);
}

void HandOffKept(std::unique_lock<std::mutex>& schedule, bool mayWait) {
    while (!Kept.empty() && Clock.Paused == 0) {
        // Out of the list while it is handed off: the schedule lock may be
        // let go meanwhile.
        TKeptBlock block = std::move(Kept.front());
        Kept.pop_front();
        KeptBytes -= static_cast<int64_t>(block.Bytes.size());
        if (!HandOffOne(schedule, block.Bytes.data(), static_cast<int32_t>(block.Bytes.size()),
                        block.BitsPerSample, block.Channels, block.SampleRate, mayWait)) {
            KeptBytes += static_cast<int64_t>(block.Bytes.size());
            Kept.push_front(std::move(block));
            return;
        }
    }
}

void ForgetKept() {
    Kept.clear();
    KeptBytes = 0;
}

size_t KeptBlocks() {
    const auto schedule = LockSchedule();
    return Kept.size();
}

void ForgetKeptBlocks() {
    const auto schedule = LockSchedule();
    ForgetKept();
}

void HandOff(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
             int32_t sampleRate) {
    const auto handOff = LockHandOff();
    auto schedule = LockSchedule();
    HandOffLocked(schedule, data, byteCount, bitsPerSample, channels, sampleRate);
}

void HandOffLocked(std::unique_lock<std::mutex>& schedule, const void* data, int32_t byteCount,
                   int32_t bitsPerSample, int32_t channels, int32_t sampleRate) {
    Clock.WrittenSinceOpen = 1;
    if (KeepIfPaused(data, byteCount, bitsPerSample, channels, sampleRate))
        return;
    // What an unpause or a close could not hand off goes first.
    HandOffKept(schedule, true);
    if (Clock.Paused != 0 ||
        !HandOffOne(schedule, data, byteCount, bitsPerSample, channels, sampleRate, true))
        Keep(data, byteCount, bitsPerSample, channels, sampleRate);
}

} // namespace qv
