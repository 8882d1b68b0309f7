#include "engine/Waveoutplaythreadunit.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <process.h>

#include "host/Errors.h"

namespace {

const char UtilWindowClass[] = "QVQuellspringWaveOutPlayUtilWindow";
// The multimedia notifications (MM_JOY1MOVE .. MM_MCISIGNAL), which hold the
// three wave-out ones.
constexpr UINT WaveMessageFirst = 0x03B9;
constexpr UINT WaveMessageLast = 0x03CA;
constexpr int PoolGrowth = 25;
// How long a close goes on retrying while the device says it still plays,
// counted from the start of the close: the wait for a device that ran dry to
// play out (AwaitPlayedOut, up to a second) comes out of it, and one try is
// always made. After a reset the device owes us only its notifications, so
// this bound is never reached by a working device; it keeps a broken one
// from hanging the player, whose Write may be waiting for the close: a block
// and a second at most.
constexpr DWORD CloseRetryMs = 1000;
// A device buffer gathers whole blocks until it holds at least this much:
// every buffer costs a prepare, a write, a completion message and an
// unprepare, whatever its size, so the player's 13 ms blocks go to the
// device four at a time (52 ms). It is also the floor that keeps a tiny
// first block from splitting every later one into dozens of posted messages
// (the queue holds 10,000 and drops what comes beyond). The ceiling keeps a
// huge block from making every pooled buffer huge.
constexpr int64_t GatherMs = 50;
constexpr int64_t BufferCeilingMs = 1000;
// The device is about to run dry when it holds no more than this many
// buffers: what is being gathered then goes to it unfilled.
constexpr int32_t LowWaterBuffers = 1;
// How late a completion message may come and still be timed from the end of
// the buffer before it rather than from its own arrival. On a busy machine
// the messages come tens of ms late; a gap the device plays through shows
// as a message later still.
constexpr int64_t CompletionSlackMs = 40;
// PTM_RESTART's wParam for a restart that only resumes a paused device.
constexpr WPARAM ResumeOnly = 1;
// A device that ran dry plays on this long after its last done notification
// before a close resets it, and waits for its position no longer than the
// margin beyond what it still holds; the longest a close waits for either
// (AwaitPlayedOut).
constexpr int64_t PlayOutGraceMs = 50;
constexpr int64_t PositionMarginMs = 60;
constexpr int64_t PlayOutLongestMs = 500;
// Written behind the last buffer before such a close (PlaySilenceBehind).
constexpr int64_t TrailingSilenceMs = 20;
// Wine's wave-out takes 24-bit audio in groups of four frames, each buffer
// on its own: a buffer that ends one or two frames into a group is never
// played to its last frame, and the device's position stops short of it.
// So every buffer of 24-bit audio ends on a whole group.
constexpr uint32_t GroupFrames24 = 4;

struct TNamedMessage {
    UINT Value;
    const char* Name;
};

constexpr TNamedMessage MessageNames[] = {
    {WM_DESTROY, "WM_DESTROY"},
    {MM_WOM_OPEN, "MM_WOM_OPEN"},
    {MM_WOM_CLOSE, "MM_WOM_CLOSE"},
    {MM_WOM_DONE, "MM_WOM_DONE"},
    {PTM_GOIDLE, "PTM_GOIDLE"},
    {PTM_OPEN, "PTM_OPEN"},
    {PTM_QUEUEBUFFER, "PTM_QUEUEBUFFER"},
    {PTM_RESTART, "PTM_RESTART"},
    {PTM_CLOSE, "PTM_CLOSE"},
    {PTM_UNPREPARE, "PTM_UNPREPARE"},
    {PTM_FLUSH, "PTM_FLUSH"},
    {PTM_SETVOLUMEPAN, "PTM_SETVOLUMEPAN"},
    {PTM_SETVOLUME, "PTM_SETVOLUME"},
    {PTM_SETPAN, "PTM_SETPAN"},
    {PTM_GETRATE, "PTM_GETRATE"},
    {PTM_SETRATE, "PTM_SETRATE"},
    {PTM_PAUSE, "PTM_PAUSE"},
    {PTM_DISCARD, "PTM_DISCARD"},
};

// A name for debuggers and profilers; systems before Windows 10 have no
// such call, so it is looked up rather than linked.
void NameThisThread(const wchar_t* name) {
    using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto set = kernel != nullptr ? reinterpret_cast<TSetDescription>(reinterpret_cast<void*>(
                                             GetProcAddress(kernel, "SetThreadDescription")))
                                       : nullptr;
    if (set != nullptr)
        set(GetCurrentThread(), name);
}

int64_t QpcNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Whole seconds first: a counter reading times 10^9 would overflow.
int64_t QpcToNs(int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t perSecond = frequency.QuadPart;
    return ticks / perSecond * 1000000000LL + ticks % perSecond * 1000000000LL / perSecond;
}

std::string ProductName(const WAVEOUTCAPSA& caps) {
    return std::string(caps.szPname, strnlen(caps.szPname, sizeof(caps.szPname)));
}

bool ListedIgnoringCase(const std::vector<TWaveOutDevice>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const TWaveOutDevice& device) {
        return lstrcmpiA(device.Name.c_str(), name.c_str()) == 0;
    });
}

UINT_PTR CapsId(int32_t id) {
    return id == -1 ? UINT_PTR(WAVE_MAPPER) : UINT_PTR(UINT(id));
}

WAVEHDR* RecordOf(WPARAM wParam) {
    return reinterpret_cast<WAVEHDR*>(wParam);
}

} // namespace

const char* PlayStateName(unsigned value) {
    static const char* const names[] = {"GoAway", "Idle",  "Init",  "Open", "Playing",
                                        "Paused", "Close", "Reset", "Exit", "Error"};
    return value < 10 ? names[value] : "Unkown";
}

std::string EngineMessageName(UINT message) {
    for (const TNamedMessage& entry : MessageNames)
        if (entry.Value == message)
            return entry.Name;
    return "WM(" + std::to_string(message) + ")";
}

std::vector<TWaveOutDevice> WaveOutDeviceList(TWaveOutApi& api) {
    std::vector<TWaveOutDevice> list;
    const int64_t count = api.GetNumDevs();
    for (int64_t id = -1; id < count; ++id) {
        WAVEOUTCAPSA caps{};
        if (api.GetDevCaps(CapsId(int32_t(id)), &caps) != MMSYSERR_NOERROR)
            continue;
        const std::string product = ProductName(caps);
        std::string name = product;
        for (int suffix = 2; ListedIgnoringCase(list, name); ++suffix)
            name = product + "(" + std::to_string(suffix) + ")";
        list.push_back({int32_t(id), name});
    }
    return list;
}

int32_t DeviceNameToId(const std::string& name, TWaveOutApi& api) {
    if (name.empty())
        return -2;
    for (const TWaveOutDevice& device : WaveOutDeviceList(api))
        if (device.Name == name)
            return device.Id;
    return -2;
}

