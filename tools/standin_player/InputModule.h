// The player's input plug-in record, as the public plug-in interface
// describes it: an input plug-in exports "winampGetInModule2", which returns
// this record. The plug-in fills its own functions and texts; the player
// fills the window, the instance, the visualisation and DSP callbacks,
// SetInfo and the output module before it calls Init.
//
// Two flavours share one layout: in the Unicode flavour (IN_UNICODE set in
// `version`) the file names that IsOurFile, Play, GetFileInfo and InfoBox
// take are wide strings. Every field is a pointer or an int, so the 32-bit
// player reads 152 bytes; in the x86_64 test build pointers are 8 bytes wide.
#pragma once

#include <windows.h>

#include "host/PlayerInterface.h"

template <class PathChar> struct In_ModuleOf {
    int version;
    char* description;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    // Pairs of zero-terminated texts, "ext1;ext2" then a description, ended by an empty text.
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void(QV_CDECL* Config)(HWND hwndParent);
    void(QV_CDECL* About)(HWND hwndParent);
    void(QV_CDECL* Init)();
    void(QV_CDECL* Quit)();
    void(QV_CDECL* GetFileInfo)(const PathChar* file, PathChar* title, int* length_in_ms);
    int(QV_CDECL* InfoBox)(const PathChar* file, HWND hwndParent);
    int(QV_CDECL* IsOurFile)(const PathChar* fn);
    int(QV_CDECL* Play)(const PathChar* fn);
    void(QV_CDECL* Pause)();
    void(QV_CDECL* UnPause)();
    int(QV_CDECL* IsPaused)();
    void(QV_CDECL* Stop)();
    int(QV_CDECL* GetLength)();
    int(QV_CDECL* GetOutputTime)();
    void(QV_CDECL* SetOutputTime)(int time_in_ms);
    void(QV_CDECL* SetVolume)(int volume);
    void(QV_CDECL* SetPan)(int pan);
    // Filled by the player.
    void(QV_CDECL* SAVSAInit)(int maxlatency_in_ms, int srate);
    void(QV_CDECL* SAVSADeInit)();
    void(QV_CDECL* SAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int(QV_CDECL* SAGetMode)();
    int(QV_CDECL* SAAdd)(void* data, int timestamp, int csa);
    void(QV_CDECL* VSAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int(QV_CDECL* VSAGetMode)(int* specNch, int* waveNch);
    int(QV_CDECL* VSAAdd)(void* data, int timestamp);
    void(QV_CDECL* VSASetInfo)(int srate, int nch);
    int(QV_CDECL* dsp_isactive)();
    int(QV_CDECL* dsp_dosamples)(short int* samples, int numsamples, int bps, int nch, int srate);
    // Filled by the plug-in.
    void(QV_CDECL* EQSet)(int on, char data[10], int preamp);
    // Filled by the player.
    void(QV_CDECL* SetInfo)(int bitrate, int srate, int stereo, int synched);
    Out_Module* outMod;
};

using In_Module = In_ModuleOf<char>;
using In_ModuleW = In_ModuleOf<wchar_t>;

typedef In_Module*(QV_CDECL* winampGetInModule2Type)();

namespace player {
constexpr int InModuleVersion = 0x100;
constexpr int InModuleUnicode = 0x0F000000; // the flag of the Unicode flavour
constexpr int InUsesOutputPlugin = 1;       // bit of UsesOutputPlug
constexpr int InfoBoxUnchanged = 1;
constexpr int FileInfoTitleLength = 2048; // characters GetFileInfo may write into title
constexpr int PlayFileNotFound = -1;      // Play: skip the file; other non-zero: stop
// Posted by an input plug-in to the main window once its file has played out.
constexpr UINT EndOfFileMessage = WM_USER + 2;
} // namespace player

#include <cstddef>
#if defined(__i386__)
static_assert(sizeof(In_Module) == 152);
static_assert(offsetof(In_Module, FileExtensions) == 16);
static_assert(offsetof(In_Module, UsesOutputPlug) == 24);
static_assert(offsetof(In_Module, Config) == 28);
static_assert(offsetof(In_Module, IsOurFile) == 52);
static_assert(offsetof(In_Module, SetPan) == 92);
static_assert(offsetof(In_Module, dsp_dosamples) == 136);
static_assert(offsetof(In_Module, SetInfo) == 144);
static_assert(offsetof(In_Module, outMod) == 148);
#elif defined(__x86_64__)
static_assert(sizeof(In_Module) == 296);
static_assert(offsetof(In_Module, UsesOutputPlug) == 44);
static_assert(offsetof(In_Module, Config) == 48);
static_assert(offsetof(In_Module, outMod) == 288);
#endif
static_assert(sizeof(In_Module) == sizeof(In_ModuleW));
