// The detector DSP module: while this library is the player's initialised
// output plug-in with an output run active, it hands each block to the engine
// at the player's DSP stage, and Write then only paces. While the output module
// is not initialised it tells the DSP proxy so through InterCom(1).
#pragma once

#include "host/PlayerInterface.h"

namespace qv {

// getModule of the DSP header: index 0 fills and returns DSPmodule0.
winampDSPModule* GetDetectorModule(int index);
bool IsDetectorDSPActive();

// The module's operations as the player reaches them through DSPmodule0.
// A repeated Init or an unmatched Quit raises EQvError("apeshit").
void DspConfig(winampDSPModule* module);
int DspInit(winampDSPModule* module);
int DspModifySamples(winampDSPModule* module, short* samples, int sampleCount, int bitsPerSample,
                     int channels, int sampleRate);
void DspQuit(winampDSPModule* module);

} // namespace qv
