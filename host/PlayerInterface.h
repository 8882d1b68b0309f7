// The player's side of the plug-in interface: the records it reads from an
// output or DSP plug-in and the requests it answers on its main window.
//
// Every function reached through a record uses the C calling convention, and
// the 32-bit player reads each field as 4 bytes: the layout asserts below hold
// that in the i686 build (in the x86_64 test build pointers are 8 bytes wide).
#pragma once

#include <windows.h>

#define QV_CDECL __cdecl

extern "C" {

struct Out_Module {
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void(QV_CDECL* Config)(HWND hwndParent);
    void(QV_CDECL* About)(HWND hwndParent);
    void(QV_CDECL* Init)();
    void(QV_CDECL* Quit)();
    int(QV_CDECL* Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms,
                        int prebufferms);
    void(QV_CDECL* Close)();
    int(QV_CDECL* Write)(char* buf, int len);
    int(QV_CDECL* CanWrite)();
    int(QV_CDECL* IsPlaying)();
    int(QV_CDECL* Pause)(int pause);
    void(QV_CDECL* SetVolume)(int volume);
    void(QV_CDECL* SetPan)(int pan);
    void(QV_CDECL* Flush)(int t);
    int(QV_CDECL* GetOutputTime)();
    int(QV_CDECL* GetWrittenTime)();
};

struct winampDSPModule {
    char* description;
    HWND hwndParent;
    HINSTANCE hDllInstance;
    void(QV_CDECL* Config)(winampDSPModule* this_mod);
    int(QV_CDECL* Init)(winampDSPModule* this_mod);
    int(QV_CDECL* ModifySamples)(winampDSPModule* this_mod, short int* samples, int numsamples,
                                 int bps, int nch, int srate);
    void(QV_CDECL* Quit)(winampDSPModule* this_mod);
    void* userData;
};

struct winampDSPHeader {
    int version;
    char* description;
    winampDSPModule*(QV_CDECL* getModule)(int index);
    int(QV_CDECL* sf)(int key);
};

typedef Out_Module*(QV_CDECL* winampGetOutModuleType)();
typedef winampDSPHeader*(QV_CDECL* winampDSPGetHeaderType)(HWND hwndParent);
typedef winampDSPHeader*(QV_CDECL* QuellspringDSPGetHeaderType)();
typedef int(QV_CDECL* winampUninstallPluginType)(HINSTANCE hdll, HWND parent, int param);
typedef int(QV_CDECL* TInterComProc)(int value);
typedef int(QV_CDECL* InterComsType)(TInterComProc callback);

} // extern "C"

// Values the player and the plug-in exchange.
namespace player {
constexpr int OutModuleVersion = 0x10;
constexpr int OutModuleId = 0x10001;
constexpr int DspHeaderVersion = 0x20;
constexpr int OpenResult = 0x10000;
constexpr int CanWriteRoom = 0x10000;

constexpr UINT RequestMessage = WM_USER; // 1024; the request number goes in lParam
constexpr LPARAM IpcGetVersion = 0;
constexpr LPARAM IpcSetVolume = 122;
constexpr LPARAM IpcSetPan = 123;
constexpr LPARAM IpcRestart = 135;
constexpr LPARAM IpcGetWindow = 260;
constexpr LPARAM IpcGetIniFile = 334;
constexpr LPARAM IpcGetPluginDir = 336;
constexpr LPARAM IpcIsPlaybackContinuing = 400;
constexpr LPARAM IpcGetOutputPlugin = 625;
constexpr LPARAM IpcWriteConfig = 3011;
} // namespace player

#if defined(__i386__)
#include <cstddef>
static_assert(sizeof(void*) == 4);
static_assert(sizeof(Out_Module) == 80);
static_assert(offsetof(Out_Module, description) == 4);
static_assert(offsetof(Out_Module, hMainWindow) == 12);
static_assert(offsetof(Out_Module, hDllInstance) == 16);
static_assert(offsetof(Out_Module, Config) == 20);
static_assert(offsetof(Out_Module, Init) == 28);
static_assert(offsetof(Out_Module, Open) == 36);
static_assert(offsetof(Out_Module, Write) == 44);
static_assert(offsetof(Out_Module, SetVolume) == 60);
static_assert(offsetof(Out_Module, GetWrittenTime) == 76);
static_assert(sizeof(winampDSPHeader) == 16);
static_assert(offsetof(winampDSPHeader, getModule) == 8);
static_assert(offsetof(winampDSPHeader, sf) == 12);
static_assert(sizeof(winampDSPModule) == 32);
static_assert(offsetof(winampDSPModule, hwndParent) == 4);
static_assert(offsetof(winampDSPModule, Config) == 12);
static_assert(offsetof(winampDSPModule, ModifySamples) == 20);
static_assert(offsetof(winampDSPModule, userData) == 28);
#endif