// ---------------------------------------------------------------------------
// Construction, the thread and its message loop

void TWaveOutPlayThread::TCriticalSectionDeleter::operator()(CRITICAL_SECTION* section) const {
    DeleteCriticalSection(section);
    delete section;
}

void TWaveOutPlayThread::THandleCloser::operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

TWaveOutPlayThread::TWaveOutPlayThreadCSBomb::TWaveOutPlayThreadCSBomb(TWaveOutPlayThread* owner)
    : Owner(owner) {
    EnterCriticalSection(Owner->Lock.get());
    if (++Owner->LockDepth == 1)
        Owner->LockEntered.QuadPart = QpcNow();
}

TWaveOutPlayThread::TWaveOutPlayThreadCSBomb::~TWaveOutPlayThreadCSBomb() {
    if (--Owner->LockDepth == 0) {
        const int64_t held = QpcToNs(QpcNow() - Owner->LockEntered.QuadPart);
        int64_t longest = Owner->Stats.LockHoldMaxNs;
        while (held > longest && !Owner->Stats.LockHoldMaxNs.compare_exchange_weak(longest, held)) {
        }
    }
    LeaveCriticalSection(Owner->Lock.get());
}

TWaveOutPlayThread::TWaveOutPlayThread(bool CreateSuspended)
    : TWaveOutPlayThread(WinmmWaveOut(), CreateSuspended) {}

TWaveOutPlayThread::TWaveOutPlayThread(TWaveOutApi& api, bool CreateSuspended) : Api(api) {
    auto section = std::make_unique<CRITICAL_SECTION>();
    InitializeCriticalSection(section.get());
    Lock.reset(section.release());
    StateEventOwner.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    StateEvent = StateEventOwner.get();
    if (StateEvent == nullptr)
        throw EQvError("Unable to create the output engine's state event.");
    DiscardDone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (DiscardDone == nullptr)
        throw EQvError("Unable to create the output engine's discard event.");
    // Created suspended so that the thread never sees a half-built object.
    unsigned id = 0;
    ThreadHandle.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &TWaveOutPlayThread::ThreadProc, this, CREATE_SUSPENDED, &id)));
    if (ThreadHandle == nullptr)
        throw EQvError("Unable to create the output engine thread.");
    ThreadId = id;
    if (!CreateSuspended)
        Start();
}

TWaveOutPlayThread::~TWaveOutPlayThread() {
    // The owner ends the thread first (Quit, WaitFor); an owner that did not
    // must not leave the thread running on a freed object.
    if (WaitForSingleObject(ThreadHandle.get(), 0) == WAIT_TIMEOUT) {
        Quit();
        Start();
        WaitForSingleObject(ThreadHandle.get(), INFINITE);
    }
    {
        TWaveOutPlayThreadCSBomb guard(this);
        FreeAllBuffers();
    }
    SetEvent(StateEvent);
}

void TWaveOutPlayThread::Start() {
    ResumeThread(ThreadHandle.get());
}

void TWaveOutPlayThread::SetPriority(int priority) {
    SetThreadPriority(ThreadHandle.get(), priority);
}

int TWaveOutPlayThread::GetPriority() const {
    return GetThreadPriority(ThreadHandle.get());
}

DWORD TWaveOutPlayThread::WaitFor() {
    WaitForSingleObject(ThreadHandle.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeThread(ThreadHandle.get(), &code);
    return code;
}

unsigned __stdcall TWaveOutPlayThread::ThreadProc(void* self) {
    auto* engine = static_cast<TWaveOutPlayThread*>(self);
    engine->ThreadId = GetCurrentThreadId();
    NameThisThread(L"qv_engine");
    // Nothing may unwind out of a thread procedure.
    try {
        engine->Execute();
    } catch (...) {
    }
    try {
        engine->ShutDown();
    } catch (...) {
    }
    return engine->ReturnValue;
}

void TWaveOutPlayThread::Execute() {
    // Gives the thread its message queue before anybody can miss it: Quit
    // marks the engine terminated before it posts, so a quit posted before
    // this point is seen below.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = UtilWindowClass;
    UtilWindow = CustAllocateHWnd(
        windowClass, TWndMethod::Of<TWaveOutPlayThread, &TWaveOutPlayThread::WndProc>(*this));
    if (UtilWindow == nullptr || Terminated())
        return;
    PostGoIdle();
    PumpMessages();
}

void TWaveOutPlayThread::ShutDown() {
    const DWORD closeStarted = GetTickCount();
    if (const HWAVEOUT handle = DeviceHandle; handle != nullptr)
        AwaitPlayedOut(handle); // a quit right after the last track was heard
    {
        TWaveOutPlayThreadCSBomb guard(this);
        SetState(psExit);
    }
    DropGathered();
    if (const HWAVEOUT handle = DeviceHandle; handle != nullptr) {
        CloseInProgress = true; // a close request drained below has nothing to do
        Api.Reset(handle);
        UnprepareInQueue(handle);
        const bool closed = CloseDevice(handle, closeStarted);
        // Late notifications for the closed handle are ignored from here on.
        DeviceHandle = nullptr;
        DrainWaveMessages();
        ReleaseInQueue(closed);
    }
    FreePool();
    if (IsWindow(UtilWindow))
        DrainMessages();
    CustDeallocateHWnd(UtilWindow);
    UtilWindow = nullptr;
    DrainMessages();
    // Whatever the device, a queue or a discarded message still held.
    // QueueData fills buffers under Lock only, and gathers nothing once the
    // state is psExit, so no other thread is inside one.
    TWaveOutPlayThreadCSBomb guard(this);
    FreeAllBuffers();
}

void TWaveOutPlayThread::PumpMessages() {
    if (!OnEngineThread())
        return;
    MSG message;
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            ReturnValue = DWORD(message.wParam);
            return;
        }
        if (got == -1)
            return;
        DispatchMessageA(&message);
    }
}

void TWaveOutPlayThread::DrainMessages() {
    if (!OnEngineThread())
        return;
    bool quit = false;
    WPARAM code = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            code = message.wParam;
            continue;
        }
        DispatchMessageA(&message);
    }
    if (quit) {
        PostThreadMessageA(ThreadId, WM_QUIT, code, 0);
        Terminate();
    }
}

void TWaveOutPlayThread::DrainWaveMessages() {
    if (!OnEngineThread())
        return;
    MSG message;
    while (PeekMessageA(&message, nullptr, WaveMessageFirst, WaveMessageLast, PM_REMOVE))
        DispatchMessageA(&message);
}

bool TWaveOutPlayThread::OnEngineThread() const {
    return GetCurrentThreadId() == ThreadId;
}

