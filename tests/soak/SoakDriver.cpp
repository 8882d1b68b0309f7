// The soak: random sequences of the output module's record calls from two
// threads as the player makes them (the window thread, which owns the player's
// main window: Init, Pause, volume, pan, device changes, Quit; the decoding
// thread: Open, Write, CanWrite, Flush, Close as a stop or a track change, and
// the detector DSP), against the fake device with failure codes injected at
// random, or against Wine's winmm. After every sequence: no call took longer
// than its bound (a Write a block plus a second), the engine goes idle after a
// stop, and after its exit no buffer is left but those abandoned to a device
// that would not close. Every run prints its seed; --seed replays one, and
// --sequence N replays only the N-th sequence of a seed.
//
// usage: soak_driver [--seed N] [--sequences N] [--sequence N] [--cycles N] [--winmm]
//                    [--bound-scale X]
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
#include "tests/soak/SoakPlayerWindow.h"

namespace {

// Every call's bound is multiplied by this (--bound-scale).
double BoundScale = 1.0;

// Init waits for the engine to get ready; Quit for calls still inside and
// then for the engine's thread. Each has its own bound, plus a second.
constexpr double InitAllowedMs = qv::EngineReadyWaitMs + 1000.0;
constexpr double QuitAllowedMs = qv::CoreCallsWaitMs + qv::EngineExitWaitMs + 1000.0;
// Far past any call's bound: only a call that never returns takes this long.
constexpr DWORD DecodingWaitMs = 120000;

struct TOptions {
    uint32_t Seed = 0;
    int Sequences = 200;
    int Only = -1; // the one sequence to run, or all
    int Cycles = 200;
    bool Winmm = false;
};

struct TFigures {
    int Sequences = 0;
    int Failures = 0;
    double MaxCallMs = 0;
    std::string MaxCall; // its name
    uint64_t LeakedBuffers = 0;
    int64_t LeakedHandles = 0;
    int DeviceOpens = 0; // the fake's: none means Init did not bind the engine to it
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
    std::string MaxCall;
    std::string Failure;
    std::string Injected; // the device faults injected, for the failure's text
    TSoakPlayerWindow* Player = nullptr;

    int Pick(int below) {
        const std::lock_guard lock(Mutex);
        return int(Random() % uint32_t(below));
    }
    template <class F> void Timed(const char* what, double allowedMs, F call) {
        const double start = NowMs();
        call();
        const double took = NowMs() - start;
        const std::lock_guard lock(Mutex);
        if (took > MaxCallMs) {
            MaxCallMs = took;
            MaxCall = what;
        }
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
            // The player asks for this answer inside Close.
            s.Player->SetContinuing(s.Pick(2) == 0);
            s.Timed("Close", 1000, [&] { out.Close(); });
            break;
        case 2:
            // A seek waits (bounded) for the engine to drop what it holds.
            s.Timed("Flush", qv::EngineDiscardWaitMs + 100.0, [&] { out.Flush(s.Pick(100000)); });
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
                const MMRESULT code = FailureCodes[s.Pick(std::size(FailureCodes))];
                const int times = 1 + s.Pick(3);
                fake->Fail(call, code, times);
                const std::lock_guard lock(s.Mutex);
                s.Injected += std::string(" ") + FakeCallName(call) + ":" + MmResultName(code) +
                              "x" + std::to_string(times);
            }
            break;
        case 5:
            if (s.Pick(40) == 0) // Quit while the decoding thread goes on
                s.Timed("Quit", QuitAllowedMs, [&] { out.Quit(); });
            break;
        default:
            out.GetOutputTime();
            out.GetWrittenTime();
            break;
        }
        PumpMessages(DWORD(s.Pick(3)));
    }
}

// Init as the player calls it: the main window and the instance are filled in
// first; the engine plays through `api`.
void InitThroughRecord(TSoakPlayerWindow& player, TWaveOutApi* api) {
    qv::SetEngineWaveOutForTest(api);
    Out_Module& out = *winampGetOutModule();
    out.hMainWindow = player.Window();
    out.hDllInstance = GetModuleHandleA(nullptr);
    out.Init();
}

struct TEventCloser {
    void operator()(HANDLE event) const { CloseHandle(event); }
};
using TEvent = std::unique_ptr<void, TEventCloser>;

bool WaitIdle(TWaveOutPlayThread& engine) {
    const ULONGLONG started = GetTickCount64();
    while (engine.State != psIdle && GetTickCount64() - started < 5000) {
        engine.PostClose();
        engine.WaitForStateChange(100);
    }
    return engine.State == psIdle;
}

