// The built-in tune the player plays when it is given no file.
#pragma once

#include <optional>
#include <string>

#include "tools/standin_player/Pcm.h"

namespace standin {

constexpr double DefaultTuneSeconds = 4.0;

// A short melody of enveloped sine and triangle notes, `seconds` long, in the
// given format (every channel carries the melody, panned a little apart).
PcmAudio MakeTune(double seconds, const PcmFormat& format);

// The tune as a file name, "tone://SECONDS?rate=R&channels=C&bits=B": input
// plug-ins are handed names, and this one names the tune an input plug-in
// should play in its place.
struct ToneRequest {
    double seconds = DefaultTuneSeconds;
    PcmFormat format;
};
std::string ToneName(const ToneRequest& tone);
// Empty unless the name is a tone name of a length and format MakeTune plays.
std::optional<ToneRequest> ParseToneName(const std::string& name);

} // namespace standin
