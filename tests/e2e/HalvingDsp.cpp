// A DSP plug-in for the stand-in player's tests: it keeps every other frame,
// so that what reaches the output plug-in shows whether the player ran the
// DSP stage and honoured the frame count it returned. Init and Quit are
// counted, and a wrong pairing makes ModifySamples return 0 (nothing is written).
#include <cstring>

#include "host/PlayerInterface.h"

namespace {

int Initialised = 0;

int QV_CDECL Init(winampDSPModule*) {
    ++Initialised;
    return 0;
}

void QV_CDECL Quit(winampDSPModule*) {
    --Initialised;
}

void QV_CDECL Config(winampDSPModule*) {}

int QV_CDECL KeepEveryOtherFrame(winampDSPModule*, short int* samples, int frames, int bits,
                                 int channels, int) {
    if (Initialised != 1)
        return 0;
    const int frameBytes = channels * bits / 8;
    char* const bytes = reinterpret_cast<char*>(samples);
    for (int i = 0; i < frames / 2; ++i)
        std::memmove(bytes + i * frameBytes, bytes + 2 * i * frameBytes, frameBytes);
    return frames / 2;
}

char Description[] = "Halving test DSP";

winampDSPModule Module = {Description,         nullptr, nullptr, Config, Init,
                          KeepEveryOtherFrame, Quit,    nullptr};

winampDSPModule* QV_CDECL GetModule(int index) {
    return index == 0 ? &Module : nullptr;
}

winampDSPHeader Header = {player::DspHeaderVersion, Description, GetModule, nullptr};

} // namespace

extern "C" __declspec(dllexport) winampDSPHeader* QV_CDECL winampDSPGetHeader2(HWND) {
    return &Header;
}
