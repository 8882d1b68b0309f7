// The player's decoding thread: it plays the tracks one after another into
// the output plug-in, as the player's input plug-ins do.
//
// How it works: for each track it calls Open and SetVolume(-666) (the plug-in
// then asks the player for its volume), then hands the track over in blocks of
// at most MaxBlockBytes. Before each block it either polls CanWrite with a
// short sleep until the plug-in grants room, or, without polling, simply calls
// Write and lets Write block. Before each Close it sets the player's answer to
// request 400: playback goes on after every track but the last, unless the
// user stopped. The main thread acts as the user through PlaybackControl: stop,
// pause (the decoder then only waits) and seek (the decoder repositions and
// calls Flush, as an input plug-in does).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Handles.h"
#include "tools/standin_player/Pcm.h"

namespace standin {

constexpr int MaxBlockBytes = 8192;

// Wall time counted from the first Open; read by both threads.
class PlaybackClock {
public:
    void StartOnce();
    bool Started() const { return startTicks_.load() != NotStarted; }
    std::int64_t ElapsedMs() const;
    double ElapsedMsPrecise() const;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::rep NotStarted = 0;
    std::atomic<Clock::rep> startTicks_{NotStarted};
};

// The user's requests, from the main thread to the decoding thread.
struct PlaybackControl {
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> paused{false};
    std::atomic<int> seekToMs{-1}; // -1: no seek pending
};

struct DecoderSettings {
    int blockFrames = 576;
    bool pollCanWrite = true;
    int pollSleepMs = 10;
    int playOutMs = 3000;
    bool logWrites = false;
    // Test aid: silence the block after the DSP stage, so that only a DSP
    // plug-in that passes the block on itself can be heard.
    bool silenceAfterDsp = false;
};

// One Write as the player saw it: audio handed before it, and when it returned
// (both in ms, the return time on the wall clock from the first Open); then
// the output time read right after it, and when (MonotonicMs), so that it can
// be lined up with a record of the sound.
struct WriteRecord {
    double audioBeforeMs;
    double returnMs;
    int outputMs;
    double outputReadMs;
};

// The performance counter in ms: under Wine, the host's raw monotonic clock.
double MonotonicMs();

// A moment a record of the sound is lined up with: "play" when a track is
// asked to play (value: its index), "flush" when the output is told to seek
// (value: the target in ms); at MonotonicMs.
struct PlaybackEvent {
    const char* name;
    int value;
    double atMs;
};

// What the run did, read by the main thread once the decoding thread ended.
struct PlaybackResult {
    double audioMs = 0.0;    // audio handed to Write
    std::int64_t wallMs = 0; // first Open to the return of the last Write
    int outputMs = 0;        // GetOutputTime right after the last Write
    int writtenMs = 0;       // GetWrittenTime likewise
    std::int64_t blocks = 0; // Write calls
    int tracksPlayed = 0;
    bool stopped = false;
    std::string error;
    std::vector<WriteRecord> writes; // with DecoderSettings::logWrites
    std::vector<PlaybackEvent> events;
};

// After the last track: waits until the output's position has reached the
// written time (what it holds is heard), then DeviceLatencyMarginMs more, at
// most longestMs in all. The position follows the device's done
// notifications, and the sound system still plays its own latency after the
// last of them: a player that quits at once would cut that off.
constexpr int DeviceLatencyMarginMs = 200;
void WaitForPlayOut(Out_Module& output, int longestMs);

// Frames per block: the wanted count, cut so that a block stays within MaxBlockBytes.
int BlockFramesFor(const PcmFormat& format, int wantedFrames);

// Counts a Write of `bytes` that has just returned, with the plug-in's times right after it.
void CountWrite(PlaybackResult& result, int bytes, const PcmFormat& format, Out_Module& output,
                const PlaybackClock& clock, bool logWrites);

// The error a failed Open leaves in the result.
std::string OpenFailureText(const PcmFormat& format, int opened);

class Decoder {
public:
    Decoder(Out_Module& output, winampDSPModule* dsp, const std::vector<PcmAudio>& tracks,
            const DecoderSettings& settings, PlaybackControl& control,
            std::atomic<bool>& playbackContinues, PlaybackClock& clock);
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    // Stops the thread if it still runs (keeping the caller's messages flowing).
    ~Decoder();

    void Start();
    HANDLE Thread() const { return thread_.Get(); }
    const PlaybackResult& Result() const { return result_; }

private:
    static DWORD WINAPI ThreadMain(LPVOID self);
    void Run();
    bool PlayTrack(const PcmAudio& track, bool last);
    bool TakeSeek(const PcmAudio& track, std::int64_t& frame);
    bool HasRoom(int bytes);
    void WriteBlock(const char* data, int frames, const PcmFormat& format);

    Out_Module& output_;
    winampDSPModule* dsp_;
    const std::vector<PcmAudio>& tracks_;
    DecoderSettings settings_;
    PlaybackControl& control_;
    std::atomic<bool>& playbackContinues_;
    PlaybackClock& clock_;
    std::vector<char> block_;
    PlaybackResult result_;
    KernelHandle thread_;
};

} // namespace standin
