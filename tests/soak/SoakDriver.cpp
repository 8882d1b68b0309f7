// The soak: random sequences of the output module's record calls from two
// threads as the player makes them (the decoding thread: Open, Write, CanWrite,
// Flush, Close and the detector DSP; the window thread: Pause, volume, pan,
// device changes and now and then Quit), against the fake device with failure
// codes injected at random, or against Wine's winmm. After every sequence:
// no call took longer than a block plus a second, the engine goes idle after a
// stop, and after its exit no buffer is left but those abandoned to a device
// that would not close. Every run prints its seed; --seed replays one.
//
// usage: soak_driver [--seed N] [--sequences N] [--cycles N] [--winmm] [--bound-scale X]
// --bound-scale widens every call's bound: the short soak that runs with the
// tests looks for hangs, crashes and leaks on a machine shared with other
// tests; the long soak keeps the bounds and reports the longest call.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"
#include "tests/engine/FakeWaveOut.h"

namespace {

// Every call's bound is multiplied by this (--bound-scale).
double BoundScale = 1.0;

struct TOptions {
    uint32_t Seed = 0;
    int Sequences = 200;
    int Cycles = 200;
    bool Winmm = false;
};

struct TFigures {
    int Sequences = 0;
    int Failures = 0;
    double MaxCallMs = 0;
    uint64_t LeakedBuffers = 0;
    int64_t LeakedHandles = 0;
};

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

struct TFormat {
    int Rate, Channels, Bits;
};
constexpr TFormat Formats[] = {{44100, 2, 16}, {48000, 2, 16}, {44100, 1, 8},
                               {96000, 2, 24}, {22050, 2, 32}, {8000, 1, 16}};

const MMRESULT FailureCodes[] = {MMSYSERR_ERROR,        MMSYSERR_NODRIVER,   MMSYSERR_NOMEM,
                                 MMSYSERR_INVALHANDLE,  WAVERR_STILLPLAYING, WAVERR_UNPREPARED,
                                 MMSYSERR_NOTSUPPORTED, MMSYSERR_ALLOCATED};

// One sequence's shared state between its two threads.
struct TSequence {
    std::mt19937 Random;
    std::mutex Mutex; // the figures only
    double MaxCallMs = 0;
    double AllowedMs = 0; // the longest Write allowed: a block plus a second
    std::string Failure;

