#include "core/PlaybackClock.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "core/MainUnit.h"
#include "core/SampleHandOff.h"
#include "engine/Waveoutplaythreadunit.h"
#include "host/FolderUtils.h"
#include "host/Versionreader.h"
#include "host/WinAmpAPIUnit.h"

namespace qv {

namespace {

// Days from 1601-01-01 (the FILETIME epoch) to 1899-12-30 (the date-time epoch).
constexpr double FileTimeEpochDays = 109205.0;
constexpr double FileTimeUnitsPerDay = 864000000000.0;
// A disagreement of the wall clock with the monotonic clock beyond this is a
// clock change, not drift.
constexpr double ClockJumpToleranceDays = 1.0 / SecondsPerDay;

uint32_t SystemTick() {
    return GetTickCount();
}
uint64_t SystemMonotonicMs() {
    return GetTickCount64();
}

std::mutex DeviceNameLock;
std::string WantedDevice;
std::string DeviceInUse;

std::mutex ScheduleLock;

void ClearSchedule() {
    Clock.NextDue = 0.0;
    Clock.ScheduleStart = 0.0;
    Clock.FramesScheduled = 0;
}

// The player's answer to request 122/123 for a value outside -2..256; the
// value stays as it is when no player window is known.
int AskPlayerIfOutOfRange(int value, LPARAM request) {
    if (value <= 256 && value >= -2)
        return value;
    if (WinAmpAPIMan == nullptr)
        return value;
    return static_cast<int>(SendMessageA(WinAmpAPIMan->MainWindow, player::RequestMessage,
                                         static_cast<WPARAM>(value), request));
}

// Milliseconds of audio the engine holds that the device has not played:
// handed over, queued, or in the device and not yet reached.
int32_t HeldAheadMs(TWaveOutPlayThread& engine) {
    const int64_t align = engine.BlockAlign;
    const int64_t rate = engine.SampleRate;
    if (align <= 0 || rate <= 0)
        return 0;
    const int64_t held = engine.GetHeldAheadBytes();
    return static_cast<int32_t>(std::max<int64_t>(held, 0) * 1000 / align / rate);
}

// With the schedule locked.
int32_t WrittenTimeLocked() {
    const int64_t rate = static_cast<int64_t>(Clock.OpenSampleRate) * Clock.OpenChannels;
    if (rate == 0)
        return static_cast<int32_t>(Clock.BytesWritten);
    // Dividing by the byte rate first keeps the terms small; a depth below 8 bits
    // still takes a byte per sample.
    const int64_t bytesPerSample = std::max(1, Clock.OpenBitsPerSample / 8);
    const int64_t written = Clock.BytesWritten;
    const int64_t ms =
        ((written / rate) * 1000 + ((written % rate) * 1000) / rate) / bytesPerSample;
    return static_cast<int32_t>(Clock.OutputTimeBase + ms);
}

// With the schedule locked, and inside a TCoreCall (it reads the engine).
// With a device the shown time is the time of the sample being heard; with
// none (silent pacing) there is nothing to hear and it runs on the ticks.
int32_t OutputTimeLocked() {
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    const bool heard = engine != nullptr && Clock.DeviceNamed != 0;
    if (Clock.Paused != 0)
        return heard ? Clock.ShownAtPause : Clock.OutputTimeBase;
    // Both differences in 32 bits, so the tick counter's wrap does not matter.
    const auto sinceOpen = static_cast<int32_t>(static_cast<uint32_t>(Clock.OutputTimeBase) +
                                                (ClockSource.Tick() - Clock.TickStart));
    if (!heard)
        return sinceOpen;
    // What is still held has not been heard yet: the sample heard is the
    // written time less what the output holds ahead of the device. (The
    // ticks would lag by up to a block: a block is written when it is due,
    // that is when it starts, and counted held at once.) Each block handed
    // over adds to both at once while the device takes the held audio away
    // as it plays, so the difference runs with the sound; where the two
    // counts meet unevenly the shown time holds its last value rather than
    // run backwards.
    const int32_t written = WrittenTimeLocked();
    const int32_t shown =
        std::min(std::max(written - HeldAheadMs(*engine), Clock.LastShown), written);
    Clock.LastShown = shown;
    return shown;
}

} // namespace

double SystemNow() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    FILETIME file;
    if (!SystemTimeToFileTime(&local, &file))
        return 0.0;
    const uint64_t units = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return static_cast<double>(units) / FileTimeUnitsPerDay - FileTimeEpochDays;
}

