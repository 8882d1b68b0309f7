// The engine's only door to the wave-out device: a small table of the winmm
// calls it makes. The product binds it to winmm (WinmmWaveOut); the unit tests
// bind a fake that answers chosen MMRESULTs and completes buffers on demand,
// so every failure path of the engine runs without a sound card and without
// sleeps.
//
// Every MMRESULT and header flag the engine or its tests name is mapped to
// its text here, once.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>
#include <mmsystem.h>

class TWaveOutApi {
public:
    virtual ~TWaveOutApi() = default;

    virtual UINT GetNumDevs() = 0;
    // deviceId is a device id (WAVE_MAPPER included) or an open HWAVEOUT.
    virtual MMRESULT GetDevCaps(UINT_PTR deviceId, WAVEOUTCAPSA* caps) = 0;
    virtual MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                          DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT Write(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT Pause(HWAVEOUT handle) = 0;
    virtual MMRESULT Restart(HWAVEOUT handle) = 0;
    virtual MMRESULT Reset(HWAVEOUT handle) = 0;
    virtual MMRESULT Close(HWAVEOUT handle) = 0;
    virtual MMRESULT SetVolume(HWAVEOUT handle, DWORD volume) = 0;
    virtual MMRESULT GetPlaybackRate(HWAVEOUT handle, DWORD* rate) = 0;
    virtual MMRESULT SetPlaybackRate(HWAVEOUT handle, DWORD rate) = 0;
    virtual MMRESULT GetPosition(HWAVEOUT handle, MMTIME* time) = 0;
};

// The process-wide binding to winmm.
TWaveOutApi& WinmmWaveOut();

// Has winmm build its list of devices now, on the calling thread (once built,
// asking again costs nothing). Wine's winmm builds the list at the first
// device call made in the process, without a lock, and publishes the count
// before the entries: another thread asking meanwhile reads an entry that is
// not there yet and crashes. A lock of ours cannot cover the player and the
// other plug-ins, so the player's thread has the list built before any thread
// of ours can ask for it (Init, before the engine thread starts).
void BuildWinmmDeviceList();

// "MMSYSERR_NOERROR", "WAVERR_STILLPLAYING", ...; unknown values as "MMRESULT(n)".
std::string MmResultName(MMRESULT result);
// "PREPARED|INQUEUE", ... for a WAVEHDR's dwFlags; "0" when none is set.
std::string WaveHeaderFlagsName(DWORD flags);