void TWaveOutPlayThread::SetState(TPlayState state) {
    // psExit is final: nothing handled while the thread winds down may make
    // the engine look alive again. psError stays until a close: a write that
    // succeeds after one that failed must not hide the failure from the core.
    const uint8_t current = State;
    const bool hidesError =
        current == psError && (state == psOpen || state == psPlaying || state == psPaused);
    if (current != psExit && !hidesError) {
        State = state;
        if (state != current)
            StateRing[StateRingCount++ % StateHistorySize] = state;
    }
    SetEvent(StateEvent);
}

std::vector<uint8_t> TWaveOutPlayThread::StateHistory() const {
    const uint32_t count = StateRingCount;
    const uint32_t first = count > StateHistorySize ? count - StateHistorySize : 0;
    std::vector<uint8_t> history;
    for (uint32_t i = first; i < count; ++i)
        history.push_back(StateRing[i % StateHistorySize]);
    return history;
}

bool TWaveOutPlayThread::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = UtilWindow;
    return window != nullptr && PostMessageA(window, message, wParam, lParam) != 0;
}

void TWaveOutPlayThread::Quit() {
    try {
        Terminate();
        if (OnEngineThread())
            PostQuitMessage(0);
        else
            PostThreadMessageA(ThreadId, WM_QUIT, 0, 0);
    } catch (...) {
    }
}

void TWaveOutPlayThread::WaitForStateChange(int32_t ms) {
    if (!Terminated())
        WaitForSingleObject(StateEvent, DWORD(std::max<int32_t>(ms, 0)));
    ResetEvent(StateEvent);
}

void TWaveOutPlayThread::WndProc(TMessage& message) {
    const WPARAM w = message.WParam;
    switch (message.Msg) {
    case WM_DESTROY:
        Quit();
        break;
    case MM_WOM_OPEN:
        OnWaveOpen(reinterpret_cast<HWAVEOUT>(w));
        return;
    case MM_WOM_CLOSE:
        OnWaveClose();
        return;
    case MM_WOM_DONE:
        OnWaveDone(reinterpret_cast<HWAVEOUT>(w), reinterpret_cast<WAVEHDR*>(message.LParam));
        return;
    case PTM_GOIDLE:
        // A go-idle posted before the latest open request belongs to an
        // earlier close: acting on it would wipe or close the new open.
        if (w == WPARAM(OpenRequests.load()))
            OnGoIdle();
        return;
    case PTM_OPEN:
        OnOpen();
        return;
    case PTM_QUEUEBUFFER:
        // From QueueData without a record: take what it has gathered. With
        // one: a buffer the device refused as unprepared, to prepare again.
        if (w == 0)
            ReceiveGathered(false);
        else
            OnQueueBuffer(RecordOf(w));
        return;
    case PTM_RESTART:
        if (w != ResumeOnly || State == psPaused)
            OnRestart();
        return;
    case PTM_CLOSE:
        if (w == WPARAM(OpenRequests.load()))
            OnClose();
        return;
    case PTM_UNPREPARE:
        OnUnprepare(RecordOf(w));
        return;
    case PTM_FLUSH:
        DropGathered();
        FlushQueue();
        return;
    case PTM_SETVOLUMEPAN:
        SetVolumeValue(int32_t(w));
        Pan = int32_t(message.LParam);
        ApplyVolume();
        return;
    case PTM_SETVOLUME:
        SetVolumeValue(int32_t(w));
        ApplyVolume();
        return;
    case PTM_SETPAN:
        Pan = int32_t(message.LParam);
        ApplyVolume();
        return;
    case PTM_GETRATE:
        message.Result = OnGetRate();
        return;
    case PTM_SETRATE:
        message.Result = OnSetRate(DWORD(w));
        return;
    case PTM_PAUSE:
        OnPause();
        return;
    case PTM_DISCARD:
        OnDiscard();
        return;
    default:
        break;
    }
    message.Result = DefWindowProcA(UtilWindow, message.Msg, w, message.LParam);
}

// ---------------------------------------------------------------------------
// Operations for other threads

bool TWaveOutPlayThread::RequestOpen(const std::string& name, int32_t sampleRate, int32_t channels,
                                     int32_t bitsPerSample, int32_t blockBytes) {
    // An exiting engine opens nothing: its exit path has closed the device
    // already, and nothing would close one opened after it.
    if (DeviceHandle != nullptr || Terminated() || State == psExit)
        return false;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        // Any go-idle posted before this request belongs to an earlier close.
        ++OpenRequests;
        if (name == DeviceName && sampleRate == SampleRate && channels == Channels &&
            bitsPerSample == BitsPerSample && uint32_t(blockBytes) == BlockBytes)
            return true;
        // Another open is pending: its pool holds buffers of its own size.
        if (BuffSize != 0)
            return false;
        DeviceName = name;
        SampleRate = sampleRate;
        Channels = channels;
        BitsPerSample = bitsPerSample;
        BlockBytes = uint32_t(blockBytes);
        // The pool is ready before the device is: blocks handed over while
        // it opens wait in it, in order, and play once it is open.
        BlockAlign = uint32_t(std::max<int32_t>(channels * (bitsPerSample / 8), 0));
        SizeBuffers();
        GrowPool(PoolGrowth);
        RestartWhenOpen = false;
        SetState(psInit);
    }
    Post(PTM_OPEN);
    return true;
}

void TWaveOutPlayThread::PostRestart() {
    {
        // Posted now, it would find the device not yet open and be lost.
        TWaveOutPlayThreadCSBomb guard(this);
        if (State == psInit) {
            RestartWhenOpen = true;
            return;
        }
    }
    if (DeviceHandle != nullptr)
        Post(PTM_RESTART);
}

void TWaveOutPlayThread::PostResume() {
    if (DeviceHandle != nullptr)
        Post(PTM_RESTART, ResumeOnly);
}

// A close, like a go-idle, carries the count of open requests made before it:
// one still queued when the next open is requested belongs to the device
// before, which is closed already, and must not close the new one.
void TWaveOutPlayThread::PostClose() {
    Post(PTM_CLOSE, WPARAM(OpenRequests.load()));
}
void TWaveOutPlayThread::PostPause() {
    Post(PTM_PAUSE);
}
void TWaveOutPlayThread::PostVolume(int32_t volume) {
    Post(PTM_SETVOLUME, WPARAM(volume));
}
void TWaveOutPlayThread::PostPan(int32_t pan) {
    Post(PTM_SETPAN, 0, LPARAM(pan));
}

bool TWaveOutPlayThread::Discard(DWORD waitMs) {
    uint32_t ticket = 0;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        // What the engine thread has not taken goes at once, before the
        // caller can gather the new position's first block behind it.
        DropGathered();
        RestartWhenOpen = false;
        ticket = ++DiscardsAsked;
    }
    if (!Post(PTM_DISCARD)) {
        // No engine thread to do it: nothing is in a device either, and the
        // next blocks must not wait for it.
        TWaveOutPlayThreadCSBomb guard(this);
        DiscardsDone = DiscardsAsked;
        return false;
    }
    const DWORD started = GetTickCount();
    for (;;) {
        // Reset before the test: a discard done in between sets it again.
        ResetEvent(DiscardDone.get());
        {
            TWaveOutPlayThreadCSBomb guard(this);
            if (int32_t(DiscardsDone - ticket) >= 0)
                return true;
        }
        const DWORD spent = GetTickCount() - started;
        if (spent >= waitMs || State == psExit)
            return false;
        WaitForSingleObject(DiscardDone.get(), waitMs - spent);
    }
}

