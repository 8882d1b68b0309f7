// Playing through the player's input plug-ins: each track goes, by name, to
// the first loaded input plug-in that accepts it, which decodes it on a
// thread of its own and drives the output plug-in itself.
//
// How it works, all on the main thread as in the player: the input plug-ins
// are loaded, their records filled with the player's callbacks and an
// OutputTap as the output module, and initialised. For each track: Play (the
// plug-in opens the output and starts its decoding thread), SetVolume and
// SetPan; then messages are pumped, answering the plug-ins' requests and
// running the user's actions, until the plug-in posts the end of its file
// (WM_USER+2) or the user stops. Then Stop, which closes the output. Before
// that Stop the answer to request 400 is set: non-zero when the file ended by
// itself and playback goes on, 0 when the user stopped or the playlist ends.
// At the end every input plug-in is Quit, before the caller quits the output.
// The visualisation, DSP and SetInfo callbacks are called from the plug-ins'
// decoding threads.
#pragma once

#include <windows.h>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Console.h"
#include "tools/standin_player/Decoder.h"
#include "tools/standin_player/Options.h"
#include "tools/standin_player/PlayerWindow.h"

namespace standin {

// `dsp` may be null. The result counts what the input plug-ins wrote.
PlaybackResult PlayThroughInputs(const PlayerOptions& options, Out_Module& output, HWND mainWindow,
                                 winampDSPModule* dsp, PlayerAnswers& answers, Console& console);

} // namespace standin
