// A wave-out device for the engine's unit tests. It behaves like winmm with
// window notifications (MM_WOM_OPEN at open, MM_WOM_CLOSE at close, MM_WOM_DONE
// for each finished buffer), but plays nothing by itself: the test finishes
// buffers one at a time with CompleteOne, and any call can be made to answer
// a chosen MMRESULT instead of acting.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/WaveOutApi.h"

enum class TFakeCall {
    GetDevCaps,
    Open,
    Prepare,
    Unprepare,
    Write,
    Pause,
    Restart,
    Reset,
    Close,
    SetVolume,
    GetRate,
    SetRate,
    GetPosition
};
const char* FakeCallName(TFakeCall call);

struct TFakeDevice {
    std::string Name;
    WORD Channels = 2;
    DWORD Support = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
    bool CapsFail = false;
};

class TFakeWaveOut final : public TWaveOutApi {
public:
    // Id -1 (the mapper) first, then ids 0, 1, ...
    explicit TFakeWaveOut(std::vector<TFakeDevice> devices = {{"Fake Mapper"}, {"Speakers"}});

    // The next `times` calls of this kind answer `result` and do nothing else;
    // MMSYSERR_NOERROR lets a call through as usual (to fail a later one).
    void Fail(TFakeCall call, MMRESULT result, int times = 1);
    // Runs on the engine thread inside the call, before it acts.
    void OnCall(TFakeCall call, std::function<void()> hook);

    // The device finishes its oldest buffer; false when it holds none.
    bool CompleteOne();
    // Notifies the last finished buffer once more, as a device does for a
    // buffer it still held when the engine tried to unprepare it.
    void RepeatLastDone();
    int Calls(TFakeCall call);
    // Waits (bounded) until `predicate` holds.
    bool WaitFor(const std::function<bool()>& predicate, DWORD ms = 10000);

    std::vector<char> Played();
    // The length of every buffer written, oldest first.
    std::vector<DWORD> WriteLengths();
    // Writes made while the device was paused (and so not yet playing).
    int WritesWhilePaused();
    bool IsPaused();
    size_t InDevice();
    // Every volume word set, oldest first.
    std::vector<DWORD> Volumes();
    bool IsOpen();
    HWAVEOUT OpenHandle();
    WAVEFORMATEX LastFormat();
    UINT LastOpenId();
    DWORD Rate = 0x00010000;
    // Bytes by which the device's byte position trails the buffers it has
    // reported done, as Wine's does while the sound server still holds them.
    std::atomic<uint32_t> PositionLag{0};

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT_PTR deviceId, WAVEOUTCAPSA* caps) override;
    MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                  DWORD_PTR instance, DWORD flags) override;
    MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT Write(HWAVEOUT handle, WAVEHDR* header) override;
    MMRESULT Pause(HWAVEOUT handle) override;
    MMRESULT Restart(HWAVEOUT handle) override;
    MMRESULT Reset(HWAVEOUT handle) override;
    MMRESULT Close(HWAVEOUT handle) override;
    MMRESULT SetVolume(HWAVEOUT handle, DWORD volume) override;
    MMRESULT GetPlaybackRate(HWAVEOUT handle, DWORD* rate) override;
    MMRESULT SetPlaybackRate(HWAVEOUT handle, DWORD rate) override;
    MMRESULT GetPosition(HWAVEOUT handle, MMTIME* time) override;

private:
    // Counts the call, runs its hook and answers a forced result, if any.
    bool Forced(TFakeCall call, MMRESULT& result);
    bool IsHandle(HWAVEOUT handle) const { return Handle != nullptr && handle == Handle; }
    void Notify(UINT message, LPARAM lParam);

    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<TFakeDevice> Devices;
    std::map<TFakeCall, std::vector<MMRESULT>> Forcing;
    std::map<TFakeCall, std::function<void()>> Hooks;
    std::map<TFakeCall, int> CallCount;
    std::deque<WAVEHDR*> Queue;
    std::vector<char> PlayedBytes;
    std::vector<DWORD> WrittenLengths;
    size_t PlayedAtOpen = 0;
    WAVEHDR* LastDone = nullptr;
    bool Paused = false;
    int PausedWrites = 0;
    HWAVEOUT Handle = nullptr;
    HWND Window = nullptr;
    uintptr_t NextHandle = 0x1000;
    WAVEFORMATEX Format{};
    UINT OpenId = 0;
    std::vector<DWORD> VolumeWords;
};
