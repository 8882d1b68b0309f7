// The player's transport controls as the user works them: stop, pause and
// seek, and the volume slider. The built-in decoder and an input plug-in each
// carry them out their own way; the user's timed actions only see this.
#pragma once

#include "host/PlayerInterface.h"
#include "tools/standin_player/Decoder.h"

namespace standin {

class Transport {
public:
    virtual ~Transport() = default;
    virtual void Stop() = 0;
    virtual void Pause(bool paused) = 0;
    virtual void Seek(int toMs) = 0;
    virtual void SetVolume(int volume) = 0;
};

// Through the built-in decoder: pause and volume go straight to the output
// plug-in, while stop and seek are requests the decoding thread takes up
// between blocks.
class DecoderTransport : public Transport {
public:
    DecoderTransport(Out_Module& output, PlaybackControl& control)
        : output_(output), control_(control) {}

    void Stop() override { control_.stopRequested = true; }
    void Pause(bool paused) override;
    void Seek(int toMs) override { control_.seekToMs = toMs; }
    void SetVolume(int volume) override { output_.SetVolume(volume); }

private:
    Out_Module& output_;
    PlaybackControl& control_;
};

} // namespace standin
