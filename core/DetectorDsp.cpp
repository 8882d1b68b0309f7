#include "core/DetectorDsp.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "core/SampleHandOff.h"
#include "host/Errors.h"

namespace qv {
namespace {

char DetectorDescription[] = "Quellspring Detector DSP";

void TellProxyIfUninitialised() {
    const TInterComProc callback = InterCom;
    if (Clock.CoreInitialised == 0 && callback != nullptr)
        callback(1);
}

// The proxy lives in another DLL with a runtime of its own: no exception may
// unwind into it, so the record functions answer failures by value, the same
// values the proxy's guards give (Init -1, ModifySamples the sample count).
void QV_CDECL ConfigEntry(winampDSPModule* module) {
    try {
        DspConfig(module);
    } catch (...) {
    }
}
int QV_CDECL InitEntry(winampDSPModule* module) {
    try {
        return DspInit(module);
    } catch (...) {
        return -1;
    }
}
int QV_CDECL ModifySamplesEntry(winampDSPModule* module, short* samples, int sampleCount, int bits,
                                int channels, int rate) {
    try {
        return DspModifySamples(module, samples, sampleCount, bits, channels, rate);
    } catch (...) {
        return sampleCount;
    }
}
void QV_CDECL QuitEntry(winampDSPModule* module) {
    try {
        DspQuit(module);
    } catch (...) {
    }
}

} // namespace

winampDSPModule* GetDetectorModule(int index) {
    if (index != 0)
        return nullptr;
    DSPmodule0.description = DetectorDescription;
    DSPmodule0.Config = ConfigEntry;
    DSPmodule0.Init = InitEntry;
    DSPmodule0.ModifySamples = ModifySamplesEntry;
    DSPmodule0.Quit = QuitEntry;
    DSPmodule0.userData = nullptr;
    return &DSPmodule0;
}

bool IsDetectorDSPActive() {
    return Clock.DSPActive != 0;
}

void DspConfig(winampDSPModule*) {
    ShowConfigWindow();
}

int DspInit(winampDSPModule* module) {
    TellProxyIfUninitialised();
    if (module != &DSPmodule0)
        return 1;
    if (Clock.DSPActive != 0)
        throw EQvError("apeshit");
    Clock.DSPActive = 1;
    return 0;
}

namespace {

// What a player can deliver; anything else (a negative count would become a
// copy of gigabytes) is passed through untouched.
constexpr int MaxChannels = 64;
constexpr int MaxSampleRate = 1536000;

bool PlausibleBlock(const short* samples, int sampleCount, int bitsPerSample, int channels,
                    int sampleRate) {
    if (samples == nullptr || sampleCount <= 0 || channels < 1 || channels > MaxChannels ||
        sampleRate < 1 || sampleRate > MaxSampleRate)
        return false;
    if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32)
        return false;
    const int64_t bytes = int64_t(bitsPerSample / 8) * sampleCount * channels;
    return bytes <= INT32_MAX;
}

// The player's block, read before anything of ours is taken. The proxy calls
// us behind a guard that ends the call where a fault happens, without running
// a destructor: a block that cannot be read must fault here, where no lock,
// count or flag of ours is held yet, and not under the hand-off's locks.
// The copy's memory is reused from block to block: taken from the spare slot
// and put back without a lock, so a call ended inside the copy leaks that one
// buffer and holds nothing. (A thread_local buffer would do the same, but
// the runtime keeps a DLL with a thread_local destructor pending loaded until
// that thread ends: the player's decoding thread would pin the library.)
struct TBlockCopy {
    std::vector<short> Samples;
};
std::atomic<TBlockCopy*> SpareCopy{nullptr};

void PutBack(std::unique_ptr<TBlockCopy> copy) {
    const std::unique_ptr<TBlockCopy> other(SpareCopy.exchange(copy.release()));
}

// Frees the spare when the library unloads.
const struct TSpareCopyRelease {
    ~TSpareCopyRelease() { PutBack(nullptr); }
} SpareCopyRelease;

std::unique_ptr<TBlockCopy> CopyOfPlayerBlock(const short* samples, int32_t byteCount) {
    std::unique_ptr<TBlockCopy> copy(SpareCopy.exchange(nullptr));
    if (!copy)
        copy = std::make_unique<TBlockCopy>();
    copy->Samples.resize((static_cast<size_t>(byteCount) + 1) / sizeof(short));
    std::memcpy(copy->Samples.data(), samples, static_cast<size_t>(byteCount));
    return copy;
}

} // namespace

int DspModifySamples(winampDSPModule* module, short* samples, int sampleCount, int bitsPerSample,
                     int channels, int sampleRate) {
    const bool plausible =
        module == &DSPmodule0 && Clock.DSPActive != 0 &&
        PlausibleBlock(samples, sampleCount, bitsPerSample, channels, sampleRate);
    const int32_t byteCount = plausible ? (bitsPerSample / 8) * sampleCount * channels : 0;
    std::unique_ptr<TBlockCopy> copy = plausible ? CopyOfPlayerBlock(samples, byteCount) : nullptr;
    const TCoreCall call;
    if (copy && Clock.OutputActive != 0 && Clock.DSPActive != 0 && Clock.CoreInitialised != 0) {
        Clock.HandedOverAtDSP = 1;
        HandOff(copy->Samples.data(), byteCount, bitsPerSample, channels, sampleRate);
    }
    PutBack(std::move(copy));
    TellProxyIfUninitialised();
    return sampleCount;
}

void DspQuit(winampDSPModule* module) {
    if (module != &DSPmodule0)
        return;
    if (Clock.DSPActive == 0)
        throw EQvError("apeshit");
    Clock.DSPActive = 0;
}

} // namespace qv
