// The one place where a block of PCM leaves the core. HandOff advances the
// schedule by the block (so the next Write waits for it), then drives the
// engine through open, pre-buffer, play and close by its state. Called by
// Write, or by the detector DSP one stage earlier, on the decoding thread.
#pragma once

#include <cstdint>

class TWaveOutPlayThread;

namespace qv {

// Seconds of audio the engine must hold before it starts (or resumes) playing.
constexpr double PreBufferSeconds = 0.45;

void HandOff(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
             int32_t sampleRate);
// The same, for a caller that holds the schedule lock (LockSchedule). While
// paused the block is kept for the unpause instead.
void HandOffLocked(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                   int32_t sampleRate);

// The schedule half alone; returns the block's frame count.
int64_t AdvanceSchedule(int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                        int32_t sampleRate);

int32_t BytesPerSample(int32_t bitsPerSample);

// Longer than the held audio lasts, a play-out waits at most this much.
constexpr uint64_t PlayOutMarginMs = 200;

// Waits until the engine is idle (or gone), at most EngineIdleWaitMs.
void WaitForEngineIdle(TWaveOutPlayThread& engine);
// Closes the engine and waits until it is idle. With playOut, what it holds
// is played first (at most that long plus PlayOutMarginMs).
void CloseEngine(TWaveOutPlayThread& engine, bool playOut);

// The pre-buffer test: seconds held, as the engine's counters give them, in
// single precision the way the threshold has always been compared.
float HeldSeconds(int32_t totalBytes, uint32_t blockAlign, int32_t sampleRate);

} // namespace qv