    int Pick(int below) {
        const std::lock_guard lock(Mutex);
        return int(Random() % uint32_t(below));
    }
    template <class F> void Timed(const char* what, double allowedMs, F call) {
        const double start = NowMs();
        call();
        const double took = NowMs() - start;
        const std::lock_guard lock(Mutex);
        MaxCallMs = std::max(MaxCallMs, took);
        if (took > allowedMs * BoundScale && Failure.empty())
            Failure = std::string(what) + " took " + std::to_string(int(took)) + " ms";
    }
};

std::vector<std::string> DeviceNames(TWaveOutApi& api) {
    std::vector<std::string> names{""};
    for (const TWaveOutDevice& device : WaveOutDeviceList(api))
        names.push_back(device.Name);
    return names;
}

void DecodingThread(TSequence& s, int steps) {
    Out_Module& out = *winampGetOutModule();
    TFormat format = Formats[s.Pick(std::size(Formats))];
    std::vector<char> data(400000);
    for (char& c : data)
        c = char(s.Pick(256));
    out.Open(format.Rate, format.Channels, format.Bits, 0, 0);
    for (int step = 0; step < steps; ++step) {
        const int frame = format.Channels * format.Bits / 8;
        switch (s.Pick(12)) {
        case 0:
            format = Formats[s.Pick(std::size(Formats))];
            s.Timed("Open", 4000,
                    [&] { out.Open(format.Rate, format.Channels, format.Bits, 0, 0); });
            break;
        case 1:
            s.Timed("Close", 1000, [&] { out.Close(); });
            break;
        case 2:
            s.Timed("Flush", 100, [&] { out.Flush(s.Pick(100000)); });
            break;
        case 3:
            s.Timed("CanWrite", 100, [&] { out.CanWrite(); });
            break;
        case 4: {
            // The detector DSP's stage, a block as the player gives it.
            const int frames = 1 + s.Pick(1152);
            s.Timed("ModifySamples", 1000, [&] {
                DSPmodule0.ModifySamples(&DSPmodule0, reinterpret_cast<short*>(data.data()), frames,
                                         format.Bits, format.Channels, format.Rate);
            });
            break;
        }
        default: {
            const int kind = s.Pick(10);
            int bytes = kind == 0 ? 0 : kind == 1 ? s.Pick(frame) : (1 + s.Pick(1152)) * frame;
            if (kind == 2) // up to a tenth of a second
                bytes = s.Pick(format.Rate / 10) * frame;
            // A Write waits for the block before it: at most a tenth of a
            // second here, plus the second of fudge the core allows, plus
            // room for a loaded machine.
            s.Timed("Write", 1000.0 + 100.0 + 500.0, [&] { out.Write(data.data(), bytes); });
        }
        }
    }
}

void WindowThread(TSequence& s, int steps, const std::vector<std::string>& devices,
                  TFakeWaveOut* fake) {
    Out_Module& out = *winampGetOutModule();
    for (int step = 0; step < steps; ++step) {
        switch (s.Pick(8)) {
        case 0:
            s.Timed("Pause", 1000, [&] { out.Pause(s.Pick(2)); });
            break;
        case 1:
            s.Timed("SetVolume", 1000, [&] { out.SetVolume(s.Pick(300) - 20); });
            break;
        case 2:
            s.Timed("SetPan", 1000, [&] { out.SetPan(s.Pick(300) - 150); });
            break;
        case 3:
            qv::SetOutDevice(devices[size_t(s.Pick(int(devices.size())))]);
            break;
        case 4:
            if (fake != nullptr) {
                const auto call = TFakeCall(s.Pick(int(TFakeCall::SetRate) + 1));
                fake->Fail(call, FailureCodes[s.Pick(std::size(FailureCodes))], 1 + s.Pick(3));
            }
            break;
        case 5:
            if (s.Pick(40) == 0) // Quit while the decoding thread goes on
                s.Timed("Quit", 12000, [] { qv::Quit(); });
            break;
        default:
            out.GetOutputTime();
            out.GetWrittenTime();
            break;
        }
        Sleep(DWORD(s.Pick(3)));
    }
}

// Init's part that needs no player window: the engine (on the chosen device)
// and the pacing timer.
void StartCore(TWaveOutApi& api) {
    qv::CreateHeld(WaveOutPlayThread, api);
    const ULONGLONG started = GetTickCount64();
    while (WaveOutPlayThread->State != psIdle && GetTickCount64() - started < 5000)
        WaveOutPlayThread->WaitForStateChange(100);
    qv::Clock.PaceTimer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    qv::Clock.CoreInitialised = 1;
}

bool WaitIdle(TWaveOutPlayThread& engine) {
    const ULONGLONG started = GetTickCount64();
    while (engine.State != psIdle && GetTickCount64() - started < 5000) {
        engine.PostClose();
        engine.WaitForStateChange(100);
    }
    return engine.State == psIdle;
}

// One sequence; returns its failure ("" when it held every invariant).
std::string RunSequence(uint32_t seed, bool winmm, TFigures& figures) {
    TSequence s;
    s.Random.seed(seed);
    auto fake = winmm ? nullptr
                      : std::make_unique<TFakeWaveOut>(std::vector<TFakeDevice>{
                            {"Fake Mapper"}, {"Speakers"}, {"Speakers"}, {"Mono", 1}});
    TWaveOutApi& api = winmm ? WinmmWaveOut() : static_cast<TWaveOutApi&>(*fake);
    const std::vector<std::string> devices = DeviceNames(api);
    qv::ResetClockForTest();
    qv::SetOutDevice(devices[size_t(1 + s.Pick(int(devices.size()) - 1))]);
    StartCore(api);
    if (s.Pick(2) == 0)
        DSPmodule0.Init(&DSPmodule0);
    qv::Clock.OutputActive = 1;
    const int steps = 20 + s.Pick(40);
    std::thread window(WindowThread, std::ref(s), steps, std::cref(devices), fake.get());
    DecodingThread(s, steps);
    window.join();

    std::string failure = s.Failure;
    // A stop: the engine must go idle (the fake's failures are spent by now).
    if (fake != nullptr)
        for (int call = 0; call <= int(TFakeCall::SetRate); ++call)
            fake->Fail(TFakeCall(call), MMSYSERR_NOERROR, 0);
    if (TWaveOutPlayThread* const engine = WaveOutPlayThread; engine != nullptr) {
        if (!WaitIdle(*engine) && failure.empty())
            failure =
                std::string("engine not idle after a stop but ") + PlayStateName(engine->State);
        // The engine's thread ends first, so that what it still holds can be
        // counted before Quit destroys it.
        engine->Quit();
        const bool ended = WaitForSingleObject(engine->Handle(), 10000) == WAIT_OBJECT_0;
        if (!ended && failure.empty())
            failure = "engine thread did not end";
        if (!ended && fake != nullptr)
            static_cast<void>(fake.release()); // the abandoned engine may still call it
        const uint64_t leaked = engine->LiveBuffers();
        figures.LeakedBuffers += leaked;
        if (leaked != 0 && failure.empty())
            failure = std::to_string(leaked) + " buffers alive after the exit";
    }
    if (qv::Clock.DSPActive != 0)
        DSPmodule0.Quit(&DSPmodule0);
    s.Timed("Quit", 12000, [] { qv::Quit(); });
    figures.MaxCallMs = std::max(figures.MaxCallMs, s.MaxCallMs);
    return failure;
}

int64_t HandleCount() {
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    return int64_t(handles) + GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) +
           GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
}

