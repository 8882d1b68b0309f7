// The audio output engine: one time-critical thread that owns the wave-out
// device, the buffer pool and the ten-state machine.
//
// How it works.
// - Threads. The engine thread runs Execute: it creates the hidden utility
//   window "QVQuellspringWaveOutPlayUtilWindow", posts itself PTM_GOIDLE and
//   pumps messages until WM_QUIT. Every device call and every handler runs on
//   it. Other threads (the player's decoding thread through the core, the
//   player's window thread for pause, volume, pan and Quit, the configuration
//   window) only post messages to that window, call QueueData and
//   GetTotalBytes (which take Lock briefly), read the snapshot fields and
//   wait on StateEvent.
// - The device reports back by window messages (CALLBACK_WINDOW) to the same
//   window, so device notifications and requests share one queue and are
//   handled in posting order.
// - States. psGoAway -> psIdle (PTM_GOIDLE) -> psInit (RequestOpen) -> psOpen
//   (MM_WOM_OPEN) -> psPlaying (a buffer written) <-> psOpen (ran dry) <->
//   psPaused -> psReset (PTM_CLOSE) -> psClose (MM_WOM_CLOSE) -> psIdle
//   (PTM_GOIDLE). A failed device call gives psError; the core answers with
//   PostClose, which ends in psIdle. psExit is final: the loop has ended.
// - Every assignment of State is followed by SetEvent(StateEvent); the one
//   waiter (WaitForStateChange) resets it after waking.
// - Buffers. Every buffer is in exactly one place: UnusedList, GatherBuffer
//   (QueueData gathers blocks into it under Lock until it is full, or until
//   the engine thread takes it unfilled: at a restart, or when the device is
//   about to run dry), Gathered (filled, in order; QueueData posts a
//   PTM_QUEUEBUFFER without a record to have them taken), inside a posted
//   PTM_QUEUEBUFFER/PTM_UNPREPARE, ToWriteQueue or InQueueList (the device).
//   Every container and counter changes under Lock.
//   The engine owns every buffer it ever allocated in one registry, so that
//   whatever path ends the device or the thread, nothing leaks.
// - Lock is never held across a device call or a post: winmm's calls wait for
//   its own device thread, and the player's thread must not wait for that
//   inside QueueData. Only the engine thread moves buffers between the
//   device-side lists, so a buffer it is handing to the device stays where it
//   is while the call runs.
// - A seek (Discard) drops everything held for the old place: what is being
//   gathered at once on the caller's thread, the rest on the engine thread
//   (PTM_DISCARD: the device is reset, not closed). Until that is done, what
//   QueueData gathers for the new place is not taken, so it is never dropped.
// - The PTM_CLOSE handler and the exit path dispatch pending messages while
//   they run; every handler therefore tolerates being entered from inside
//   another.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <windows.h>
#include <mmsystem.h>

#include "engine/Custahwnd.h"
#include "engine/WaveOutApi.h"

enum TPlayState : uint8_t {
    psGoAway = 0,
    psIdle = 1,
    psInit = 2,
    psOpen = 3,
    psPlaying = 4,
    psPaused = 5,
    psClose = 6,
    psReset = 7,
    psExit = 8,
    psError = 9,
};

// Display name of a state value; "Unkown" outside 0..9.
const char* PlayStateName(unsigned value);

// The utility window's own messages.
constexpr UINT PTM_GOIDLE = WM_USER + 0;
constexpr UINT PTM_OPEN = WM_USER + 1;
constexpr UINT PTM_QUEUEBUFFER = WM_USER + 2;
constexpr UINT PTM_RESTART = WM_USER + 3;
constexpr UINT PTM_CLOSE = WM_USER + 4;
constexpr UINT PTM_UNPREPARE = WM_USER + 5;
constexpr UINT PTM_FLUSH = WM_USER + 6;
constexpr UINT PTM_SETVOLUMEPAN = WM_USER + 7;
constexpr UINT PTM_SETVOLUME = WM_USER + 8;
constexpr UINT PTM_SETPAN = WM_USER + 9;
constexpr UINT PTM_GETRATE = WM_USER + 10;
constexpr UINT PTM_SETRATE = WM_USER + 11;
constexpr UINT PTM_PAUSE = WM_USER + 12;
// Drops all audio held for the old position (Discard).
constexpr UINT PTM_DISCARD = WM_USER + 13;