const TClockSource& SystemClockSource() {
    static const TClockSource source{SystemNow, SystemTick, SystemMonotonicMs};
    return source;
}

TClockSource ClockSource = SystemClockSource();
TPlaybackClock Clock;

void ResetClockForTest() {
    ForgetKeptBlocks();
    Clock = TPlaybackClock{};
    const std::lock_guard guard(DeviceNameLock);
    WantedDevice.clear();
    DeviceInUse.clear();
}

std::string GetWantedDevice() {
    const std::lock_guard guard(DeviceNameLock);
    return WantedDevice;
}

std::string GetDeviceInUse() {
    const std::lock_guard guard(DeviceNameLock);
    return DeviceInUse;
}

void SetDeviceInUse(const std::string& name) {
    const std::lock_guard guard(DeviceNameLock);
    DeviceInUse = name;
}

std::unique_lock<std::mutex> LockSchedule() {
    return std::unique_lock(ScheduleLock);
}

double SaneFudgeFactor(double value) {
    if (!std::isfinite(value))
        return 0.0;
    return std::clamp(value, -FudgeFactorLimit, FudgeFactorLimit);
}

double ScheduleNow() {
    const double wall = ClockSource.Now();
    const uint64_t mono = ClockSource.MonotonicMs();
    if (Clock.GuardMonotonic != 0) {
        const double expected = Clock.GuardWall + static_cast<double>(mono - Clock.GuardMonotonic) /
                                                      1000.0 / SecondsPerDay;
        const double jump = wall - expected;
        if (std::fabs(jump) > ClockJumpToleranceDays && Clock.NextDue != 0.0) {
            Clock.ScheduleStart += jump;
            Clock.NextDue += jump;
        }
    }
    Clock.GuardWall = wall;
    Clock.GuardMonotonic = mono;
    return wall;
}

int Open(int sampleRate, int channels, int bitsPerSample, int, int) {
    const TCoreCall call;
    // Asked before the lock: the answer comes from the player's window
    // thread, which may itself be waiting for the lock in Pause.
    const bool same = Clock.OutputActive == 0 || IsPlayersOutputPlugin();
    auto schedule = LockSchedule();
    // A block handed over at the DSP stage whose Write never came (a stop
    // in between) must not cost the new run its first block.
    Clock.HandedOverAtDSP = 0;
    if (sampleRate != Clock.OpenSampleRate) {
        if (Clock.OpenSampleRate != 0) {
            Clock.FramesScheduled = static_cast<int64_t>(
                static_cast<double>(Clock.FramesScheduled) / Clock.OpenSampleRate * sampleRate);
        } else {
            Clock.FramesScheduled = 0;
        }
    }
    Clock.TickStart = ClockSource.Tick();
    Clock.BytesWritten = 0;
    Clock.OutputTimeBase = 0;
    Clock.LastShown = 0;
    Clock.WrittenSinceOpen = 0;
    Clock.OpenChannels = channels;
    Clock.OpenSampleRate = sampleRate;
    Clock.OpenBitsPerSample = bitsPerSample;
    if (Clock.OutputActive == 0) {
        ClearSchedule();
        Clock.OutputActive = 1;
    } else if (!same) {
        Clock.OutputActive = 0;
    }
    schedule.unlock();

    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    if (engine == nullptr)
        return player::OpenResult;
    const bool sameFormat = sampleRate == engine->SampleRate && channels == engine->Channels &&
                            bitsPerSample == engine->BitsPerSample;
    if (Clock.ReopenRequested == 0 && sameFormat)
        return player::OpenResult;
    // A new format lets the last track be heard to its end first; a reopen
    // request (new device, reset) does not wait.
    const bool playOut = Clock.ReopenRequested == 0;
    SetDeviceInUse(GetWantedDevice());
    Clock.ReopenRequested = 0;
    // An idle engine has nothing to close. Closing it anyway would leave its
    // go-idle message queued behind Open's return, where it could overtake the
    // open request of the next block and orphan the device just opened.
    if (engine->State == psIdle)
        return player::OpenResult;
    CloseEngine(*engine, playOut);
    return player::OpenResult;
}

