// The built-in tune the player plays when it is given no file.
#pragma once

#include "tools/standin_player/Pcm.h"

namespace standin {

constexpr double DefaultTuneSeconds = 4.0;

// A short melody of enveloped sine and triangle notes, `seconds` long, in the
// given format (every channel carries the melody, panned a little apart).
PcmAudio MakeTune(double seconds, const PcmFormat& format);

} // namespace standin
