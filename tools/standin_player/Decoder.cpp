#include "tools/standin_player/Decoder.h"

#include <algorithm>
#include <stdexcept>

#include "tools/standin_player/MessagePump.h"

namespace standin {
namespace {

// The value an input plug-in passes to SetVolume to have the output plug-in
// ask the player for the current volume.
constexpr int AskPlayerVolume = -666;
// How often the end of the sound is looked for, as the player polls its output.
constexpr DWORD PlayOutPollMs = 10;

} // namespace

void PlaybackClock::StartOnce() {
    auto expected = NotStarted;
    startTicks_.compare_exchange_strong(expected, Clock::now().time_since_epoch().count());
}

std::int64_t PlaybackClock::ElapsedMs() const {
    const auto start = startTicks_.load();
    if (start == NotStarted)
        return 0;
    const Clock::duration elapsed = Clock::now().time_since_epoch() - Clock::duration(start);
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

double PlaybackClock::ElapsedMsPrecise() const {
    const auto start = startTicks_.load();
    if (start == NotStarted)
        return 0.0;
    const Clock::duration elapsed = Clock::now().time_since_epoch() - Clock::duration(start);
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

double MonotonicMs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void WaitForPlayOut(Out_Module& output, int longestMs) {
    const ULONGLONG started = GetTickCount64();
    const auto left = [&] {
        const ULONGLONG longest = static_cast<ULONGLONG>(std::max(longestMs, 0));
        return longest - std::min(GetTickCount64() - started, longest);
    };
    while (output.GetOutputTime() < output.GetWrittenTime() && left() > 0)
        Sleep(PlayOutPollMs);
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(DeviceLatencyMarginMs, left())));
}

int BlockFramesFor(const PcmFormat& format, int wantedFrames) {
    return std::max(1, std::min(wantedFrames, MaxBlockBytes / format.BytesPerFrame()));
}

Decoder::Decoder(Out_Module& output, winampDSPModule* dsp, const std::vector<PcmAudio>& tracks,
                 const DecoderSettings& settings, PlaybackControl& control,
                 std::atomic<bool>& playbackContinues, PlaybackClock& clock)
    : output_(output), dsp_(dsp), tracks_(tracks), settings_(settings), control_(control),
      playbackContinues_(playbackContinues), clock_(clock) {}

Decoder::~Decoder() {
    if (!thread_)
        return;
    control_.stopRequested = true;
    WaitPumping(thread_.Get(), INFINITE);
}

void Decoder::Start() {
    thread_ = KernelHandle(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    if (!thread_)
        throw std::runtime_error("cannot start the decoding thread");
}

DWORD WINAPI Decoder::ThreadMain(LPVOID self) {
    // Named for profilers (Windows 10 and Wine; looked up, not linked).
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    if (const HMODULE kernel = GetModuleHandleA("kernel32.dll"))
        if (const auto set = reinterpret_cast<SetDescription>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription"))))
            set(GetCurrentThread(), L"qv_decoder");
    static_cast<Decoder*>(self)->Run();
    return 0;
}

void Decoder::Run() {
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const bool last = i + 1 == tracks_.size();
        result_.events.push_back({"play", static_cast<int>(i), MonotonicMs()});
        if (!PlayTrack(tracks_[i], last))
            return;
    }
}

// Returns false when playback ends early: the user stopped or Open failed.
bool Decoder::PlayTrack(const PcmAudio& track, bool last) {
    const PcmFormat& format = track.format;
    const int opened =
        output_.Open(format.sampleRate, format.channels, format.bitsPerSample, -1, -1);
    clock_.StartOnce();
    if (opened < 0) {
        result_.error = OpenFailureText(format, opened);
        return false;
    }
    ++result_.tracksPlayed;
    output_.SetVolume(AskPlayerVolume);

    const int blockFrames = BlockFramesFor(format, settings_.blockFrames);
    const std::int64_t frames = track.Frames();
    std::int64_t frame = 0;
    while (frame < frames && !control_.stopRequested) {
        if (TakeSeek(track, frame))
            continue;
        const int count = static_cast<int>(std::min<std::int64_t>(blockFrames, frames - frame));
        if (!HasRoom(count * format.BytesPerFrame())) {
            Sleep(static_cast<DWORD>(settings_.pollSleepMs));
            continue;
        }
        WriteBlock(track.data.data() + frame * format.BytesPerFrame(), count, format);
        frame += count;
    }
    result_.stopped = control_.stopRequested;
    // The last track that ends by itself ends like any other, so the plug-in
    // keeps playing what it holds; the player quits once that is heard. A
    // stop cuts at once.
    const bool playOut = last && settings_.playOutMs > 0;
    playbackContinues_ = (!last || playOut) && !result_.stopped;
    output_.Close();
    if (playOut && !result_.stopped)
        WaitForPlayOut(output_, settings_.playOutMs);
    return !result_.stopped;
}

bool Decoder::TakeSeek(const PcmAudio& track, std::int64_t& frame) {
    const int toMs = control_.seekToMs.exchange(-1);
    if (toMs < 0)
        return false;
    frame =
        std::min(track.Frames(), static_cast<std::int64_t>(toMs) * track.format.sampleRate / 1000);
    result_.events.push_back({"flush", toMs, MonotonicMs()});
    output_.Flush(toMs);
    return true;
}

// A DSP may return up to twice the frames it was given, so the player asks
// for room for twice the block when one is active.
bool Decoder::HasRoom(int bytes) {
    if (!settings_.pollCanWrite)
        return !control_.paused;
    return output_.CanWrite() >= (dsp_ != nullptr ? 2 * bytes : bytes);
}

void Decoder::WriteBlock(const char* data, int frames, const PcmFormat& format) {
    const int frameBytes = format.BytesPerFrame();
    block_.assign(data, data + static_cast<std::ptrdiff_t>(frames) * frameBytes);
    if (dsp_ != nullptr) {
        block_.resize(block_.size() * 2);
        const int returned =
            dsp_->ModifySamples(dsp_, reinterpret_cast<short*>(block_.data()), frames,
                                format.bitsPerSample, format.channels, format.sampleRate);
        frames = std::clamp(returned, 0, static_cast<int>(block_.size()) / frameBytes);
        if (settings_.silenceAfterDsp)
            std::fill(block_.begin(), block_.end(), format.bitsPerSample == 8 ? '\x80' : '\0');
    }
    const int bytes = frames * frameBytes;
    if (bytes == 0)
        return;
    output_.Write(block_.data(), bytes);
    CountWrite(result_, bytes, format, output_, clock_, settings_.logWrites);
}

void CountWrite(PlaybackResult& result, int bytes, const PcmFormat& format, Out_Module& output,
                const PlaybackClock& clock, bool logWrites) {
    const double returnMs = clock.ElapsedMsPrecise();
    result.wallMs = clock.ElapsedMs();
    result.outputMs = output.GetOutputTime();
    if (logWrites)
        result.writes.push_back({result.audioMs, returnMs, result.outputMs, MonotonicMs()});
    result.writtenMs = output.GetWrittenTime();
    result.audioMs += 1000.0 * bytes / format.BytesPerSecond();
    ++result.blocks;
}

std::string OpenFailureText(const PcmFormat& format, int opened) {
    return "Open(" + std::to_string(format.sampleRate) + ", " + std::to_string(format.channels) +
           ", " + std::to_string(format.bitsPerSample) + ") failed with " + std::to_string(opened);
}

} // namespace standin