// "PTM_OPEN", "MM_WOM_DONE", ...; other values as "WM(n)".
std::string EngineMessageName(UINT message);

// The playback rate that means normal speed (16.16 fixed point).
constexpr DWORD NormalPlaybackRate = 0x00010000;

// One PCM block handed to QueueData; the bytes are copied before it returns.
struct QueueBlock {
    int32_t SampleRate;
    int32_t Channels;
    int32_t BitsPerSample;
    uint32_t ByteCount;
    const void* Data;
};

// One entry of the output-device list: the device id (-1 = the wave mapper)
// and the name under which the whole system knows it.
struct TWaveOutDevice {
    int32_t Id;
    std::string Name;
};

// The output devices by id from -1 up, product names made unique by "(2)",
// "(3)", ... (compared ignoring letter case). The configuration window shows
// this list; DeviceNameToId looks names up in it.
std::vector<TWaveOutDevice> WaveOutDeviceList(TWaveOutApi& api = WinmmWaveOut());
// The id listed under exactly this name (letter case included); -2 for "" or
// a name that is not listed.
int32_t DeviceNameToId(const std::string& name, TWaveOutApi& api = WinmmWaveOut());

// Figures the benchmarks and tests read; counting costs a few instructions.
struct TEngineStats {
    std::atomic<uint32_t> BuffersAllocated{0};
    std::atomic<uint32_t> BuffersFreed{0};
    // psPlaying -> psOpen transitions: the device ran dry.
    std::atomic<uint32_t> DryRuns{0};
    // The longest time Lock was held, outermost entry to last exit.
    std::atomic<int64_t> LockHoldMaxNs{0};
    // Buffers left to a device that would not close: never freed, since the
    // device may still write into them.
    std::atomic<uint32_t> BuffersAbandoned{0};
    // Closes whose device had not played out all it was given within the
    // bound: the rest of its sound may have been cut.
    std::atomic<uint32_t> PlayOutsCutShort{0};
};

class TWaveOutPlayThread {
public:
    explicit TWaveOutPlayThread(bool CreateSuspended = false);
    // The same engine on another device binding (the tests' fake).
    explicit TWaveOutPlayThread(TWaveOutApi& api, bool CreateSuspended = false);
    ~TWaveOutPlayThread();
    TWaveOutPlayThread(const TWaveOutPlayThread&) = delete;
    TWaveOutPlayThread& operator=(const TWaveOutPlayThread&) = delete;

    // The scoped lock guard: every path out of a handler releases Lock.
    class TWaveOutPlayThreadCSBomb {
    public:
        explicit TWaveOutPlayThreadCSBomb(TWaveOutPlayThread* owner);
        ~TWaveOutPlayThreadCSBomb();
        TWaveOutPlayThreadCSBomb(const TWaveOutPlayThreadCSBomb&) = delete;
        TWaveOutPlayThreadCSBomb& operator=(const TWaveOutPlayThreadCSBomb&) = delete;

    private:
        TWaveOutPlayThread* Owner;
    };

    // Thread object services.
    void Start(); // only for an engine created suspended
    void SetPriority(int priority);
    int GetPriority() const;
    void Terminate() { TerminatedFlag = true; }
    bool Terminated() const { return TerminatedFlag; }
    // Waits until the thread has ended; returns its exit code.
    DWORD WaitFor();
    HANDLE Handle() const { return ThreadHandle.get(); }
    DWORD ThreadID() const { return ThreadId; }

