// What any wave-out client pays here: plays a quiet tone for a while in
// buffers of 50 ms, four of them with the device, refilling each as it comes
// back, and nothing else. The process's CPU time over the playing alone,
// divided by the seconds played, is the floor of the device path's cost on
// this machine: the sound system's own threads (winmm's device thread and
// the audio server's client threads) spend it whoever writes.
//
// usage: waveout_floor [SECONDS]   prints "bench: waveout_floor_cpu_ms_per_audio_s X ms"
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int BufferMs = 50;
constexpr int InFlight = 4;

struct TEventCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

int64_t ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& time) {
        return int64_t((uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 10000);
    };
    return ms(kernel) + ms(user);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const std::unique_ptr<void, TEventCloser> done(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, Rate, Rate * 4, 4, 16, 0};
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done.get()), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "waveout_floor: no wave-out device\n");
        return 1;
    }
    const int frames = Rate * BufferMs / 1000;
    std::vector<std::vector<short>> samples(InFlight, std::vector<short>(size_t(frames) * 2));
    for (auto& buffer : samples)
        for (int i = 0; i < frames; ++i)
            buffer[2 * i] = buffer[2 * i + 1] = short(1000 * std::sin(i * 0.1));
    std::vector<WAVEHDR> headers(InFlight);
    const int total = seconds * 1000 / BufferMs;
    int written = 0;
    int finished = 0;
    const int64_t cpuBefore = ProcessCpuMs();
    for (int i = 0; i < InFlight; ++i) {
        headers[i] = WAVEHDR{};
        headers[i].lpData = reinterpret_cast<LPSTR>(samples[i].data());
        headers[i].dwBufferLength = DWORD(frames * 4);
        waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR));
        waveOutWrite(device, &headers[i], sizeof(WAVEHDR));
        ++written;
    }
    while (finished < total) {
        WaitForSingleObject(done.get(), 1000);
        for (WAVEHDR& header : headers) {
            if ((header.dwFlags & WHDR_DONE) == 0)
                continue;
            header.dwFlags &= ~DWORD(WHDR_DONE);
            ++finished;
            if (written < total) {
                waveOutWrite(device, &header, sizeof(WAVEHDR));
                ++written;
            }
        }
    }
    const int64_t cpu = ProcessCpuMs() - cpuBefore;
    waveOutReset(device);
    for (WAVEHDR& header : headers)
        waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR));
    waveOutClose(device);
    std::printf("bench: waveout_floor_cpu_ms_per_audio_s %.2f ms\n", double(cpu) / seconds);
    return 0;
}