void Close() {
    const TCoreCall call;
    const bool stopping = WinAmpAPIMan != nullptr && WinAmpAPIMan->IsStopping();
    const bool same = IsPlayersOutputPlugin();
    // A track shorter than the pre-buffer may end while the device it
    // opened is still opening; its tail is started below once it is open,
    // so the open is waited for here, before any lock is taken.
    if (!stopping && same && WaveOutPlayThread != nullptr)
        WaitWhileOpening(*WaveOutPlayThread);
    // Never waited for: a hand-off under way hands the kept blocks off itself.
    const auto handOff = TryLockHandOff();
    auto schedule = LockSchedule();
    Clock.Paused = 0;
    // What a pause kept goes on to the next track; a stop ends it.
    if (stopping || !same)
        ForgetKept();
    else if (handOff.owns_lock())
        HandOffKept(schedule, false);
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    if (engine != nullptr && (stopping || !same))
        engine->PostClose();
    else if (engine != nullptr && engine->State == psOpen)
        // Playback goes on, but no more of this track comes: a tail shorter
        // than the pre-buffer (a short track, or the end after the device
        // ran dry) is started, or it would wait for a next track that may
        // never come.
        engine->PostRestart();
    // At most a second either way, and never before the schedule's start.
    const double rate = Clock.OpenSampleRate;
    Clock.LSEFFTS = std::clamp(rate * Clock.SongEndFudgeFactor, -rate, rate);
    Clock.FramesScheduled = std::max<int64_t>(
        0, static_cast<int64_t>(static_cast<double>(Clock.FramesScheduled) + Clock.LSEFFTS));
    if (stopping)
        ClearSchedule();
    if (!same) {
        ClearSchedule();
        Clock.OutputActive = 0;
    }
}

int Write(const char* buffer, int length) {
    const TCoreCall call;
    auto schedule = LockSchedule();
    const double now = ScheduleNow();
    if (length <= 0)
        return 1;
    const double due = Clock.NextDue;
    const bool handedOver = Clock.HandedOverAtDSP != 0;
    const int32_t bits = Clock.OpenBitsPerSample;
    const int32_t channels = Clock.OpenChannels;
    const int32_t rate = Clock.OpenSampleRate;
    // The waits run unlocked: Pause may land in them, which the hand-off
    // below then sees.
    schedule.unlock();
    if (!handedOver)
        PrepareEngine(length, bits, channels, rate);
    if (now <= due)
        WaitUntil(due);
    const auto handOff = LockHandOff();
    schedule.lock();
    Clock.BytesWritten += length;
    // The detector DSP handed this block over already, even if its Quit came
    // in between: handing it off again would play it twice.
    if (Clock.HandedOverAtDSP != 0) {
        Clock.HandedOverAtDSP = 0;
        return 0;
    }
    HandOffLocked(schedule, buffer, length, Clock.OpenBitsPerSample, Clock.OpenChannels,
                  Clock.OpenSampleRate);
    return 0;
}

int CanWrite() {
    const auto schedule = LockSchedule();
    if (Clock.Paused != 0)
        return 0;
    if (ScheduleNow() <= Clock.NextDue)
        return 0;
    return player::CanWriteRoom;
}

int IsPlaying() {
    return 0;
}

int Pause(int pause) {
    const TCoreCall call;
    auto schedule = LockSchedule();
    const int old = Clock.Paused;
    if (old == 0 && pause != 0) {
        Clock.FreshAfterPause = 0;
        Clock.AheadAtPause =
            Clock.NextDue != 0.0 ? std::max(0.0, Clock.NextDue - ScheduleNow()) : 0.0;
        Clock.ShownAtPause = OutputTimeLocked(); // what is heard stops there
        Clock.OutputTimeBase += static_cast<int32_t>(ClockSource.Tick() - Clock.TickStart);
        Clock.BytesWritten = 0;
    }
    if (old != 0 && pause == 0) {
        Clock.TickStart = ClockSource.Tick();
        // The device resumes now, so pacing starts afresh now too, not at
        // the decoder's next Write: a decoder that polls CanWrite comes back
        // a poll later, and a schedule counted from its Write would take that
        // delay off what the device holds ahead, for good, at every pause.
        // The next block still waits what it had left to wait at the pause
        // (up to a block when the pause came during a Write), or each pause
        // would add that much to what the device holds ahead.
        if (Clock.FreshAfterPause == 0) {
            const double start = ScheduleNow() + Clock.AheadAtPause;
            Clock.ScheduleStart = start;
            Clock.NextDue = start;
            Clock.FramesScheduled = 0;
        }
        Clock.FreshAfterPause = 0;
    }
    if (pause != old && pause != 0) {
        ClearSchedule();
        if (WaveOutPlayThread != nullptr)
            WaveOutPlayThread->PostPause();
    }
    Clock.Paused = pause;
    if (pause == 0) {
        // The device resumes now, not at the next block: after a track's
        // last block no other block would come to resume it.
        if (old != 0 && WaveOutPlayThread != nullptr)
            WaveOutPlayThread->PostResume();
        // Not waited for, and no wait for the engine here either: what is
        // left goes first at the decoding thread's next hand-off.
        if (const auto handOff = TryLockHandOff(); handOff.owns_lock())
            HandOffKept(schedule, false);
    }
    return old;
}

