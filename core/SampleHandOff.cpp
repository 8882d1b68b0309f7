#include "core/SampleHandOff.h"

#include <algorithm>
#include <string>

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

int64_t AdvanceSchedule(int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                        int32_t sampleRate) {
    const double now = ScheduleNow();
    if (Clock.NextDue == 0.0) {
        Clock.NextDue = now;
        Clock.ScheduleStart = now;
        Clock.FramesScheduled = 0;
    }
    const int64_t frames =
        channels > 0 ? static_cast<int64_t>(byteCount / BytesPerSample(bitsPerSample) / channels)
                     : 0;
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

void DriveEngine(TWaveOutPlayThread& engine, const void* data, int32_t byteCount,
                 int32_t bitsPerSample, int32_t channels, int32_t sampleRate) {
    uint8_t state = engine.State;
    const bool otherFormat =
        state != psIdle && (sampleRate != engine.SampleRate ||
                            bitsPerSample != engine.BitsPerSample || channels != engine.Channels);
    if (state != psIdle && (otherFormat || Clock.ReopenRequested != 0)) {
        // The end of the old format is heard first; a new device or a reset
        // (the user's choice) moves on at once.
        CloseEngine(engine, otherFormat && Clock.ReopenRequested == 0);
        Clock.ReopenRequested = 0;
        state = engine.State;
    } else if (Closing(state)) {
        WaitForEngineIdle(engine);
        state = engine.State;
    }
    switch (state) {
    case psIdle: {
        const std::string device = GetWantedDevice();
        SetDeviceInUse(device);
        Clock.ReopenRequested = 0;
        // The block that opens the device is its first to play.
        if (Clock.DeviceNamed != 0 &&
            engine.RequestOpen(device, sampleRate, channels, bitsPerSample, byteCount))
            QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        return;
    }
    case psOpen:
    case psPaused: {
        // Measured before this block is queued. A NaN (nothing held, no frame
        // size) fails the comparison.
        const float held = HeldSeconds(engine.GetTotalBytes(), engine.BlockAlign, sampleRate);
        if (static_cast<double>(held) >= PreBufferSeconds)
            engine.PostRestart();
        QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        return;
    }
    case psInit: // waits in the pool until the device is open
    case psPlaying:
        QueueBlockToEngine(engine, data, byteCount, bitsPerSample, channels, sampleRate);
        return;
    case psClose:
    case psError:
        engine.PostClose();
        return;
    default:
        return;
    }
}

} // namespace

void HandOff(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
             int32_t sampleRate) {
    const auto schedule = LockSchedule();
    HandOffLocked(data, byteCount, bitsPerSample, channels, sampleRate);
}

void HandOffLocked(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                   int32_t sampleRate) {
    if (KeepIfPaused(data, byteCount, bitsPerSample, channels, sampleRate))
        return;
    const int64_t frames = AdvanceSchedule(byteCount, bitsPerSample, channels, sampleRate);
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    if (engine == nullptr)
        return;
    // Less than one frame cannot be played without shifting every later
    // sample; it only counts for the schedule (which it does not move).
    if (frames == 0)
        return;
    DriveEngine(*engine, data, byteCount, bitsPerSample, channels, sampleRate);
}

} // namespace qv