int32_t TWaveOutPlayThread::GetTotalBytes() {
    TWaveOutPlayThreadCSBomb guard(this);
    return PostedBytes + ToWriteBytes + InQueueBytes;
}

// The next buffer began where the one that came back ended, as long as the
// device played on: a completion message arrives a little after the end,
// later still on a busy machine, and timing from its arrival would put the
// shown position behind the sound. The message is the bound either way: the
// end cannot have been after it, nor (the device's clock drifting, or a gap
// it played through) long before it.
int64_t TWaveOutPlayThread::NextHeadStart(uint32_t doneBytes) const {
    const int64_t now = NowNs();
    const int64_t rate = SampleRate;
    const int64_t align = BlockAlign;
    if (rate <= 0 || align <= 0)
        return now;
    const int64_t ended = HeadStarted + int64_t(doneBytes) / align * 1000000000LL / rate;
    return std::clamp(ended, now - CompletionSlackMs * 1000000LL, now);
}

int64_t TWaveOutPlayThread::SystemNs() {
    return QpcToNs(QpcNow());
}

int32_t TWaveOutPlayThread::GetHeldAheadBytes() {
    TWaveOutPlayThreadCSBomb guard(this);
    const int32_t total = PostedBytes + ToWriteBytes + InQueueBytes;
    if (State != psPlaying || InQueueList.empty() || BlockAlign == 0 || SampleRate <= 0)
        return total;
    // The device tells only when it is done with a buffer; the one it plays
    // now began when the one before it came back (or when it was written to
    // a device that held nothing). It plays on into the buffers queued
    // behind it whether or not their messages have come, which on a busy
    // machine are late.
    const int64_t ns = std::max<int64_t>(NowNs() - HeadStarted, 0);
    const int64_t frames = ns * SampleRate / 1000000000LL;
    const int64_t played = std::min<int64_t>(frames * BlockAlign, InQueueBytes);
    return total - int32_t(played);
}

int32_t TWaveOutPlayThread::DeviceNameToId(const std::string& name) {
    return ::DeviceNameToId(name, Api);
}

std::string TWaveOutPlayThread::GetDeviceName() {
    TWaveOutPlayThreadCSBomb guard(this);
    return DeviceName;
}

WAVEFORMATEX TWaveOutPlayThread::GetWaveFormat() {
    TWaveOutPlayThreadCSBomb guard(this);
    return WaveFormat;
}

size_t TWaveOutPlayThread::LiveBuffers() {
    TWaveOutPlayThreadCSBomb guard(this);
    return Buffers.size();
}

void TWaveOutPlayThread::QueueData(const QueueBlock& block) {
    // No device handle yet is fine: while an open is under way the pool is
    // sized (BuffSize) and the buffers are prepared after the open.
    if (block.Data == nullptr)
        return;
    if (block.SampleRate != SampleRate || block.Channels != Channels ||
        block.BitsPerSample != BitsPerSample)
        return;
    const auto* data = static_cast<const std::byte*>(block.Data);
    uint32_t remaining = block.ByteCount;
    while (remaining > 0) {
        bool filled = false;
        const uint32_t piece = Gather(data, remaining, filled);
        if (piece == 0)
            return; // closed meanwhile: the rest of the block has nowhere to go
        // Only a filled buffer wakes the engine thread; a block that just
        // joins the buffer being gathered costs it nothing. Should the post
        // fail, the engine takes the buffer at its next wake.
        if (filled)
            Post(PTM_QUEUEBUFFER);
        data += piece;
        remaining -= piece;
    }
}

uint32_t TWaveOutPlayThread::Gather(const std::byte* data, uint32_t wanted, bool& filled) {
    TWaveOutPlayThreadCSBomb guard(this);
    // A close on the engine thread may have ended the pool between two pieces.
    const uint32_t size = BuffSize;
    filled = false;
    if (size == 0 || State == psExit)
        return 0;
    if (GatherBuffer == nullptr) {
        GatherBuffer = TakeSpare();
        if (GatherBuffer == nullptr)
            return 0;
        GatherBuffer->dwBufferLength = 0;
    }
    // The copy runs under the lock: the engine thread may take the buffer
    // unfilled at any moment. It is a few kilobytes.
    WAVEHDR* const header = GatherBuffer;
    const uint32_t piece = std::min<uint32_t>(size - header->dwBufferLength, wanted);
    std::memcpy(header->lpData + header->dwBufferLength, data, piece);
    header->dwBufferLength += piece;
    PostedBytes += int32_t(piece);
    if (header->dwBufferLength == size) {
        GatherBuffer = nullptr;
        Gathered.push_back(header);
        filled = true;
    }
    return piece;
}

// The next buffer to hand to the device, in the order they were gathered:
// the filled ones first, then (if `unfilled`) the one being gathered.
WAVEHDR* TWaveOutPlayThread::TakeGathered(bool unfilled) {
    TWaveOutPlayThreadCSBomb guard(this);
    // Gathered after a discard that is not done yet: it must not reach the
    // device before the discard, which would drop it.
    if (DiscardsDone != DiscardsAsked)
        return nullptr;
    if (!Gathered.empty()) {
        WAVEHDR* const header = Gathered.front();
        Gathered.pop_front();
        return header;
    }
    WAVEHDR* const header = GatherBuffer;
    if (!unfilled || header == nullptr || header->dwBufferLength == 0)
        return nullptr;
    GatherBuffer = nullptr;
    EndOnWholeGroup(header);
    return header;
}

// A buffer of the pool for the caller; null when none is left. Under Lock.
WAVEHDR* TWaveOutPlayThread::TakeUnused() {
    if (UnusedList.empty())
        return nullptr;
    WAVEHDR* const header = UnusedList.back();
    UnusedList.pop_back();
    UnusedCount = int32_t(UnusedList.size());
    return header;
}

// The same, growing the pool first when it has none left. Under Lock.
WAVEHDR* TWaveOutPlayThread::TakeSpare() {
    if (UnusedCount < 1)
        GrowPool(PoolGrowth);
    return TakeUnused();
}

uint32_t TWaveOutPlayThread::GroupBytes() const {
    return BitsPerSample == 24 ? BlockAlign * GroupFrames24 : 0;
}