    // Operations for other threads.
    void WaitForStateChange(int32_t ms);
    bool RequestOpen(const std::string& name, int32_t sampleRate, int32_t channels,
                     int32_t bitsPerSample, int32_t blockBytes);
    void QueueData(const QueueBlock& block);
    // Starts (or resumes) writing; asked while the device opens, it starts
    // the device as soon as it is open.
    void PostRestart();
    // A restart that only resumes a paused device: posted behind the pause
    // it undoes, it finds the engine paused if the pause took effect.
    void PostResume();
    void PostClose();
    void PostPause();
    void PostVolume(int32_t volume);
    void PostPan(int32_t pan);
    // A seek: drops all audio held for the old position, what is gathered at
    // once, what is queued and what is in the device on the engine thread;
    // the device stays open, runs on empty and plays what comes next. Waits
    // until the engine thread has done it, at most `waitMs`; false if not.
    bool Discard(DWORD waitMs);
    int32_t GetTotalBytes();
    // What the held audio holds ahead of what the device is playing: the
    // total, less the part of the buffer being played that has been heard.
    int32_t GetHeldAheadBytes();
    // The clock that times the buffer being played, in nanoseconds; tests
    // move it by hand.
    static int64_t SystemNs();
    int64_t (*NowNs)() = &SystemNs;
    void Quit();
    int32_t DeviceNameToId(const std::string& name);
    // The requested device name and the format given to the device, read under Lock.
    std::string GetDeviceName();
    WAVEFORMATEX GetWaveFormat();
    // Buffers allocated and not yet freed.
    size_t LiveBuffers();
    // Times the device ran dry while playing since it was last opened.
    uint32_t GetUnderruns() const { return Stats.DryRuns - DryRunsAtOpen; }
    // The last state changes (at most StateHistorySize), oldest first.
    std::vector<uint8_t> StateHistory() const;
    static constexpr uint32_t StateHistorySize = 64;

    // Snapshots other threads read without the lock.
    std::atomic<uint8_t> State{psGoAway};
    std::atomic<int32_t> SampleRate{0};
    std::atomic<int32_t> BitsPerSample{0};
    std::atomic<int32_t> Channels{0};
    std::atomic<uint32_t> BlockAlign{0};
    std::atomic<uint32_t> BuffSize{0};
    std::atomic<uint32_t> BlockBytes{0};
    std::atomic<int32_t> UnusedCount{0};
    std::atomic<int32_t> ToWriteCount{0};
    std::atomic<int32_t> InQueueCount{0};
    std::atomic<int32_t> ToWriteBytes{0};
    std::atomic<int32_t> InQueueBytes{0};
    // Bytes of buffers filled by QueueData and not yet taken in by the engine
    // thread; part of the held audio (GetTotalBytes).
    std::atomic<int32_t> PostedBytes{0};
    std::atomic<int32_t> Volume{255};
    std::atomic<int32_t> Pan{0};
    std::atomic<HWND> UtilWindow{nullptr};
    std::atomic<HWAVEOUT> DeviceHandle{nullptr};
    TEngineStats Stats;

private:
    std::atomic<uint32_t> DryRunsAtOpen{0};
    // Bytes the device accepted since it was opened, modulo 2^32 as the
    // device's own byte position runs (engine thread only).
    uint32_t BytesToDevice = 0;
    // When the last done notification came (SystemNs; engine thread only).
    int64_t LastDoneNs = 0;
    struct TCriticalSectionDeleter {
        void operator()(CRITICAL_SECTION* section) const;
    };
    struct THandleCloser {
        void operator()(HANDLE handle) const;
    };
    using TOwnedHandle = std::unique_ptr<void, THandleCloser>;

