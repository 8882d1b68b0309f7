// Plays 60 s through the engine on a real device, fed the way the core feeds
// it: one 2304-byte block per 576 frames of wall-clock time, restarted once
// 0.45 s is held. Prints the figures as "bench: NAME VALUE UNIT".
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/Waveoutplaythreadunit.h"

namespace {

constexpr int32_t Rate = 44100;
constexpr uint32_t Block = 2304;
constexpr uint32_t FramesPerBlock = Block / 4;
constexpr int AudioSeconds = 60;
constexpr double PreBufferSeconds = 0.45;

double Seconds(int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(ticks) / double(frequency.QuadPart);
}

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

bool WaitForState(TWaveOutPlayThread& engine, TPlayState wanted, DWORD ms = 20000) {
    const DWORD start = GetTickCount();
    while (engine.State != wanted) {
        if (GetTickCount() - start > ms)
            return false;
        engine.WaitForStateChange(100);
    }
    return true;
}

// Waits until `seconds` after `start` on a waitable timer, as Write does.
void WaitUntil(HANDLE timer, int64_t start, double seconds) {
    const double remaining = seconds - Seconds(Now() - start);
    if (remaining <= 0)
        return;
    LARGE_INTEGER due;
    due.QuadPart = -int64_t(remaining * 1e7);
    SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
    WaitForSingleObject(timer, INFINITE);
}

double CpuMs(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(thread, &created, &ended, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

int Run(const std::string& device) {
    TWaveOutPlayThread engine;
    engine.SetPriority(THREAD_PRIORITY_TIME_CRITICAL);
    if (!WaitForState(engine, psIdle))
        return 1;
    std::vector<char> block(Block);
    for (uint32_t i = 0; i < Block; ++i)
        block[i] = char((i * 37) | 1);
    const HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    const int blocks = int(int64_t(AudioSeconds) * Rate / FramesPerBlock);
    const int64_t start = Now();
    int64_t playingSince = 0;
    uint32_t allocatedAtWarmup = 0;
    int64_t lockHoldAtWarmup = 0;
    bool warm = false;
    for (int k = 0; k < blocks; ++k) {
        WaitUntil(timer, start, double(k) * FramesPerBlock / Rate);
        const uint8_t state = engine.State;
        if (state == psIdle) {
            engine.RequestOpen(device, Rate, 2, 16, Block);
            continue;
        }
        if (state == psOpen || state == psPaused) {
            const double held = double(engine.GetTotalBytes()) / 4 / Rate;
            if (held >= PreBufferSeconds)
                engine.PostRestart();
        }
        if (state == psPlaying && playingSince == 0)
            playingSince = Now();
        if (!warm && playingSince != 0 && Seconds(Now() - playingSince) >= 1.0) {
            warm = true;
            allocatedAtWarmup = engine.Stats.BuffersAllocated;
            lockHoldAtWarmup = engine.Stats.LockHoldMaxNs.exchange(0);
        }
        if (state == psOpen || state == psPlaying || state == psPaused)
            engine.QueueData({Rate, 2, 16, Block, block.data()});
        if (state == psError) {
            std::fprintf(stderr, "engine_bench: the device failed\n");
            return 1;
        }
    }
    // Dry runs up to here happened while the player still had data for the device.
    const uint32_t underruns = engine.Stats.DryRuns;
    const uint32_t allocatedAfterWarmup = engine.Stats.BuffersAllocated - allocatedAtWarmup;
    WaitForState(engine, psOpen);
    const double cpuMs = CpuMs(engine.Handle());
    engine.PostClose();
    WaitForState(engine, psIdle);
    engine.Quit();
    engine.WaitFor();
    CloseHandle(timer);
    if (!warm) {
        std::fprintf(stderr, "engine_bench: playback never started on \"%s\"\n", device.c_str());
        return 1;
    }
    std::printf("bench: engine_allocations_after_warmup %u buffers\n", allocatedAfterWarmup);
    const int64_t steadyHold = engine.Stats.LockHoldMaxNs;
    std::printf("bench: engine_lock_hold_max_us %.1f us\n",
                double(std::max(steadyHold, lockHoldAtWarmup)) / 1000.0);
    // Without the device's open and the first second: what the player's
    // thread may wait in QueueData while playing.
    std::printf("bench: engine_lock_hold_max_playing_us %.1f us\n", double(steadyHold) / 1000.0);
    std::printf("bench: engine_cpu_ms_per_audio_s %.3f ms\n", cpuMs / AudioSeconds);
    std::printf("bench: engine_underruns %u runs\n", underruns);
    std::printf("bench: engine_buffers_allocated %u buffers\n",
                uint32_t(engine.Stats.BuffersAllocated));
    return 0;
}

} // namespace

int main() {
    const char* device = std::getenv("QV_DEVICE_OTHER");
    return Run(device != nullptr ? device : "QVQ_Other");
}