// One sequence on the player's window thread (this one); returns its failure
// ("" when it held every invariant).
std::string RunSequence(int index, uint32_t seed, bool winmm, TSoakPlayerWindow& player,
                        TFigures& figures) {
    TSequence s;
    s.Random.seed(seed);
    s.Player = &player;
    auto fake = winmm ? nullptr
                      : std::make_unique<TFakeWaveOut>(std::vector<TFakeDevice>{
                            {"Fake Mapper"}, {"Speakers"}, {"Speakers"}, {"Mono", 1}});
    TWaveOutApi& api = winmm ? WinmmWaveOut() : static_cast<TWaveOutApi&>(*fake);
    const std::vector<std::string> devices = DeviceNames(api);
    qv::ResetClockForTest();
    Out_Module& out = *winampGetOutModule();
    s.Timed("Init", InitAllowedMs, [&] { InitThroughRecord(player, fake.get()); });
    if (!qv::LastInitError.empty() && s.Failure.empty())
        s.Failure = "Init failed: " + qv::LastInitError;
    qv::SetOutDevice(devices[size_t(1 + s.Pick(int(devices.size()) - 1))]);
    if (s.Pick(2) == 0)
        DSPmodule0.Init(&DSPmodule0);
    const int steps = 20 + s.Pick(40);
    // The decoding thread's requests to the player's window are answered
    // while this thread waits for it, as the player's window thread does.
    const TEvent decoded(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread decoding([&] {
        DecodingThread(s, steps);
        SetEvent(decoded.get());
    });
    WindowThread(s, steps, devices, fake.get());
    const bool ended = PumpMessages(DecodingWaitMs, decoded.get());
    if (!ended) {
        std::printf("soak: sequence %d (seed %u) hung: the decoding thread did not come back\n",
                    index, seed);
        std::fflush(stdout);
        ExitProcess(2); // a thread stuck in a call cannot be joined
    }
    decoding.join();

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
        if (fake != nullptr)
            figures.DeviceOpens += fake->Calls(TFakeCall::Open);
        if (!ended && fake != nullptr)
            static_cast<void>(fake.release()); // the abandoned engine may still call it
        const uint64_t leaked = engine->LiveBuffers();
        figures.LeakedBuffers += leaked;
        if (leaked != 0 && failure.empty())
            failure = std::to_string(leaked) + " buffers alive after the exit";
    }
    if (qv::Clock.DSPActive != 0)
        DSPmodule0.Quit(&DSPmodule0);
    s.Timed("Quit", QuitAllowedMs, [&] { out.Quit(); });
    qv::SetEngineWaveOutForTest(nullptr);
    if (s.MaxCallMs > figures.MaxCallMs) {
        figures.MaxCallMs = s.MaxCallMs;
        figures.MaxCall = s.MaxCall;
    }
    if (failure.empty())
        failure = s.Failure; // Quit's own bound
    if (!failure.empty() && !s.Injected.empty())
        failure += " (injected:" + s.Injected + ")";
    return failure;
}

int64_t HandleCount() {
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    return int64_t(handles) + GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) +
           GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
}

// Init and Quit through the record again and again: handles, GDI and USER
// objects must come back to where they were.
int64_t CycleLeaks(int cycles, bool winmm, TSoakPlayerWindow& player) {
    if (cycles <= 0)
        return 0;
    TFakeWaveOut fake;
    TWaveOutApi* const api = winmm ? nullptr : &fake;
    Out_Module& out = *winampGetOutModule();
    InitThroughRecord(player, api); // the first start loads what stays loaded
    out.Quit();
    const int64_t before = HandleCount();
    for (int i = 0; i < cycles; ++i) {
        InitThroughRecord(player, api);
        out.Quit();
    }
    qv::SetEngineWaveOutForTest(nullptr);
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
        else if (arg == "--sequence" && ++i)
            options.Only = std::atoi(value);
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
    TSoakPlayerWindow player;
    std::mt19937 seeds(options.Seed);
    TFigures figures;
    for (int i = 0; i < options.Sequences; ++i) {
        const uint32_t seed = seeds();
        if (options.Only >= 0 && i != options.Only)
            continue;
        const std::string failure = RunSequence(i, seed, options.Winmm, player, figures);
        ++figures.Sequences;
        if (!failure.empty()) {
            ++figures.Failures;
            std::printf("soak: sequence %d (seed %u) failed: %s\n", i, seed, failure.c_str());
            std::fflush(stdout);
        }
    }
    figures.LeakedHandles = CycleLeaks(options.Cycles, options.Winmm, player);
    const bool unbound = !options.Winmm && figures.Sequences > 0 && figures.DeviceOpens == 0;
    if (unbound)
        std::printf("soak: the engine Init created never opened the fake device\n");
    std::printf("soak: the longest call was %s\n",
                figures.MaxCall.empty() ? "none" : figures.MaxCall.c_str());
    std::printf("bench: soak_sequences %d sequences\n", figures.Sequences);
    std::printf("bench: soak_failures %d sequences\n", figures.Failures);
    std::printf("bench: soak_max_call_ms %.1f ms\n", figures.MaxCallMs);
    std::printf("bench: soak_leaked_buffers %llu buffers\n",
                static_cast<unsigned long long>(figures.LeakedBuffers));
    std::printf("bench: soak_leaked_handles %lld handles\n",
                static_cast<long long>(figures.LeakedHandles));
    std::printf("soak: replay this process with soak_driver%s --seed %u --sequences %d\n",
                options.Winmm ? " --winmm" : "", options.Seed, options.Sequences);
    const bool clean = figures.Failures == 0 && figures.LeakedBuffers == 0 &&
                       figures.LeakedHandles == 0 && !unbound;
    return clean ? 0 : 1;
}