void SetVolume(int volume) {
    const TCoreCall call;
    volume = AskPlayerIfOutOfRange(volume, player::IpcSetVolume);
    if (WaveOutPlayThread != nullptr)
        WaveOutPlayThread->PostVolume(volume);
}

void SetPan(int pan) {
    const TCoreCall call;
    pan = AskPlayerIfOutOfRange(pan, player::IpcSetPan);
    if (WaveOutPlayThread != nullptr)
        WaveOutPlayThread->PostPan(pan);
}

void Flush(int timeMs) {
    const TCoreCall call;
    auto schedule = LockSchedule();
    ForgetKept(); // from before the seek
    Clock.OutputTimeBase = timeMs;
    Clock.LastShown = timeMs;
    Clock.ShownAtPause = timeMs;
    Clock.TickStart = ClockSource.Tick();
    Clock.BytesWritten = 0;
    // What the device holds for the old position would be heard after the
    // seek, while the position shows the target. Before this track's first
    // block it is the last track's tail, and a decoder that sets its time
    // at a track start must not cut that.
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    if (engine == nullptr || Clock.DeviceNamed == 0 || Clock.WrittenSinceOpen == 0 ||
        engine->GetTotalBytes() == 0)
        return;
    ClearSchedule();
    if (Clock.Paused != 0)
        Clock.FreshAfterPause = 1;
    schedule.unlock();
    engine->Discard(EngineDiscardWaitMs);
}

int GetOutputTime() {
    const TCoreCall call;
    const auto schedule = LockSchedule();
    return OutputTimeLocked();
}

int GetWrittenTime() {
    const auto schedule = LockSchedule();
    return WrittenTimeLocked();
}

void WaitUntil(double due) {
    const double now = ClockSource.Now();
    if (due < now)
        return;
    const HANDLE timer = Clock.PaceTimer;
    if (timer == nullptr)
        return;
    // A relative due time: a change of the system clock while Write waits
    // cannot stretch the wait (an absolute timer would follow the clock).
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = -static_cast<LONGLONG>(std::ceil((due - now) * FileTimeUnitsPerDay));
    if (!SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, TRUE))
        return;
    WaitForSingleObject(timer, INFINITE);
}

bool IsPlayersOutputPlugin() {
    if (WinAmpAPIMan == nullptr)
        return true;
    const std::string name = WinAmpAPIMan->GetOutputPluginFileName();
    if (name.empty())
        return false;
    const std::string full = FullPathName(Clock.PluginDir + name);
    return !full.empty() && lstrcmpiA(full.c_str(), ThisLibraryFileName.c_str()) == 0;
}

void SetOutDevice(const std::string& name) {
    {
        const std::lock_guard guard(DeviceNameLock);
        if (name == WantedDevice)
            return;
        WantedDevice = name;
    }
    Clock.DeviceNamed = name.empty() ? 0 : 1;
    Clock.ReopenRequested = 1;
}

void RequestReopen() {
    Clock.ReopenRequested = 1;
}
void SetPlaybackFudgeFactor(double value) {
    const auto schedule = LockSchedule();
    Clock.PlaybackFudgeFactor = SaneFudgeFactor(value);
}
void SetSongEndFudgeFactor(double value) {
    const auto schedule = LockSchedule();
    Clock.SongEndFudgeFactor = SaneFudgeFactor(value);
}
double GetLPFFTS() {
    return Clock.LPFFTS;
}
double GetLSEFFTS() {
    return Clock.LSEFFTS;
}

} // namespace qv
