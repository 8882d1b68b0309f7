// The playback clock: the wall-clock schedule that paces Write, and the
// position the player reads back.
//
// How it works. Every block handed off (SampleHandOff) adds its frames to
// FramesScheduled and moves NextDue to ScheduleStart + FramesScheduled / rate.
// Write waits on PaceTimer until NextDue, so the player can never run ahead
// of real time by more than one block. Positions never call the device:
// GetOutputTime is the time of the sample being heard: the ticks from Open
// (frozen while paused) less the audio the engine still holds; with no
// device it is the ticks alone. GetWrittenTime counts the bytes Write
// accepted.
//
// With a device, Write does not make the decoder wait for the pre-buffer:
// whenever a device starts empty (a new output run, a seek, a new device or
// format) the schedule is set back so that blocks are due at once until the
// engine holds the pre-buffer, and the device starts then (SampleHandOff).
// A seek (a Flush after this track's first block) drops what the engine
// holds for the old position and starts the schedule afresh; a Flush before
// the track's first block is a decoder setting its time, and the previous
// track's tail plays on.
//
// Threads: Write, CanWrite, Open and Close come from the player's decoding
// thread; Pause, Flush, SetVolume and SetPan may come from its window thread.
// The schedule, the pause and the written-byte count change under one lock
// (LockSchedule): a Pause landing in the middle of a Write's hand-off would
// otherwise restart a paused device or anchor a schedule while paused. A
// hand-off that must wait for the engine (a device closing) lets it go for
// the wait; the hand-off lock (SampleHandOff) keeps the blocks in order. The
// two device-name texts, which the configuration window changes from the
// window thread, have a lock of their own (a torn std::string would crash).
//
// A block that reaches the hand-off while paused (the Write was already in
// flight when the user paused) is kept in the core and handed off at the
// unpause (or, when that would wait for the engine, at the next hand-off),
// so it is neither heard during the pause nor lost.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <windows.h>

namespace qv {

// Date-time: days since 1899-12-30 00:00, the fraction being the time of day.
constexpr double SecondsPerDay = 86400.0;

// Where the clock reads time; the tests replace it to move the wall clock.
struct TClockSource {
    double (*Now)();           // local wall-clock date-time, millisecond resolution
    uint32_t (*Tick)();        // 32-bit millisecond tick count
    uint64_t (*MonotonicMs)(); // never jumps; detects wall-clock changes
};
extern TClockSource ClockSource;
double SystemNow();
const TClockSource& SystemClockSource();

struct TPlaybackClock {
    double ScheduleStart = 0.0;
    double NextDue = 0.0;
    int64_t FramesScheduled = 0;
    int32_t OpenSampleRate = 0;
    int32_t OpenChannels = 0;
    int32_t OpenBitsPerSample = 0;
    double PlaybackFudgeFactor = 0.0;
    double SongEndFudgeFactor = 0.01;
    double LPFFTS = 0.0;
    double LSEFFTS = 0.0;
    uint32_t TickStart = 0;
    int32_t OutputTimeBase = 0;
    // 64 bits: 32 would overflow within hours at CD rates, minutes at high ones.
    int64_t BytesWritten = 0;
    int32_t Paused = 0;
    // How long the block due next still had to wait when the pause came, in
    // days; the unpause keeps that wait.
    double AheadAtPause = 0.0;
    // A seek during the pause dropped what the device held: the unpause
    // leaves the schedule to the next block, which starts it afresh.
    uint8_t FreshAfterPause = 0;
    // A block has been handed off since the last Open.
    uint8_t WrittenSinceOpen = 0;
    uint8_t OutputActive = 0;
    uint8_t DeviceNamed = 0;
    uint8_t ReopenRequested = 0;
    HANDLE PaceTimer = nullptr;
    int32_t CoreInitialised = 0;
    std::string PluginDir;
    uint8_t DSPActive = 0;
    uint8_t HandedOverAtDSP = 0;

    // The output time last shown (it never runs backwards), and the one
    // shown while paused.
    int32_t LastShown = 0;
    int32_t ShownAtPause = 0;

    // Wall-clock jump guard: the last reading of both clocks.
    double GuardWall = 0.0;
    uint64_t GuardMonotonic = 0;
};
extern TPlaybackClock Clock;

// Back to the state at load (tests only; the timer handle is not closed).
void ResetClockForTest();

// Held by every change of the schedule, the pause or the byte count.
[[nodiscard]] std::unique_lock<std::mutex> LockSchedule();
// The largest magnitude a fudge factor is taken at; anything not finite is 0.
constexpr double FudgeFactorLimit = 1000.0;
double SaneFudgeFactor(double value);

// Device names, guarded against the window thread.
std::string GetWantedDevice();
std::string GetDeviceInUse();
void SetDeviceInUse(const std::string& name);

// The wall clock as the schedule sees it: a jump of the system clock since the
// last reading moves the running schedule with it, so that neither direction of
// a clock change makes Write wait for the jump or rush ahead.
double ScheduleNow();

// Output-module operations.
int Open(int sampleRate, int channels, int bitsPerSample, int bufferLenMs, int preBufferMs);
void Close();
int Write(const char* buffer, int length);
int CanWrite();
int IsPlaying();
int Pause(int pause);
void SetVolume(int volume);
void SetPan(int pan);
void Flush(int timeMs);
int GetOutputTime();
int GetWrittenTime();

void WaitUntil(double due);
bool IsPlayersOutputPlugin();
void SetOutDevice(const std::string& name);
void RequestReopen();
void SetPlaybackFudgeFactor(double value);
void SetSongEndFudgeFactor(double value);
double GetLPFFTS();
double GetLSEFFTS();

} // namespace qv