// Start and quit the core again and again: handles, GDI and USER objects
// must come back to where they were.
int64_t CycleLeaks(int cycles, bool winmm) {
    TFakeWaveOut fake;
    TWaveOutApi& api = winmm ? WinmmWaveOut() : static_cast<TWaveOutApi&>(fake);
    StartCore(api); // the first start loads what stays loaded
    qv::Quit();
    const int64_t before = HandleCount();
    for (int i = 0; i < cycles; ++i) {
        StartCore(api);
        qv::Quit();
    }
    return HandleCount() - before;
}

TOptions Parse(int argc, char** argv) {
    TOptions options;
    options.Seed = uint32_t(std::random_device{}());
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "0";
        if (arg == "--seed" && ++i)
            options.Seed = uint32_t(std::strtoul(value, nullptr, 10));
        else if (arg == "--sequences" && ++i)
            options.Sequences = std::atoi(value);
        else if (arg == "--cycles" && ++i)
            options.Cycles = std::atoi(value);
        else if (arg == "--winmm")
            options.Winmm = true;
        else if (arg == "--bound-scale" && ++i)
            BoundScale = std::max(1.0, std::strtod(value, nullptr));
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const TOptions options = Parse(argc, argv);
    // The records as the loader's attach fills them in the library.
    qv::ProcessAttach(GetModuleHandleA(nullptr));
    qv::GetDetectorModule(0);
    std::printf("soak: seed %u, %d sequences on %s\n", options.Seed, options.Sequences,
                options.Winmm ? "winmm" : "the fake device");
    std::fflush(stdout);
    std::mt19937 seeds(options.Seed);
    TFigures figures;
    for (int i = 0; i < options.Sequences; ++i) {
        const uint32_t seed = seeds();
        const std::string failure = RunSequence(seed, options.Winmm, figures);
        ++figures.Sequences;
        if (!failure.empty()) {
            ++figures.Failures;
            std::printf("soak: sequence %d (seed %u) failed: %s\n", i, seed, failure.c_str());
            std::fflush(stdout);
        }
    }
    figures.LeakedHandles = CycleLeaks(options.Cycles, options.Winmm);
    std::printf("bench: soak_sequences %d sequences\n", figures.Sequences);
    std::printf("bench: soak_failures %d sequences\n", figures.Failures);
    std::printf("bench: soak_max_call_ms %.1f ms\n", figures.MaxCallMs);
    std::printf("bench: soak_leaked_buffers %llu buffers\n",
                static_cast<unsigned long long>(figures.LeakedBuffers));
    std::printf("bench: soak_leaked_handles %lld handles\n",
                static_cast<long long>(figures.LeakedHandles));
    std::printf("soak: replay with make soak SEED=%u\n", options.Seed);
    return figures.Failures == 0 && figures.LeakedBuffers == 0 && figures.LeakedHandles == 0 ? 0
                                                                                             : 1;
}
