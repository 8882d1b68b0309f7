// The user at the plug-in's windows: the player's Config and About entries,
// called from the main (window) thread as the player calls them, and the
// user's own input to those windows, sent as the messages a mouse or
// keyboard would produce.
#pragma once

#include <windows.h>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Console.h"
#include "tools/standin_player/Options.h"
#include "tools/standin_player/UserActions.h"

namespace standin {

void AddWindowActions(UserActions& actions, const PlayerOptions& options, Out_Module& output,
                      HWND mainWindow, Console& console);

} // namespace standin
