// The one place where a block of PCM leaves the core. HandOff advances the
// schedule by the block (so the next Write waits for it), then drives the
// engine through open, pre-buffer, play and close by its state. Called by
// Write, or by the detector DSP one stage earlier, on the decoding thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

class TWaveOutPlayThread;

namespace qv {

// Seconds of audio the engine must hold before it starts (or resumes) playing.
constexpr double PreBufferSeconds = 0.45;
// What a device starts with while the decoder is free to fill the rest at
// once: two of the engine's buffers.
constexpr double StartSeconds = 0.1;

// Takes the hand-off lock, then the schedule lock.
void HandOff(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
             int32_t sampleRate);
// The same, for a caller that holds the hand-off lock and then the schedule
// lock. While paused the block is kept for the unpause instead. Waiting for
// the engine (a close, a play-out) lets go of the schedule lock, so that
// Pause, CanWrite and the positions never wait behind a device.
void HandOffLocked(std::unique_lock<std::mutex>& schedule, const void* data, int32_t byteCount,
                   int32_t bitsPerSample, int32_t channels, int32_t sampleRate);

// Before a Write waits for its due time: waits for what the engine must
// finish (a device closing) before it can take the next block handed off,
// so that the two waits run at once rather than one after the other.
void PrepareEngine(int32_t byteCount, int32_t bitsPerSample, int32_t channels, int32_t sampleRate);

// One hand-off at a time: held across its wait for the engine, so no later
// block overtakes the one waiting. Always taken before the schedule lock.
[[nodiscard]] std::unique_lock<std::mutex> LockHandOff();
// Without waiting; owns nothing when a hand-off is under way.
[[nodiscard]] std::unique_lock<std::mutex> TryLockHandOff();

// With the schedule locked: while paused, keeps a copy of the block for the
// unpause (up to a second of audio; a player that writes on through a pause
// loses the rest) and returns true.
bool KeepIfPaused(const void* data, int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                  int32_t sampleRate);
// With the hand-off and schedule locks, not paused: hands the kept blocks to
// the engine in their order. Without mayWait it stops at a block that would
// have to wait for the engine; the rest goes first at the next hand-off.
void HandOffKept(std::unique_lock<std::mutex>& schedule, bool mayWait);
// With the schedule locked: drops them (a stop, a seek).
void ForgetKept();
// Blocks kept and not yet handed off (tests).
size_t KeptBlocks();
// Drops them, taking the schedule lock (Quit).
void ForgetKeptBlocks();

// The schedule half alone; returns the block's frame count.
int64_t AdvanceSchedule(int32_t byteCount, int32_t bitsPerSample, int32_t channels,
                        int32_t sampleRate);

int32_t BytesPerSample(int32_t bitsPerSample);
// Whole frames in a block.
int64_t FramesIn(int32_t byteCount, int32_t bitsPerSample, int32_t channels);

// Longer than the held audio lasts, a play-out waits at most this much.
constexpr uint64_t PlayOutMarginMs = 200;

// Waits while the engine opens a device, at most EngineIdleWaitMs.
void WaitWhileOpening(TWaveOutPlayThread& engine);
// Waits until the engine is idle (or gone), at most EngineIdleWaitMs.
void WaitForEngineIdle(TWaveOutPlayThread& engine);
// Closes the engine and waits until it is idle. With playOut, what it holds
// is played first (at most that long plus PlayOutMarginMs).
void CloseEngine(TWaveOutPlayThread& engine, bool playOut);

// The pre-buffer test: seconds held, as the engine's counters give them, in
// single precision the way the threshold has always been compared.
float HeldSeconds(int32_t totalBytes, uint32_t blockAlign, int32_t sampleRate);

} // namespace qv