// A buffer taken before it is full: what lies beyond its last whole group
// starts the next buffer, and one of whole frames that holds less than a
// group (all there is, at the end of a stream) is made up to a group with
// silence. Without a spare buffer it goes as it is. Under Lock.
void TWaveOutPlayThread::EndOnWholeGroup(WAVEHDR* header) {
    const uint32_t group = GroupBytes();
    const uint32_t length = header->dwBufferLength;
    const uint32_t rest = group != 0 ? length % group : 0;
    if (rest == 0)
        return;
    if (length < group) {
        if (length % BlockAlign != 0)
            return; // silence would shift every later sample
        std::memset(header->lpData + length, 0, group - length);
        header->dwBufferLength = group;
        PostedBytes += int32_t(group - length);
        return;
    }
    WAVEHDR* const next = TakeSpare();
    if (next == nullptr)
        return;
    std::memcpy(next->lpData, header->lpData + length - rest, rest);
    next->dwBufferLength = rest;
    header->dwBufferLength = length - rest;
    GatherBuffer = next;
}

// Each is still counted in PostedBytes until OnQueueBuffer moves it on. The
// one being gathered is taken once: what QueueData gathers meanwhile waits
// for the next wake.
void TWaveOutPlayThread::ReceiveGathered(bool unfilled) {
    while (WAVEHDR* const header = TakeGathered(unfilled)) {
        const bool last = header->dwBufferLength < BuffSize;
        OnQueueBuffer(header);
        if (last)
            return;
    }
}

// What QueueData gathered and the engine has not taken; once the pool has
// ended (BuffSize 0) the buffers are freed: the next pool may have buffers
// of another size.
void TWaveOutPlayThread::DropGathered() {
    TWaveOutPlayThreadCSBomb guard(this);
    if (GatherBuffer != nullptr)
        Gathered.push_back(GatherBuffer);
    GatherBuffer = nullptr;
    for (WAVEHDR* const header : Gathered) {
        PostedBytes -= int32_t(header->dwBufferLength);
        header->dwBufferLength = 0;
        if (BuffSize == 0) {
            FreeBuffer(header);
            continue;
        }
        UnusedList.push_back(header);
    }
    Gathered.clear();
    UnusedCount = int32_t(UnusedList.size());
}

// ---------------------------------------------------------------------------
// Buffers

WAVEHDR* TWaveOutPlayThread::AllocateBuffer() {
    // The header and its bytes in one block: one allocation per buffer.
    auto block = std::make_unique<std::byte[]>(sizeof(WAVEHDR) + BuffSize);
    auto* header = reinterpret_cast<WAVEHDR*>(block.get());
    header->lpData = reinterpret_cast<LPSTR>(block.get() + sizeof(WAVEHDR));
    Buffers.emplace(header, TBufferBlock{std::move(block)});
    ++Stats.BuffersAllocated;
    return header;
}

void TWaveOutPlayThread::FreeBuffer(WAVEHDR* header) {
    TWaveOutPlayThreadCSBomb guard(this);
    if (Buffers.erase(header) != 0)
        ++Stats.BuffersFreed;
}

bool TWaveOutPlayThread::OwnsBuffer(WAVEHDR* header) {
    TWaveOutPlayThreadCSBomb guard(this);
    return header != nullptr && Buffers.count(header) != 0;
}

bool TWaveOutPlayThread::ReceiveBuffer(WAVEHDR* header) {
    TWaveOutPlayThreadCSBomb guard(this);
    const auto found = header != nullptr ? Buffers.find(header) : Buffers.end();
    if (found == Buffers.end())
        return false;
    return true;
}

void TWaveOutPlayThread::GrowPool(int count) {
    if (BuffSize == 0)
        return;
    TWaveOutPlayThreadCSBomb guard(this);
    for (int i = 0; i < count; ++i) {
        UnusedList.push_back(AllocateBuffer());
        UnusedCount = int32_t(UnusedList.size());
    }
}

void TWaveOutPlayThread::FreePool() {
    TWaveOutPlayThreadCSBomb guard(this);
    while (!UnusedList.empty()) {
        WAVEHDR* const header = UnusedList.front();
        UnusedList.erase(UnusedList.begin());
        UnusedCount = int32_t(UnusedList.size());
        FreeBuffer(header);
    }
}

void TWaveOutPlayThread::FreeAllBuffers() {
    GatherBuffer = nullptr;
    Gathered.clear();
    UnusedList.clear();
    InQueueList.clear();
    ToWriteQueue.clear();
    UnusedCount = 0;
    InQueueCount = 0;
    ToWriteCount = 0;
    InQueueBytes = 0;
    ToWriteBytes = 0;
    PostedBytes = 0;
    Stats.BuffersFreed += uint32_t(Buffers.size());
    Buffers.clear();
}

// After the device has been reset and closed it holds none of our buffers,
// whether or not their notifications came through. A device that did not
// close may still write into the buffers it holds (an unplugged device, a
// driver that refuses the reset): those are abandoned, never freed.
void TWaveOutPlayThread::ReleaseInQueue(bool deviceClosed) {
    TWaveOutPlayThreadCSBomb guard(this);
    while (!InQueueList.empty()) {
        WAVEHDR* const header = InQueueList.back();
        InQueueList.pop_back();
        if (deviceClosed) {
            FreeBuffer(header);
            continue;
        }
        const auto found = Buffers.find(header);
        if (found != Buffers.end()) {
            static_cast<void>(found->second.Memory.release());
            Buffers.erase(found);
            ++Stats.BuffersAbandoned;
        }
    }
    InQueueCount = 0;
    InQueueBytes = 0;
}

// After a reset: every buffer the device gave back is unprepared while the
// handle is still valid; one it still holds stays in InQueueList.
void TWaveOutPlayThread::UnprepareInQueue(HWAVEOUT handle) {
    std::vector<WAVEHDR*> held;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        held = InQueueList;
    }
    for (WAVEHDR* const header : held) {
        if (Api.UnprepareHeader(handle, header) == WAVERR_STILLPLAYING)
            continue;
        TWaveOutPlayThreadCSBomb guard(this);
        const auto found = std::find(InQueueList.begin(), InQueueList.end(), header);
        if (found == InQueueList.end())
            continue;
        InQueueList.erase(found);
        InQueueCount = int32_t(InQueueList.size());
        InQueueBytes -= int32_t(header->dwBufferLength);
        header->dwFlags = 0;
        UnusedList.push_back(header);
        UnusedCount = int32_t(UnusedList.size());
    }
}

// Whole frames always: a buffer ending inside a frame would shift every later
// sample. Without a block size, half a second.
bool TWaveOutPlayThread::FramesFit() const {
    return BlockAlign != 0 && SampleRate > 0 &&
           int64_t(SampleRate) * BlockAlign <= int64_t(std::numeric_limits<DWORD>::max());
}