    // Declared in the order of acquisition, so that a half-built engine
    // unwinds cleanly.
    TWaveOutApi& Api;
    std::unique_ptr<CRITICAL_SECTION, TCriticalSectionDeleter> Lock;
    int LockDepth = 0;           // touched only by the thread holding Lock
    LARGE_INTEGER LockEntered{}; // ditto
    TOwnedHandle StateEventOwner;
    HANDLE StateEvent = nullptr;
    std::string DeviceName;
    WAVEFORMATEX WaveFormat{};
    struct TBufferBlock {
        std::unique_ptr<std::byte[]> Memory; // the header, then its bytes
    };
    std::unordered_map<WAVEHDR*, TBufferBlock> Buffers;
    std::vector<WAVEHDR*> UnusedList;
    std::vector<WAVEHDR*> InQueueList;
    std::deque<WAVEHDR*> ToWriteQueue;
    // The buffer QueueData is gathering blocks into, under Lock; counted in
    // PostedBytes. Not yet seen by the engine thread, it is in no list.
    WAVEHDR* GatherBuffer = nullptr;
    // Filled by QueueData, not yet taken by the engine thread, in order.
    std::deque<WAVEHDR*> Gathered;
    // When the device began the buffer it plays (NowNs), and how far into
    // it a pause stopped it; engine thread writes, readers take Lock.
    std::atomic<int64_t> HeadStarted{0};
    int64_t PlayedAtPause = 0;
    int64_t NextHeadStart(uint32_t doneBytes) const;
    bool CloseInProgress = false; // engine thread only
    // A restart asked for while the device opened (under Lock).
    bool RestartWhenOpen = false;
    // Discards asked for and done, each changed under Lock: while one is
    // pending, what QueueData gathers is for the new position and waits.
    uint32_t DiscardsAsked = 0;
    uint32_t DiscardsDone = 0;
    TOwnedHandle DiscardDone; // set at each discard done
    // Open requests so far; each go-idle carries the count at its posting.
    std::atomic<uint32_t> OpenRequests{0};
    std::atomic<uint8_t> StateRing[StateHistorySize] = {};
    std::atomic<uint32_t> StateRingCount{0};
    std::atomic<bool> TerminatedFlag{false};
    std::atomic<DWORD> ThreadId{0};
    DWORD ReturnValue = 0;
    TOwnedHandle ThreadHandle;

    static unsigned __stdcall ThreadProc(void* self);
    void Execute();
    void ShutDown();
    void PumpMessages();
    void DrainMessages();
    void DrainWaveMessages();
    bool OnEngineThread() const;
    void SetState(TPlayState state);
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void WndProc(TMessage& message);

    // Buffers.
    WAVEHDR* AllocateBuffer();
    void FreeBuffer(WAVEHDR* header);
    bool OwnsBuffer(WAVEHDR* header);
    bool ReceiveBuffer(WAVEHDR* header);
    // Copies what fits of `wanted` bytes into the buffer being gathered;
    // `filled` once that buffer is full. 0 when the pool is gone.
    uint32_t Gather(const std::byte* data, uint32_t wanted, bool& filled);
    WAVEHDR* TakeGathered(bool unfilled);
    WAVEHDR* TakeUnused();
    WAVEHDR* TakeSpare();
    void EndOnWholeGroup(WAVEHDR* header);
    // The bytes a buffer ends on a multiple of; 0 for any whole frame.
    uint32_t GroupBytes() const;
    void ReceiveGathered(bool unfilled);
    void DropGathered();
    void GrowPool(int count);
    void FreePool();
    void FreeAllBuffers();
    void ReleaseInQueue(bool deviceClosed = true);
    void UnprepareInQueue(HWAVEOUT handle);
    void WriteQueued();
    void FlushQueue();
    void SizeBuffers();
    // A whole frame and a byte rate that fits the format's 32-bit field.
    bool FramesFit() const;

    // Handlers.
    void OnQueueBuffer(WAVEHDR* header);
    void OnUnprepare(WAVEHDR* header);
    void OnWaveDone(HWAVEOUT handle, WAVEHDR* header);
    void OnOpen();
    void FailOpen();
    void OnWaveOpen(HWAVEOUT handle);
    void OnRestart();
    void OnPause();
    void OnDiscard();
    void OnClose();
    void AwaitPlayedOut(HWAVEOUT handle);
    bool PlaySilenceBehind();
    // `started`: when the close began (CloseRetryMs).
    bool CloseDevice(HWAVEOUT handle, DWORD started);
    void PostGoIdle();
    void OnWaveClose();
    void OnGoIdle();
    void SetVolumeValue(int32_t volume);
    void ApplyVolume();
    LRESULT OnGetRate();
    LRESULT OnSetRate(DWORD rate);
};
