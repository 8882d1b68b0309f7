#include "engine/WaveOutApi.h"

#include <mutex>

namespace {

class TWinmmWaveOut final : public TWaveOutApi {
public:
    UINT GetNumDevs() override {
        const std::lock_guard lock(DeviceList);
        return waveOutGetNumDevs();
    }
    MMRESULT GetDevCaps(UINT_PTR deviceId, WAVEOUTCAPSA* caps) override {
        const std::lock_guard lock(DeviceList);
        return waveOutGetDevCapsA(deviceId, caps, sizeof(*caps));
    }
    MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                  DWORD_PTR instance, DWORD flags) override {
        const std::lock_guard lock(DeviceList);
        return waveOutOpen(handle, deviceId, format, callback, instance, flags);
    }
    MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return waveOutPrepareHeader(handle, header, sizeof(*header));
    }
    MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) override {
        return waveOutUnprepareHeader(handle, header, sizeof(*header));
    }
    MMRESULT Write(HWAVEOUT handle, WAVEHDR* header) override {
        return waveOutWrite(handle, header, sizeof(*header));
    }
    MMRESULT Pause(HWAVEOUT handle) override { return waveOutPause(handle); }
    MMRESULT Restart(HWAVEOUT handle) override { return waveOutRestart(handle); }
    MMRESULT Reset(HWAVEOUT handle) override { return waveOutReset(handle); }
    MMRESULT Close(HWAVEOUT handle) override { return waveOutClose(handle); }
    MMRESULT SetVolume(HWAVEOUT handle, DWORD volume) override {
        return waveOutSetVolume(handle, volume);
    }
    MMRESULT GetPlaybackRate(HWAVEOUT handle, DWORD* rate) override {
        return waveOutGetPlaybackRate(handle, rate);
    }
    MMRESULT SetPlaybackRate(HWAVEOUT handle, DWORD rate) override {
        return waveOutSetPlaybackRate(handle, rate);
    }
    MMRESULT GetPosition(HWAVEOUT handle, MMTIME* time) override {
        return waveOutGetPosition(handle, time, sizeof *time);
    }

private:
    // Our own calls that read or open the device list are made one at a
    // time. The crash this was first meant to prevent (a null read in
    // waveOutGetDevCapsW while the configuration window listed the devices
    // and the engine thread opened one) comes from winmm building its list
    // at the first call, which no lock of ours can cover for the player's
    // threads: BuildWinmmDeviceList is what prevents it. No other lock is
    // taken inside, and none is held around these calls.
    std::mutex DeviceList;
};

struct TNamed {
    DWORD Value;
    const char* Name;
};

constexpr TNamed MmResultNames[] = {
    {MMSYSERR_NOERROR, "MMSYSERR_NOERROR"},
    {MMSYSERR_ERROR, "MMSYSERR_ERROR"},
    {MMSYSERR_BADDEVICEID, "MMSYSERR_BADDEVICEID"},
    {MMSYSERR_NOTENABLED, "MMSYSERR_NOTENABLED"},
    {MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED"},
    {MMSYSERR_INVALHANDLE, "MMSYSERR_INVALHANDLE"},
    {MMSYSERR_NODRIVER, "MMSYSERR_NODRIVER"},
    {MMSYSERR_NOMEM, "MMSYSERR_NOMEM"},
    {MMSYSERR_NOTSUPPORTED, "MMSYSERR_NOTSUPPORTED"},
    {MMSYSERR_BADERRNUM, "MMSYSERR_BADERRNUM"},
    {MMSYSERR_INVALFLAG, "MMSYSERR_INVALFLAG"},
    {MMSYSERR_INVALPARAM, "MMSYSERR_INVALPARAM"},
    {MMSYSERR_HANDLEBUSY, "MMSYSERR_HANDLEBUSY"},
    {MMSYSERR_NODRIVERCB, "MMSYSERR_NODRIVERCB"},
    {WAVERR_BADFORMAT, "WAVERR_BADFORMAT"},
    {WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING"},
    {WAVERR_UNPREPARED, "WAVERR_UNPREPARED"},
    {WAVERR_SYNC, "WAVERR_SYNC"},
};

constexpr TNamed HeaderFlagNames[] = {
    {WHDR_DONE, "DONE"},       {WHDR_PREPARED, "PREPARED"}, {WHDR_BEGINLOOP, "BEGINLOOP"},
    {WHDR_ENDLOOP, "ENDLOOP"}, {WHDR_INQUEUE, "INQUEUE"},
};

} // namespace

TWaveOutApi& WinmmWaveOut() {
    static TWinmmWaveOut api;
    return api;
}

void BuildWinmmDeviceList() {
    WinmmWaveOut().GetNumDevs();
}

std::string MmResultName(MMRESULT result) {
    for (const TNamed& entry : MmResultNames)
        if (entry.Value == result)
            return entry.Name;
    return "MMRESULT(" + std::to_string(result) + ")";
}

std::string WaveHeaderFlagsName(DWORD flags) {
    std::string text;
    for (const TNamed& entry : HeaderFlagNames) {
        if ((flags & entry.Value) == 0)
            continue;
        if (!text.empty())
            text += '|';
        text += entry.Name;
        flags &= ~entry.Value;
    }
    if (flags != 0)
        text += (text.empty() ? "" : "|") + std::to_string(flags);
    return text.empty() ? "0" : text;
}
