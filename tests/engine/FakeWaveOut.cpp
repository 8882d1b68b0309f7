#include "tests/engine/FakeWaveOut.h"

#include <algorithm>
#include <cstring>

const char* FakeCallName(TFakeCall call) {
    static const char* const names[] = {
        "GetDevCaps", "Open",  "Prepare",   "Unprepare", "Write",   "Pause",      "Restart",
        "Reset",      "Close", "SetVolume", "GetRate",   "SetRate", "GetPosition"};
    return names[static_cast<int>(call)];
}

TFakeWaveOut::TFakeWaveOut(std::vector<TFakeDevice> devices) : Devices(std::move(devices)) {}

void TFakeWaveOut::Fail(TFakeCall call, MMRESULT result, int times) {
    std::lock_guard lock(Mutex);
    for (int i = 0; i < times; ++i)
        Forcing[call].push_back(result);
}

void TFakeWaveOut::OnCall(TFakeCall call, std::function<void()> hook) {
    std::lock_guard lock(Mutex);
    Hooks[call] = std::move(hook);
}

bool TFakeWaveOut::Forced(TFakeCall call, MMRESULT& result) {
    std::function<void()> hook;
    {
        std::lock_guard lock(Mutex);
        ++CallCount[call];
        Changed.notify_all();
        hook = Hooks[call];
    }
    if (hook)
        hook();
    std::lock_guard lock(Mutex);
    auto& forced = Forcing[call];
    if (forced.empty())
        return false;
    result = forced.front();
    forced.erase(forced.begin());
    return result != MMSYSERR_NOERROR;
}

void TFakeWaveOut::Notify(UINT message, LPARAM lParam) {
    PostMessageA(Window, message, reinterpret_cast<WPARAM>(Handle), lParam);
}

bool TFakeWaveOut::CompleteOne() {
    std::lock_guard lock(Mutex);
    if (Queue.empty() || Handle == nullptr)
        return false;
    WAVEHDR* const header = Queue.front();
    Queue.pop_front();
    PlayedBytes.insert(PlayedBytes.end(), header->lpData, header->lpData + header->dwBufferLength);
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(header));
    LastDone = header;
    Changed.notify_all();
    return true;
}

void TFakeWaveOut::RepeatLastDone() {
    std::lock_guard lock(Mutex);
    Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(LastDone));
}

int TFakeWaveOut::Calls(TFakeCall call) {
    std::lock_guard lock(Mutex);
    return CallCount[call];
}

bool TFakeWaveOut::WaitFor(const std::function<bool()>& predicate, DWORD ms) {
    // The predicate usually reads the engine, which changes without telling
    // the fake, so it is tested often; it runs without the fake's lock, since
    // the engine calls the fake while holding its own.
    const DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > ms)
            return false;
        std::unique_lock lock(Mutex);
        Changed.wait_for(lock, std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<char> TFakeWaveOut::Played() {
    std::lock_guard lock(Mutex);
    return PlayedBytes;
}

std::vector<DWORD> TFakeWaveOut::WriteLengths() {
    std::lock_guard lock(Mutex);
    return WrittenLengths;
}

int TFakeWaveOut::WritesWhilePaused() {
    std::lock_guard lock(Mutex);
    return PausedWrites;
}

bool TFakeWaveOut::IsPaused() {
    std::lock_guard lock(Mutex);
    return Paused;
}

size_t TFakeWaveOut::InDevice() {
    std::lock_guard lock(Mutex);
    return Queue.size();
}

std::vector<DWORD> TFakeWaveOut::Volumes() {
    std::lock_guard lock(Mutex);
    return VolumeWords;
}

bool TFakeWaveOut::IsOpen() {
    std::lock_guard lock(Mutex);
    return Handle != nullptr;
}

HWAVEOUT TFakeWaveOut::OpenHandle() {
    std::lock_guard lock(Mutex);
    return Handle;
}

WAVEFORMATEX TFakeWaveOut::LastFormat() {
    std::lock_guard lock(Mutex);
    return Format;
}

UINT TFakeWaveOut::LastOpenId() {
    std::lock_guard lock(Mutex);
    return OpenId;
}

UINT TFakeWaveOut::GetNumDevs() {
    std::lock_guard lock(Mutex);
    return UINT(Devices.size() - 1);
}

MMRESULT TFakeWaveOut::GetDevCaps(UINT_PTR deviceId, WAVEOUTCAPSA* caps) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::GetDevCaps, result))
        return result;
    std::lock_guard lock(Mutex);
    size_t index;
    if (Handle != nullptr && deviceId == reinterpret_cast<UINT_PTR>(Handle))
        index = OpenId == WAVE_MAPPER ? 0 : OpenId + 1;
    else if (deviceId == UINT_PTR(WAVE_MAPPER))
        index = 0;
    else
        index = size_t(deviceId) + 1;
    if (index >= Devices.size())
        return MMSYSERR_BADDEVICEID;
    const TFakeDevice& device = Devices[index];
    if (device.CapsFail)
        return MMSYSERR_NODRIVER;
    *caps = {};
    device.Name.copy(caps->szPname, sizeof(caps->szPname) - 1);
    caps->wChannels = device.Channels;
    caps->dwSupport = device.Support;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                            DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Open, result))
        return result;
    std::lock_guard lock(Mutex);
    if (Handle != nullptr)
        return MMSYSERR_ALLOCATED;
    if ((flags & CALLBACK_TYPEMASK) != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    Handle = reinterpret_cast<HWAVEOUT>(NextHandle++);
    Window = reinterpret_cast<HWND>(callback);
    Format = *format;
    OpenId = deviceId;
    PlayedAtOpen = PlayedBytes.size();
    *handle = Handle;
    Notify(MM_WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Prepare, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Unprepare, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Write(HWAVEOUT handle, WAVEHDR* header) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Write, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    if ((header->dwFlags & WHDR_PREPARED) == 0)
        return WAVERR_UNPREPARED;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    Queue.push_back(header);
    WrittenLengths.push_back(header->dwBufferLength);
    PausedWrites += Paused ? 1 : 0;
    Changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Pause(HWAVEOUT handle) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Pause, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    Paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Restart(HWAVEOUT handle) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Restart, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    Paused = false;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Reset(HWAVEOUT handle) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Reset, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    for (WAVEHDR* header : Queue) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(header));
    }
    Queue.clear();
    Paused = false;
    Changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::Close(HWAVEOUT handle) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::Close, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    if (!Queue.empty())
        return WAVERR_STILLPLAYING;
    Notify(MM_WOM_CLOSE, 0);
    Handle = nullptr;
    Changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::SetVolume(HWAVEOUT handle, DWORD volume) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::SetVolume, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    VolumeWords.push_back(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::GetPlaybackRate(HWAVEOUT handle, DWORD* rate) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::GetRate, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    *rate = Rate;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::SetPlaybackRate(HWAVEOUT handle, DWORD rate) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::SetRate, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    Rate = rate;
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveOut::GetPosition(HWAVEOUT handle, MMTIME* time) {
    MMRESULT result = 0;
    if (Forced(TFakeCall::GetPosition, result))
        return result;
    std::lock_guard lock(Mutex);
    if (!IsHandle(handle))
        return MMSYSERR_INVALHANDLE;
    const uint32_t done = uint32_t(PlayedBytes.size() - PlayedAtOpen);
    time->wType = TIME_BYTES;
    time->u.cb = done - std::min(done, PositionLag.load());
    return MMSYSERR_NOERROR;
}
