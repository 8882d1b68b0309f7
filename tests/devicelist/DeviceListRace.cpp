// The first device-list call of a process, raced. Wine's winmm builds its
// device list at the first call that needs it, without a lock, and publishes
// the count before the entries: a thread that asks meanwhile reads an empty
// entry and dies in waveOutGetDevCapsW. Init must have the list built before
// it returns, so that no thread started after it, ours or the player's, can
// be the first.
//
// One run is one fresh process, as the player is at the start of play: Init
// through the record, then the configuration window opened on the player's
// window thread while the decoding thread opens the device, and other threads
// of the player (or of other plug-ins) reading the device list all the while.
// The window thread runs at idle priority beside two busy threads, so that a
// device list built by its first call would take long to build: without the
// list built by Init, about one run in four crashed here.
//
// usage: device_list_race --device NAME [--readers N]
// The last line is "device_list_race: ok" when Init built the list, the
// scenario took place and nothing crashed; exit code 1 after a check printed
// FAIL. A crash ends the process before that line (Wine's debugger may still
// end it with 0).
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"
#include "tests/soak/SoakPlayerWindow.h"

namespace {

// Far past what either takes: only a call that never returns takes this long.
constexpr DWORD DecodingWaitMs = 60000;
constexpr ULONGLONG DeviceBoxWaitMs = 30000;

// The threads started below end with the process's last call.
std::atomic<bool> Finished{false};

struct TEventCloser {
    void operator()(HANDLE event) const { CloseHandle(event); }
};
using TEvent = std::unique_ptr<void, TEventCloser>;

// winmm loads MMDevAPI to build its device list (Wine's, and Windows' since
// Vista), and nothing else in this process loads it: once it is loaded, the
// list has been built, or is being built.
bool DeviceListBuilt() {
    return GetModuleHandleA("mmdevapi.dll") != nullptr;
}

// The configuration window lists the devices as soon as its device box
// exists; the other threads start then, to meet that listing. False when the
// box did not come within the bound.
bool WaitForDeviceBox() {
    const ULONGLONG started = GetTickCount64();
    while (GetTickCount64() - started < DeviceBoxWaitMs) {
        const HWND form = FindWindowA("QVQuellspringConfigForm", nullptr);
        if (form != nullptr && FindWindowExA(form, nullptr, "ComboBox", nullptr) != nullptr)
            return true;
        Sleep(1);
    }
    return false;
}

// Another thread of the player: it reads every entry of the device list
// again and again. The readers start one after another, so that some of them
// come while the list is being built, however long that takes.
void ReadDeviceList(DWORD delayMs) {
    WaitForDeviceBox();
    Sleep(delayMs);
    while (!Finished) {
        WAVEOUTCAPSA caps{};
        for (UINT id = 0; id < 4; ++id)
            waveOutGetDevCapsA(id, &caps, sizeof caps);
    }
}

void Spin() {
    while (!Finished) {
    }
}

// The decoding thread: a track of 0.4 s, as the player's input plug-in plays
// it; its first block opens the device.
void Decode() {
    Out_Module& out = *winampGetOutModule();
    constexpr int Rate = 44100, Frames = 1152, FrameBytes = 4;
    std::vector<char> block(Frames * FrameBytes);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = char(i * 7);
    out.Open(Rate, 2, 16, 0, 0);
    for (int written = 0; written < Rate * 4 / 10; written += Frames)
        out.Write(block.data(), int(block.size()));
    out.Close();
}

} // namespace

int main(int argc, char** argv) {
    std::string device;
    int readers = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--device")
            device = argv[i + 1];
        else if (arg == "--readers")
            readers = std::atoi(argv[i + 1]);
    }
    if (device.empty() || DeviceListBuilt()) {
        std::printf("device_list_race: %s\n", device.empty() ? "usage: device_list_race --device "
                                                               "NAME [--readers N]"
                                                             : "the device list was built before "
                                                               "Init: nothing to test");
        return 2;
    }
    qv::ProcessAttach(GetModuleHandleA(nullptr));
    TSoakPlayerWindow player;
    Out_Module& out = *winampGetOutModule();
    out.hMainWindow = player.Window();
    out.hDllInstance = GetModuleHandleA(nullptr);
    out.Init();
    const bool built = DeviceListBuilt();
    if (!built)
        std::printf("device_list_race: FAIL: Init returned before winmm's device list was built\n");
    std::fflush(stdout);
    // As the configuration window does when the user picks the device.
    qv::SetOutDevice(device);

    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back(Spin);
    for (int i = 0; i < readers; ++i)
        threads.emplace_back(ReadDeviceList, DWORD(i * 30));
    const TEvent decoded(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    bool listed = false;
    std::thread decoding([&] {
        listed = WaitForDeviceBox();
        Decode();
        SetEvent(decoded.get());
    });
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    out.Config(player.Window());
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    // The decoding thread's requests (Close asks whether playback goes on)
    // are answered meanwhile, as the player's window thread does.
    if (!PumpMessages(DecodingWaitMs, decoded.get())) {
        std::printf("device_list_race: FAIL: the decoding thread did not come back\n");
        std::fflush(stdout);
        ExitProcess(3); // a thread stuck in a call cannot be joined
    }
    decoding.join();
    Finished = true;
    for (std::thread& thread : threads)
        thread.join();
    // The scenario took place: the window listed the devices and the device
    // played meanwhile.
    const std::vector<uint8_t> states =
        WaveOutPlayThread != nullptr ? WaveOutPlayThread->StateHistory() : std::vector<uint8_t>{};
    const bool played = std::find(states.begin(), states.end(), psPlaying) != states.end();
    out.Quit();
    if (!listed || !played)
        std::printf("device_list_race: FAIL: %s\n", !listed ? "the configuration window listed "
                                                              "no devices"
                                                            : "the device never played");
    const bool ok = built && listed && played;
    std::printf("device_list_race: %s\n", ok ? "ok" : "failed");
    return ok ? 0 : 1;
}
