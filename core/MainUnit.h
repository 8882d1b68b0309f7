// The output library's face towards the player and the DSP proxy: the three
// records, the exported variables and the lifecycle of every object the core
// owns (host window manager, settings store, engine, pacing timer, windows).
//
// How it works. The loader's attach fills the records (DllEntry). The player
// calls Init on its window thread; Init has winmm build its device list (no
// thread of ours may be the first to ask for it, see BuildWinmmDeviceList),
// then creates, each only while its variable is null, the host window
// manager, the settings store and the engine, waits for the engine to report
// idle, reads the settings and creates PaceTimer.
// Quit undoes this in reverse, clearing each variable before destroying its
// object, and fires PaceTimer first so that a Write blocked on it returns.
// Every function the player or the proxy calls catches everything.
#pragma once

#include <memory>
#include <string>

#include "host/PlayerInterface.h"

class TWinAmpAPIMan;
class TPluginConfig;
class TWaveOutPlayThread;
class TConfigForm;
class TAboutForm;
class TWaveOutApi;

extern "C" {
extern Out_Module plugin;
extern winampDSPHeader plugin2;
extern winampDSPModule DSPmodule0;
extern TInterComProc InterCom;
extern TWinAmpAPIMan* WinAmpAPIMan;
extern TPluginConfig* PluginConfig;
extern TWaveOutPlayThread* WaveOutPlayThread;
extern TConfigForm* ConfigForm;
extern TAboutForm* AboutForm;

Out_Module* QV_CDECL winampGetOutModule();
winampDSPHeader* QV_CDECL QuellspringwinampDSPGetHeader2();
int QV_CDECL InterComs(TInterComProc callback);
int QV_CDECL winampUninstallPlugin(HINSTANCE hdll, HWND parent, int param);
}

namespace qv {

extern std::string OutputDescription;
extern std::string DSPDescription;
extern HINSTANCE LibraryInstance;
// The text of the last failed Init ("" after a good one), for the status read-out.
extern std::string LastInitError;

// The loader's notifications (called by DllMain, and by tests).
void ProcessAttach(HINSTANCE instance);
void ProcessDetach();

// Init and Quit as the player calls them; they never throw.
void Init();
void Quit();
// Init's body; raises EQvError. Tests call it to see the failure.
void InitOrThrow();
// The device binding of the engine that Init creates: winmm, unless a test
// (the soak) plays through another; null goes back to winmm. It is read only
// when Init creates the engine, so it must outlive that engine.
void SetEngineWaveOutForTest(TWaveOutApi* api);

// Every call that reaches the engine or the pacing timer from a player
// thread holds a TCoreCall meanwhile, and reads the two variables only after
// it took one. Quit clears both variables, then waits (bounded) until no call
// holds one before it closes or destroys anything: a Write still queueing into
// the engine or waiting on the timer never finds them freed under it.
class TCoreCall {
public:
    TCoreCall();
    ~TCoreCall();
    TCoreCall(const TCoreCall&) = delete;
    TCoreCall& operator=(const TCoreCall&) = delete;
};

// The bounds of the core's waits. A hung driver must not hang the player:
// past these the core gives up waiting and takes the way out each waiter
// names.
constexpr DWORD EngineReadyWaitMs = 5000;
constexpr DWORD EngineIdleWaitMs = 3000;
constexpr DWORD EngineExitWaitMs = 5000;
constexpr DWORD CoreCallsWaitMs = 5000;
// A seek waits this long at most for the engine to drop the old place; past
// it the new place's blocks still wait for the drop, inside the engine.
constexpr DWORD EngineDiscardWaitMs = 500;

// The Config and About hooks (also the detector DSP's Config), and the
// uninstall entry's closing of the about window.
void ShowConfigWindow();
void ShowAboutWindow();
void CloseAboutWindow();

// Moves an object into one of the exported variables / out of it again.
// Clearing the variable before the object is destroyed lets other threads
// that test the variable stop using it first.
template <class T, class... Args> T* CreateHeld(T*& variable, Args&&... args) {
    variable = std::make_unique<T>(std::forward<Args>(args)...).release();
    return variable;
}
template <class T> void DestroyHeld(T*& variable) {
    std::unique_ptr<T> owner(variable);
    variable = nullptr;
}

} // namespace qv
