// One run of the player: load the output plug-in (and a DSP plug-in when
// asked), initialise them on this thread, play the tracks from the decoding
// thread while this thread answers the plug-ins' requests and acts as the
// user, then shut everything down in the reverse order and print the summary.
#pragma once

#include <vector>

#include "tools/standin_player/Options.h"
#include "tools/standin_player/Pcm.h"

namespace standin {

// Returns the process exit code. Throws std::runtime_error when the run
// cannot start (no plug-in, no window).
int RunPlayer(const PlayerOptions& options, const std::vector<PcmAudio>& tracks);

} // namespace standin
