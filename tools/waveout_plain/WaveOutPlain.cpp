// The plainest wave-out output plug-in, for the benchmarks to hold ours
// against through the same player, input plug-in and sink: it does what a
// stock waveOut output does and nothing more.
//
// Open opens the wave mapper, paused until PrebufferMs of audio (or what
// Open asks for) has been written, or the decoder asks whether it still plays
// (a file shorter than that); a Flush holds it again. Each Write is copied
// into a buffer of its own and handed to the device at once; CanWrite answers
// the room left of HeldMs of audio (or what Open asks for) with the device. Buffers the device has
// finished are taken back, in order, at the next call. The output time is the device's own position
// (waveOutGetPosition) since the last Open or Flush, plus the time Flush was given; the written
// time counts what Write took. No thread, no pacing, no volume: the device takes the blocks as fast
// as the decoder writes them, and plays them as its clock runs.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <mutex>
#include <vector>

#include "host/PlayerInterface.h"

namespace {

constexpr int HeldMs = 2000;
constexpr int PrebufferMs = 200;

struct TBlock {
    WAVEHDR header{};
    std::vector<char> data;
};

class TPlainOutput {
public:
    int Open(int rate, int channels, int bits, int bufferMs, int prebufferMs) {
        const std::lock_guard lock(mutex_);
        CloseDevice();
        const int frame = channels * bits / 8;
        format_ = WAVEFORMATEX{WAVE_FORMAT_PCM,
                               WORD(channels),
                               DWORD(rate),
                               DWORD(rate * frame),
                               WORD(frame),
                               WORD(bits),
                               0};
        if (rate <= 0 || frame <= 0 ||
            waveOutOpen(&device_, WAVE_MAPPER, &format_, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            device_ = nullptr;
            return -1;
        }
        heldBytes_ = ToBytes(bufferMs > 0 ? bufferMs : HeldMs);
        prebufferBytes_ = ToBytes(prebufferMs >= 0 ? prebufferMs : PrebufferMs);
        written_ = 0;
        offsetMs_ = 0;
        paused_ = false;
        Hold();
        return bufferMs > 0 ? bufferMs : HeldMs;
    }

    void Close() {
        const std::lock_guard lock(mutex_);
        CloseDevice();
    }

    int Write(const char* data, int length) {
        const std::lock_guard lock(mutex_);
        TakeBack();
        if (device_ == nullptr || length <= 0)
            return device_ == nullptr ? 1 : 0;
        TBlock& block = blocks_.emplace_back();
        block.data.assign(data, data + length);
        block.header.lpData = block.data.data();
        block.header.dwBufferLength = DWORD(length);
        if (waveOutPrepareHeader(device_, &block.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            blocks_.pop_back();
            return 1;
        }
        if (waveOutWrite(device_, &block.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            waveOutUnprepareHeader(device_, &block.header, sizeof(WAVEHDR));
            blocks_.pop_back();
            return 1;
        }
        written_ += length;
        if (written_ >= prebufferBytes_)
            Release();
        return 0;
    }

    int CanWrite() {
        const std::lock_guard lock(mutex_);
        TakeBack();
        if (device_ == nullptr)
            return 0;
        const int64_t room = std::max<int64_t>(0, heldBytes_ - Queued());
        if (room == 0)
            Release(); // full before the prebuffer (Open asked for less)
        return int(room);
    }

    int IsPlaying() {
        const std::lock_guard lock(mutex_);
        TakeBack();
        if (device_ != nullptr)
            Release();
        return blocks_.empty() ? 0 : 1;
    }

    int Pause(int pause) {
        const std::lock_guard lock(mutex_);
        const bool was = paused_;
        paused_ = pause != 0;
        if (device_ == nullptr || paused_ == was || holding_)
            return was ? 1 : 0;
        if (paused_)
            waveOutPause(device_);
        else
            waveOutRestart(device_);
        return was ? 1 : 0;
    }

    void Flush(int ms) {
        const std::lock_guard lock(mutex_);
        if (device_ != nullptr) {
            waveOutReset(device_);
            TakeBack();
            Hold();
        }
        written_ = 0;
        offsetMs_ = ms;
    }

    int OutputTime() {
        const std::lock_guard lock(mutex_);
        if (device_ == nullptr)
            return offsetMs_;
        MMTIME position{};
        position.wType = TIME_BYTES;
        waveOutGetPosition(device_, &position, sizeof(position));
        const int64_t played = position.wType == TIME_BYTES ? int64_t(position.u.cb) : 0;
        return offsetMs_ + ToMs(std::min(played, written_));
    }

    int WrittenTime() {
        const std::lock_guard lock(mutex_);
        return offsetMs_ + ToMs(written_);
    }

private:
    void Hold() {
        waveOutPause(device_);
        holding_ = true;
    }

    void Release() {
        if (holding_ && !paused_)
            waveOutRestart(device_);
        holding_ = false;
    }

    int64_t ToBytes(int ms) const { return int64_t(format_.nAvgBytesPerSec) * ms / 1000; }

    // Unprepares the finished buffers at the front (the device finishes them in order).
    void TakeBack() {
        while (!blocks_.empty() && (blocks_.front().header.dwFlags & WHDR_DONE) != 0) {
            waveOutUnprepareHeader(device_, &blocks_.front().header, sizeof(WAVEHDR));
            blocks_.pop_front();
        }
    }

    int64_t Queued() const {
        int64_t bytes = 0;
        for (const TBlock& block : blocks_)
            bytes += block.header.dwBufferLength;
        return bytes;
    }

    int ToMs(int64_t bytes) const {
        return format_.nAvgBytesPerSec == 0 ? 0 : int(bytes * 1000 / format_.nAvgBytesPerSec);
    }

    void CloseDevice() {
        if (device_ == nullptr)
            return;
        waveOutReset(device_);
        TakeBack();
        waveOutClose(device_);
        device_ = nullptr;
        blocks_.clear();
    }

    std::mutex mutex_;
    HWAVEOUT device_ = nullptr;
    WAVEFORMATEX format_{};
    std::list<TBlock> blocks_; // a list: the device holds each header's address
    int64_t written_ = 0;
    int offsetMs_ = 0;
    int64_t heldBytes_ = 0;
    int64_t prebufferBytes_ = 0;
    bool paused_ = false;
    bool holding_ = false;
};

TPlainOutput Output;

// Every entry the player calls answers something defined, whatever is thrown.
template <typename TResult, typename TCall> TResult Guarded(TResult failed, TCall call) noexcept {
    try {
        return call();
    } catch (...) {
        return failed;
    }
}

void QV_CDECL Config(HWND) {}
void QV_CDECL About(HWND) {}
void QV_CDECL Init() {}
void QV_CDECL Quit() {
    Guarded(0, [] { return Output.Close(), 0; });
}
int QV_CDECL Open(int rate, int channels, int bits, int bufferMs, int prebufferMs) {
    return Guarded(-1, [&] { return Output.Open(rate, channels, bits, bufferMs, prebufferMs); });
}
void QV_CDECL Close() {
    Guarded(0, [] { return Output.Close(), 0; });
}
int QV_CDECL Write(char* data, int length) {
    return Guarded(1, [&] { return Output.Write(data, length); });
}
int QV_CDECL CanWrite() {
    return Guarded(0, [] { return Output.CanWrite(); });
}
int QV_CDECL IsPlaying() {
    return Guarded(0, [] { return Output.IsPlaying(); });
}
int QV_CDECL Pause(int pause) {
    return Guarded(0, [&] { return Output.Pause(pause); });
}
void QV_CDECL SetVolume(int) {}
void QV_CDECL SetPan(int) {}
void QV_CDECL Flush(int ms) {
    Guarded(0, [&] { return Output.Flush(ms), 0; });
}
int QV_CDECL GetOutputTime() {
    return Guarded(0, [] { return Output.OutputTime(); });
}
int QV_CDECL GetWrittenTime() {
    return Guarded(0, [] { return Output.WrittenTime(); });
}

char Description[] = "Plain waveOut output (benchmark baseline)";

Out_Module Module{player::OutModuleVersion,
                  Description,
                  0x10002,
                  nullptr,
                  nullptr,
                  Config,
                  About,
                  Init,
                  Quit,
                  Open,
                  Close,
                  Write,
                  CanWrite,
                  IsPlaying,
                  Pause,
                  SetVolume,
                  SetPan,
                  Flush,
                  GetOutputTime,
                  GetWrittenTime};

} // namespace

extern "C" __declspec(dllexport) Out_Module* QV_CDECL winampGetOutModule() {
    return &Module;
}