void TWaveOutPlayThread::SizeBuffers() {
    if (!FramesFit()) {
        BuffSize = 0; // no whole frame, or no byte rate: the open refuses it
        return;
    }
    const int64_t align = BlockAlign;
    const int64_t framesPerSecond = SampleRate;
    BlockBytes = uint32_t(BlockBytes - BlockBytes % align);
    const int64_t ceiling = std::max<int64_t>(framesPerSecond * BufferCeilingMs / 1000, 1) * align;
    const int64_t block = BlockBytes;
    const int64_t gather = std::max<int64_t>(framesPerSecond * GatherMs / 1000, 1) * align;
    const int64_t wanted = block > 0 ? block * std::max<int64_t>(1, (gather + block - 1) / block)
                                     : framesPerSecond / 2 * align;
    const int64_t size = std::min(wanted, ceiling);
    const int64_t group = GroupBytes();
    BuffSize = uint32_t(group > 0 ? std::max(group, size / group * group) : size);
}

void TWaveOutPlayThread::OnQueueBuffer(WAVEHDR* header) {
    if (!ReceiveBuffer(header))
        return;
    const HWAVEOUT handle = DeviceHandle;
    const bool prepared =
        handle != nullptr && Api.PrepareHeader(handle, header) == MMSYSERR_NOERROR;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        // From posted to queued in one step, so the held audio never misses it.
        PostedBytes -= int32_t(header->dwBufferLength);
        if (prepared) {
            ToWriteQueue.push_back(header);
            ToWriteCount = int32_t(ToWriteQueue.size());
            ToWriteBytes += int32_t(header->dwBufferLength);
            return;
        }
    }
    Post(PTM_UNPREPARE, reinterpret_cast<WPARAM>(header));
    SetState(psError);
}

void TWaveOutPlayThread::WriteQueued() {
    const HWAVEOUT handle = DeviceHandle;
    if (handle == nullptr)
        return;
    const uint8_t state = State;
    const bool canWrite = state == psOpen || state == psPlaying || state == psPaused;
    if (!canWrite || ToWriteCount == 0) {
        if (State == psPlaying && InQueueCount == 0) {
            ++Stats.DryRuns;
            SetState(psOpen);
        }
        return;
    }
    // A device that is not playing starts with everything queued in hand.
    // Written one by one to a running device, the first buffer would play
    // alone while the others are still being handed over (each write waits
    // for the device's thread), and the device would run dry right after it.
    const bool held = state == psOpen && ToWriteCount > 1 && Api.Pause(handle) == MMSYSERR_NOERROR;
    const bool wasEmpty = InQueueCount == 0;
    bool wrote = false;
    // Only this thread takes from ToWriteQueue, so the front stays put while
    // the device call runs without the lock; the buffer then moves from one
    // list to the other in one step, and GetTotalBytes never misses it.
    while (ToWriteCount > 0) {
        WAVEHDR* header = nullptr;
        {
            TWaveOutPlayThreadCSBomb guard(this);
            header = ToWriteQueue.front();
        }
        const MMRESULT result = Api.Write(handle, header);
        TWaveOutPlayThreadCSBomb guard(this);
        ToWriteQueue.pop_front();
        ToWriteCount = int32_t(ToWriteQueue.size());
        ToWriteBytes -= int32_t(header->dwBufferLength);
        if (result == MMSYSERR_NOERROR) {
            BytesToDevice += header->dwBufferLength;
            InQueueList.push_back(header);
            InQueueCount = int32_t(InQueueList.size());
            InQueueBytes += int32_t(header->dwBufferLength);
            wrote = true;
        } else if (result == WAVERR_UNPREPARED) {
            PostedBytes += int32_t(header->dwBufferLength);
            Post(PTM_QUEUEBUFFER, reinterpret_cast<WPARAM>(header));
        } else {
            Post(PTM_UNPREPARE, reinterpret_cast<WPARAM>(header));
            SetState(psError);
        }
    }
    if (held) {
        // The pause above succeeded, so a refused restart (whatever it says)
        // leaves the device paused: no buffer would ever come back.
        if (Api.Restart(handle) != MMSYSERR_NOERROR) {
            SetState(psError);
            return;
        }
    }
    if (wrote && State != psPaused) {
        // An empty device starts on the first of these buffers now.
        if (wasEmpty)
            HeadStarted = NowNs();
        SetState(psPlaying);
    }
    // Every write of this pass failed and the device holds nothing: no
    // completion will come to call this again, so fall back as when the
    // device ran dry, and the next hand-off restarts it.
    if (State == psPlaying && InQueueCount == 0) {
        ++Stats.DryRuns;
        SetState(psOpen);
    }
}

void TWaveOutPlayThread::OnWaveDone(HWAVEOUT handle, WAVEHDR* header) {
    if (handle == nullptr || handle != DeviceHandle)
        return;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        const auto found = std::find(InQueueList.begin(), InQueueList.end(), header);
        if (found == InQueueList.end())
            return;
        InQueueList.erase(found);
        InQueueCount = int32_t(InQueueList.size());
        InQueueBytes -= int32_t(header->dwBufferLength);
        HeadStarted = NextHeadStart(header->dwBufferLength);
        LastDoneNs = SystemNs();
        Post(PTM_UNPREPARE, reinterpret_cast<WPARAM>(header));
    }
    // About to run dry (the end of the stream, or a late decoder): what is
    // being gathered is all there is, so it plays as it is.
    if (State == psPlaying && InQueueCount + ToWriteCount <= LowWaterBuffers)
        ReceiveGathered(true);
    WriteQueued();
}

void TWaveOutPlayThread::OnUnprepare(WAVEHDR* header) {
    if (!OwnsBuffer(header))
        return;
    if (DeviceHandle == nullptr) {
        FreeBuffer(header);
        return;
    }
    const MMRESULT result = Api.UnprepareHeader(DeviceHandle, header);
    TWaveOutPlayThreadCSBomb guard(this);
    if (result == WAVERR_STILLPLAYING) {
        // The device still owns the header, flags included; its MM_WOM_DONE
        // brings it back.
        InQueueList.push_back(header);
        InQueueCount = int32_t(InQueueList.size());
        InQueueBytes += int32_t(header->dwBufferLength);
        return;
    }
    header->dwFlags = 0;
    UnusedList.push_back(header);
    UnusedCount = int32_t(UnusedList.size());
    if (result != MMSYSERR_NOERROR)
        SetState(psError);
}

void TWaveOutPlayThread::FlushQueue() {
    while (ToWriteCount > 0) {
        WAVEHDR* header = nullptr;
        {
            TWaveOutPlayThreadCSBomb guard(this);
            if (ToWriteQueue.empty())
                return;
            header = ToWriteQueue.front();
            ToWriteQueue.pop_front();
            ToWriteCount = int32_t(ToWriteQueue.size());
            ToWriteBytes -= int32_t(header->dwBufferLength);
        }
        OnUnprepare(header);
    }
}

// ---------------------------------------------------------------------------
// Device, volume, pan and rate

