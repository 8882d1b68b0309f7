// Reading and writing RIFF/WAVE files of integer PCM.
#pragma once

#include <stdexcept>
#include <string>

#include "tools/standin_player/Pcm.h"

namespace standin {

// A file that is not a WAV file the player can play; the message says why.
class WavError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Accepts format 1 and WAVE_FORMAT_EXTENSIBLE with the PCM subformat, 8 to 32
// bits in whole bytes, 1 to 8 channels; chunks other than "fmt " and "data"
// are skipped. A data chunk that runs past the end of the file is cut to the
// whole frames present, as players do with files whose writer was interrupted.
PcmAudio ReadWavFile(const std::string& path);

// Writes a plain format-1 file for up to two channels and 16 bits, and the
// extensible form otherwise, as other writers do.
void WriteWavFile(const std::string& path, const PcmAudio& audio);

} // namespace standin
