#include "tools/standin_player/Transport.h"

namespace standin {

// The decoder stops writing before the plug-in pauses, and the plug-in
// resumes before the decoder writes again.
void DecoderTransport::Pause(bool paused) {
    if (paused) {
        control_.paused = true;
        output_.Pause(1);
    } else {
        output_.Pause(0);
        control_.paused = false;
    }
}

} // namespace standin
