// The detector DSP proxy: a DSP plug-in with no signal processing of its own
// that makes the output library's detector DSP selectable in the player.
//
// How it works. At its load the proxy loads "out_qvquellspring.dll" from its
// own folder (in a player that already uses that library as its output
// plug-in this is the same instance), fetches the library's DSP header export
// and registers ProxyInterCom through "_InterComs". The player calls
// "winampDSPGetHeader2" with its main window, typically on its window thread;
// the proxy then shows the output library's texts in records of its own and
// forwards Config, Init, ModifySamples (from the decoding thread), Quit and
// the header's fourth entry to the output library, each behind a guard that
// turns a C++ exception or a hardware fault into the call's fixed answer.
// When the library or its export is missing, the first "winampDSPGetHeader2"
// with a valid window adds a removal entry for the proxy's file to the
// player's settings file and, when it is there, asks the player to restart
// (request 135).
//
// The output library calls ProxyInterCom(1) while its output module is not
// initialised (the proxy asks the player to restart) and ProxyInterCom(0) at
// its unload (the proxy lets go of it). Restart requests are rationed, at
// most one per load and none for a cause an earlier restart left uncured
// (RestartRequest.h).
#pragma once

#include <windows.h>

#include "host/PlayerInterface.h"

extern "C" {
winampDSPHeader* QV_CDECL winampDSPGetHeader2(HWND playerWindow);
int QV_CDECL winampUninstallPlugin(HINSTANCE library, HWND parent, int param);
}

namespace qv::proxy {

// The loader's notifications.
void BindOutputLibrary(HINSTANCE ownInstance);
void UnbindOutputLibrary();

int QV_CDECL ProxyInterCom(int value);

} // namespace qv::proxy
