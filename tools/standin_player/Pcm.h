// Decoded audio as the player hands it to an output plug-in: interleaved
// little-endian PCM, 8-bit unsigned, 16/24/32-bit signed.
#pragma once

#include <cstdint>
#include <vector>

namespace standin {

struct PcmFormat {
    int sampleRate = 44100;
    int channels = 2;
    int bitsPerSample = 16;

    int BytesPerSample() const { return bitsPerSample / 8; }
    int BytesPerFrame() const { return channels * BytesPerSample(); }
    int BytesPerSecond() const { return sampleRate * BytesPerFrame(); }
};

struct PcmAudio {
    PcmFormat format;
    std::vector<char> data;

    std::int64_t Frames() const {
        return static_cast<std::int64_t>(data.size()) / format.BytesPerFrame();
    }
};

// The formats the player's input plug-ins hand over and the WAV reader accepts.
inline bool IsSupportedFormat(const PcmFormat& format) {
    const int bits = format.bitsPerSample;
    return (bits == 8 || bits == 16 || bits == 24 || bits == 32) && format.channels >= 1 &&
           format.channels <= 8 && format.sampleRate >= 1000 && format.sampleRate <= 384000;
}

} // namespace standin