void TWaveOutPlayThread::OnOpen() {
    if (DeviceHandle != nullptr)
        return; // one device at a time; a second open would orphan the first
    if (Terminated() || State == psExit)
        return; // the exit path closes nothing opened after it
    const int32_t id = DeviceNameToId(GetDeviceName());
    WAVEOUTCAPSA caps{};
    if (id == -2 || Api.GetDevCaps(CapsId(id), &caps) != MMSYSERR_NOERROR ||
        Channels > int32_t(caps.wChannels)) {
        FailOpen();
        return;
    }
    BlockAlign = uint32_t(std::max<int32_t>(Channels * (BitsPerSample / 8), 0));
    // No whole frame can be sized (under 8 bits, or no channel), or the
    // format's byte rate does not fit its 32-bit field.
    if (!FramesFit()) {
        FailOpen();
        return;
    }
    {
        TWaveOutPlayThreadCSBomb guard(this);
        WaveFormat = {};
        WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
        WaveFormat.nChannels = WORD(Channels);
        WaveFormat.nSamplesPerSec = DWORD(SampleRate);
        WaveFormat.nAvgBytesPerSec = DWORD(SampleRate) * BlockAlign;
        WaveFormat.nBlockAlign = WORD(BlockAlign);
        WaveFormat.wBitsPerSample = WORD(BitsPerSample);
    }
    const WAVEFORMATEX format = GetWaveFormat();
    HWAVEOUT handle = nullptr;
    const MMRESULT result =
        Api.Open(&handle, UINT(id), &format, reinterpret_cast<DWORD_PTR>(HWND(UtilWindow)), 0,
                 CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR) {
        FailOpen();
        return;
    }
    // The buffers that came in meanwhile are posted behind this message, so
    // each is prepared for the device just opened.
    DeviceHandle = handle;
    ApplyVolume();
}

// Buffers already taken for the open come back through their own messages,
// which find no device and free them.
void TWaveOutPlayThread::FailOpen() {
    FreePool();
    {
        TWaveOutPlayThreadCSBomb guard(this);
        BuffSize = 0;
        DropGathered(); // in the same step: nothing gathers after it
        RestartWhenOpen = false;
    }
    SetState(psError);
}

void TWaveOutPlayThread::OnWaveOpen(HWAVEOUT handle) {
    bool restart = false;
    {
        // Only an open in progress becomes psOpen; a close that overtook the
        // notification has already moved on.
        TWaveOutPlayThreadCSBomb guard(this);
        if (handle == nullptr || handle != DeviceHandle || State != psInit)
            return;
        DryRunsAtOpen = Stats.DryRuns.load();
        BytesToDevice = 0;
        SetState(psOpen);
        restart = RestartWhenOpen;
        RestartWhenOpen = false;
    }
    if (restart)
        OnRestart();
}

void TWaveOutPlayThread::OnRestart() {
    const HWAVEOUT handle = DeviceHandle;
    if (handle == nullptr)
        return;
    // A restart starts all that is held: the pre-buffer, or the end of a
    // track that no more blocks will follow.
    ReceiveGathered(true);
    if (State != psPaused) {
        WriteQueued();
        return;
    }
    // Paused means the device accepted the pause; refusing the restart now
    // (whatever it says) would leave it paused for good.
    if (Api.Restart(handle) != MMSYSERR_NOERROR) {
        SetState(psError);
        return;
    }
    HeadStarted = NowNs() - PlayedAtPause;
    SetState(psPlaying);
    WriteQueued();
}

void TWaveOutPlayThread::OnPause() {
    const HWAVEOUT handle = DeviceHandle;
    if (handle == nullptr || State != psPlaying)
        return;
    const MMRESULT result = Api.Pause(handle);
    if (result == MMSYSERR_NOERROR) {
        PlayedAtPause = NowNs() - HeadStarted;
        SetState(psPaused);
    } else if (result != MMSYSERR_NOTSUPPORTED)
        SetState(psError);
}

// After a reset the device holds nothing and its position is back at 0. A
// paused one is restarted: what it held to resume is gone, and it runs on
// empty as one that ran dry does, so the next restart finds it in psOpen.
// The reset's done notifications are handled at once, before any buffer
// goes back to the device: a late one would find the buffer written anew.
void TWaveOutPlayThread::OnDiscard() {
    const HWAVEOUT handle = DeviceHandle;
    const uint8_t state = State;
    if (handle != nullptr && !CloseInProgress &&
        (state == psOpen || state == psPlaying || state == psPaused)) {
        Api.Reset(handle);
        if (state == psPaused)
            Api.Restart(handle);
        SetState(psOpen);
        FlushQueue();
        DrainWaveMessages();
        UnprepareInQueue(handle);
        BytesToDevice = 0;
        PlayedAtPause = 0;
    }
    FlushQueue(); // prepared while the device opened, never written
    {
        TWaveOutPlayThreadCSBomb guard(this);
        ++DiscardsDone;
        SetEvent(DiscardDone.get());
    }
    // The new position's first buffers, gathered meanwhile.
    ReceiveGathered(false);
}

void TWaveOutPlayThread::OnClose() {
    const HWAVEOUT handle = DeviceHandle;
    // CloseInProgress: this handler dispatches messages, among them maybe
    // another PTM_CLOSE, while the device is still open.
    if (handle != nullptr && !CloseInProgress && State != psReset) {
        CloseInProgress = true;
        const DWORD closeStarted = GetTickCount();
        AwaitPlayedOut(handle);
        SetState(psReset);
        Api.Reset(handle);
        FlushQueue();
        UnprepareInQueue(handle);
        const bool closed = CloseDevice(handle, closeStarted);
        DeviceHandle = nullptr;
        ReleaseInQueue(closed);
        FreePool();
        {
            TWaveOutPlayThreadCSBomb guard(this);
            SampleRate = 0;
            Channels = 0;
            BitsPerSample = 0;
            DeviceName.clear();
            BlockBytes = 0;
            BuffSize = 0;
            // Blocks may have been gathered while the device closed.
            DropGathered();
        }
        CloseInProgress = false;
    }
    PostGoIdle();
}

void TWaveOutPlayThread::PostGoIdle() {
    Post(PTM_GOIDLE, WPARAM(OpenRequests.load()));
}

// A device reports a buffer done once it has taken the buffer's samples, not
// once they are heard. Wine's, seen here: its byte position (what it gave the
// sound server) runs up to 160 ms ahead of its done notifications, and a
// notification can come a few frames before the server has played the last
// of that buffer. A reset right at the last notification, as at a format
// change, cuts those frames. So a device that ran dry closes only once its
// own position has reached what it was given (what a device whose position
// is what it has played needs) and PlayOutGraceMs have passed since its last
// notification (what Wine's needs), no longer than PlayOutLongestMs in all.
// A stop or a flush, which leave buffers in the device, resets at once, and
// so does a device that was given nothing.
void TWaveOutPlayThread::AwaitPlayedOut(HWAVEOUT handle) {
    // A device that ran dry after its last buffer is back in psOpen, still
    // running; psPaused holds its position still.
    const uint8_t state = State;
    if ((state != psPlaying && state != psOpen) || InQueueCount != 0 || BytesToDevice == 0)
        return;
    const int64_t bytesPerSecond = int64_t(SampleRate) * Channels * ((BitsPerSample + 7) / 8);
    if (bytesPerSecond <= 0)
        return;
    if (!PlaySilenceBehind()) {
        ++Stats.PlayOutsCutShort;
        return;
    }
    const auto unplayed = [&]() -> int64_t {
        MMTIME time{};
        time.wType = TIME_BYTES;
        if (Api.GetPosition(handle, &time) != MMSYSERR_NOERROR || time.wType != TIME_BYTES)
            return 0;
        // Both counts wrap at 2^32 bytes; their difference does not.
        return int32_t(BytesToDevice - time.u.cb);
    };
    const int64_t started = SystemNs();
    const int64_t left = unplayed();
    const int64_t heldMs = std::max<int64_t>(left, 0) * 1000 / bytesPerSecond;
    const int64_t boundNs =
        std::min(PlayOutLongestMs, heldMs + PlayOutGraceMs + PositionMarginMs) * 1000000;
    const int64_t graceEnds = LastDoneNs + PlayOutGraceMs * 1000000;
    while (SystemNs() < graceEnds || unplayed() > 0) {
        if (SystemNs() - started >= boundNs) {
            ++Stats.PlayOutsCutShort;
            return;
        }
        Sleep(2);
    }
}

// Wine now and then holds the last frames of a stream back until more come:
// under load, 2 to 225 frames at the end of a track were never heard,
// though every buffer had been reported done and the position had reached
// its end. A short silence behind them takes them through. It goes to the
// device as any buffer does (a reset gives it back should it not finish);
// true once the device is done with it. Its own running dry is not an
// underrun.
bool TWaveOutPlayThread::PlaySilenceBehind() {
    const uint32_t unit = std::max(GroupBytes(), uint32_t(BlockAlign));
    const int64_t wanted = int64_t(SampleRate) * BlockAlign * TrailingSilenceMs / 1000;
    WAVEHDR* header = nullptr;
    {
        TWaveOutPlayThreadCSBomb guard(this);
        header = unit != 0 ? TakeUnused() : nullptr;
        if (header == nullptr)
            return true;
        const uint32_t bytes = uint32_t(std::clamp<int64_t>(wanted / unit * unit, unit, BuffSize));
        std::memset(header->lpData, BitsPerSample == 8 ? 0x80 : 0, bytes);
        header->dwBufferLength = bytes;
        PostedBytes += int32_t(bytes);
    }
    const uint32_t dryRuns = Stats.DryRuns;
    OnQueueBuffer(header);
    WriteQueued();
    const int64_t started = SystemNs();
    const int64_t boundNs = (TrailingSilenceMs + PlayOutLongestMs) * 1000000;
    while (InQueueCount + ToWriteCount != 0 && SystemNs() - started < boundNs) {
        DrainWaveMessages();
        Sleep(1);
    }
    Stats.DryRuns = dryRuns;
    return InQueueCount + ToWriteCount == 0;
}

// The reset has given every buffer back; their notifications are handled
// before each try, since a device may refuse to close until they are.
// True when the device is closed; false when it may still hold buffers.
bool TWaveOutPlayThread::CloseDevice(HWAVEOUT handle, DWORD started) {
    MMRESULT result;
    do {
        DrainWaveMessages();
        DrainMessages();
        result = Api.Close(handle);
        if (result != WAVERR_STILLPLAYING)
            break;
        // The reset may have been refused (a busy or failing driver): the
        // buffers come back only after one that succeeds.
        Api.Reset(handle);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (result == WAVERR_STILLPLAYING && GetTickCount() - started < CloseRetryMs);
    return result == MMSYSERR_NOERROR;
}

void TWaveOutPlayThread::OnWaveClose() {
    ReplyMessage(0);
    FreePool();
    TWaveOutPlayThreadCSBomb guard(this);
    if (State == psReset)
        SetState(psClose);
}

void TWaveOutPlayThread::OnGoIdle() {
    if (CloseInProgress)
        return; // the close in progress posts its own when done
    if (DeviceHandle != nullptr) {
        // An open overtook the close that posted this: close properly rather
        // than forget an open device.
        OnClose();
        return;
    }
    FlushQueue();
    ReleaseInQueue();
    FreePool(); // sized by an open request that never reached a device
    TWaveOutPlayThreadCSBomb guard(this);
    DeviceName.clear();
    SampleRate = 0;
    BitsPerSample = 0;
    Channels = 0;
    BuffSize = 0;
    DropGathered();
    RestartWhenOpen = false;
    BlockBytes = 0;
    InQueueBytes = 0;
    SetState(psIdle);
}

void TWaveOutPlayThread::SetVolumeValue(int32_t volume) {
    if (volume > -333 && volume < 333)
        Volume = volume;
}

void TWaveOutPlayThread::ApplyVolume() {
    const HWAVEOUT handle = DeviceHandle;
    if (handle == nullptr)
        return;
    WAVEOUTCAPSA caps{};
    if (Api.GetDevCaps(reinterpret_cast<UINT_PTR>(handle), &caps) != MMSYSERR_NOERROR ||
        (caps.dwSupport & WAVECAPS_VOLUME) == 0)
        return;
    const bool separate = (caps.dwSupport & WAVECAPS_LRVOLUME) != 0;
    // Volumes the host may send above 255 or below 0 mean full and silent:
    // the device scale ends there.
    const float vol = static_cast<float>(std::clamp<int32_t>(Volume, 0, 255)) / 255.0f;
    Pan = std::clamp<int32_t>(Pan, -127, 127);
    const float p = static_cast<float>(Pan) / 127.0f;
    float left = vol;
    float right = vol;
    if (p > 0 && separate)
        left = static_cast<float>((1.0f - p) * vol);
    if (p < 0 && separate)
        right = static_cast<float>((1.0f + p) * vol);
    // Rounded to single precision before truncation, also on the x87: for
    // 0..255 this gives exactly volume * 257.
    const auto leftWord = uint16_t(int32_t(static_cast<float>(left * 65535.0f)));
    const auto rightWord = uint16_t(int32_t(static_cast<float>(right * 65535.0f)));
    Api.SetVolume(handle, DWORD(leftWord) | (DWORD(rightWord) << 16));
}

LRESULT TWaveOutPlayThread::OnGetRate() {
    const HWAVEOUT handle = DeviceHandle;
    DWORD rate = 0;
    if (handle == nullptr || Api.GetPlaybackRate(handle, &rate) != MMSYSERR_NOERROR)
        return NormalPlaybackRate;
    return rate;
}

LRESULT TWaveOutPlayThread::OnSetRate(DWORD rate) {
    const HWAVEOUT handle = DeviceHandle;
    if (handle == nullptr || Api.SetPlaybackRate(handle, rate) != MMSYSERR_NOERROR)
        return NormalPlaybackRate;
    return rate;
}
