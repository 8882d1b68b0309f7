#include "tools/standin_player/InputHost.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/standin_player/InputPlugins.h"
#include "tools/standin_player/OutputTap.h"
#include "tools/standin_player/Transport.h"
#include "tools/standin_player/Tune.h"
#include "tools/standin_player/UserActions.h"
#include "tools/standin_player/WindowActions.h"

namespace standin {
namespace {

// Short enough for the user's actions and the progress line to be on time.
constexpr DWORD PumpSliceMs = 10;
// A user's stop waits at most this long for a Write that is waiting for its
// due time, so that it lands where an input plug-in's Stop has to wait for its
// decoding thread. A decoder that polls CanWrite seldom waits in Write: the
// stop then comes this much late.
constexpr int StopIntoWriteMs = 100;
// A Write still running after this long waits for its due time; a decoder
// running behind the schedule makes Writes that return at once, and a stop
// landing in one of those would find the next Write already begun.
constexpr DWORD WaitingWriteMs = 2;

// The DSP stage the callbacks run; set while input plug-ins are loaded.
winampDSPModule* ActiveDsp = nullptr;

// The player has no visualisation: it takes the data and asks for none.
void QV_CDECL VisInit(int, int) {}
void QV_CDECL VisDeInit() {}
void QV_CDECL VisPcmData(void*, int, int, int) {}
int QV_CDECL VisMode() {
    return 0;
}
int QV_CDECL VisAdd(void*, int, int) {
    return 0;
}
int QV_CDECL VisPluginMode(int* spectrumChannels, int* waveChannels) {
    if (spectrumChannels != nullptr)
        *spectrumChannels = 0;
    if (waveChannels != nullptr)
        *waveChannels = 0;
    return 0;
}
int QV_CDECL VisPluginAdd(void*, int) {
    return 0;
}
void QV_CDECL VisSetInfo(int, int) {}
void QV_CDECL SetInfo(int, int, int, int) {}

int QV_CDECL DspActive() {
    return ActiveDsp != nullptr ? 1 : 0;
}

// A DSP may return up to twice the frames it was given; the input plug-in
// sized its buffer for that after asking DspActive.
int QV_CDECL DspSamples(short int* samples, int frames, int bits, int channels, int rate) {
    winampDSPModule* const dsp = ActiveDsp;
    return dsp == nullptr ? frames : dsp->ModifySamples(dsp, samples, frames, bits, channels, rate);
}

In_Module PlayerPart(Out_Module& output) {
    In_Module player = {};
    player.SAVSAInit = VisInit;
    player.SAVSADeInit = VisDeInit;
    player.SAAddPCMData = VisPcmData;
    player.SAGetMode = VisMode;
    player.SAAdd = VisAdd;
    player.VSAAddPCMData = VisPcmData;
    player.VSAGetMode = VisPluginMode;
    player.VSAAdd = VisPluginAdd;
    player.VSASetInfo = VisSetInfo;
    player.dsp_isactive = DspActive;
    player.dsp_dosamples = DspSamples;
    player.SetInfo = SetInfo;
    player.outMod = &output;
    return player;
}

class DspStage {
public:
    explicit DspStage(winampDSPModule* dsp) { ActiveDsp = dsp; }
    DspStage(const DspStage&) = delete;
    DspStage& operator=(const DspStage&) = delete;
    ~DspStage() { ActiveDsp = nullptr; }
};

std::vector<std::unique_ptr<InputPlugin>> LoadInputs(const std::vector<std::string>& paths,
                                                     Console& console) {
    std::vector<std::unique_ptr<InputPlugin>> inputs;
    for (const std::string& path : paths) {
        std::string reason;
        auto input = InputPlugin::Load(path, reason);
        if (!input) {
            console.Note("input: skipped, " + reason);
            continue;
        }
        console.Note("input: " + input->FileName() + " (" + input->Description() + ")" +
                     (input->Unicode() ? ", Unicode names" : "") +
                     ((input->Module().UsesOutputPlug & player::InUsesOutputPlugin) != 0
                          ? ""
                          : ", plays without the output plug-in"));
        inputs.push_back(std::move(input));
    }
    return inputs;
}

std::string TrackName(const TrackSource& source, const PcmFormat& tuneFormat) {
    return source.wavPath.empty() ? ToneName({source.tuneSeconds, tuneFormat}) : source.wavPath;
}

const InputPlugin* Choose(const std::vector<std::unique_ptr<InputPlugin>>& inputs,
                          const std::string& name) {
    for (const auto& input : inputs)
        if (input->Accepts(name))
            return input.get();
    return nullptr;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The controls work through the playing input plug-in, as in the player.
class InputTransport : public Transport {
public:
    InputTransport(OutputTap& tap, HWND mainWindow, PlayerAnswers& answers, Console& console)
        : tap_(tap), mainWindow_(mainWindow), answers_(answers), console_(console) {}

    void Begin(In_Module& playing) { playing_ = &playing; }
    bool Playing() const { return playing_ != nullptr; }
    bool UserStopped() const { return userStopped_; }
    int OutputTime() const {
        return playing_ != nullptr ? playing_->GetOutputTime() : tap_.Output().GetOutputTime();
    }

    // Sets the answer to request 400, then stops the plug-in, which closes the output.
    void EndTrack(bool playbackContinues) {
        answers_.playbackContinues = playbackContinues;
        In_Module* const playing = std::exchange(playing_, nullptr);
        if (playing == nullptr)
            return;
        playing->Stop();
        // An end of file posted just before the stop belongs to the track gone.
        MSG stale;
        while (PeekMessageA(&stale, mainWindow_, player::EndOfFileMessage, player::EndOfFileMessage,
                            PM_REMOVE)) {
        }
    }

    void Stop() override;
    // Waits (bounded) until a Write is waiting for its due time.
    void WaitForWaitingWrite() const;
    void Pause(bool paused) override {
        if (playing_ != nullptr)
            paused ? playing_->Pause() : playing_->UnPause();
    }
    void Seek(int toMs) override {
        if (playing_ != nullptr && playing_->is_seekable != 0)
            playing_->SetOutputTime(toMs);
    }
    void SetVolume(int volume) override {
        if (playing_ != nullptr)
            playing_->SetVolume(volume);
    }

private:
    OutputTap& tap_;
    HWND mainWindow_;
    PlayerAnswers& answers_;
    Console& console_;
    In_Module* playing_ = nullptr;
    bool userStopped_ = false;
};

void InputTransport::WaitForWaitingWrite() const {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const int left = StopIntoWriteMs - static_cast<int>(MsSince(start));
        if (left <= 0 || WaitForSingleObject(tap_.WriteRunning(), DWORD(left)) != WAIT_OBJECT_0)
            return;
        const std::int64_t writes = tap_.WritesStarted();
        Sleep(WaitingWriteMs);
        if (tap_.Writing() && tap_.WritesStarted() == writes)
            return;
    }
}

// Reports how the plug-in's Stop met a Write that was running: how many
// Writes began after Stop was called (none should), how many Closes it made,
// and how long it took next to the length of one block.
void InputTransport::Stop() {
    userStopped_ = true;
    if (playing_ == nullptr)
        return;
    WaitForWaitingWrite();
    const bool inWrite = tap_.Writing();
    const std::int64_t writes = tap_.WritesStarted();
    const int closes = tap_.Closes();
    const auto start = std::chrono::steady_clock::now();
    EndTrack(false);
    const double stopMs = MsSince(start);
    char line[160];
    std::snprintf(line, sizeof line,
                  "stop: in_write=%d writes_after=%lld closes=%d stop_ms=%.1f block_ms=%.1f",
                  inWrite ? 1 : 0, static_cast<long long>(tap_.WritesStarted() - writes),
                  tap_.Closes() - closes, stopMs, tap_.LastBlockMs());
    console_.Note(line);
}

// Dispatches what is queued; returns true when the end of a file was among it.
bool TakeMessages(HWND mainWindow) {
    bool ended = false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.hwnd == mainWindow && message.message == player::EndOfFileMessage) {
            ended = true;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return ended;
}

class TrackLoop {
public:
    TrackLoop(const PlayerOptions& options, OutputTap& tap, HWND mainWindow, PlayerAnswers& answers,
              Console& console, PlaybackClock& clock)
        : options_(options), tap_(tap), mainWindow_(mainWindow), answers_(answers),
          console_(console), clock_(clock), transport_(tap, mainWindow, answers, console),
          actions_(options, transport_, answers) {
        AddWindowActions(actions_, options, tap.Output(), mainWindow, console);
    }

    void Run(const std::vector<std::unique_ptr<InputPlugin>>& inputs, PlaybackResult& result);

private:
    bool PlayTrack(const InputPlugin& input, const std::string& name, bool last,
                   PlaybackResult& result);
    bool PumpUntilEnd();
    void PumpUntilPlayedOut(DWORD longestMs);
    void Tick();

    const PlayerOptions& options_;
    OutputTap& tap_;
    HWND mainWindow_;
    PlayerAnswers& answers_;
    Console& console_;
    PlaybackClock& clock_;
    InputTransport transport_;
    UserActions actions_;
};

void TrackLoop::Run(const std::vector<std::unique_ptr<InputPlugin>>& inputs,
                    PlaybackResult& result) {
    for (std::size_t i = 0; i < options_.tracks.size() && !transport_.UserStopped(); ++i) {
        const std::string name = TrackName(options_.tracks[i], options_.tuneFormat);
        const InputPlugin* const input = Choose(inputs, name);
        if (input == nullptr) {
            result.error = name + ": no input plug-in accepts it";
            console_.Note("track: " + result.error);
            continue;
        }
        if (!PlayTrack(*input, name, i + 1 == options_.tracks.size(), result))
            break;
    }
    result.stopped = transport_.UserStopped();
}

// Returns false when the playlist ends here: the plug-in refused the file
// with an error that stops the player, or the user stopped.
bool TrackLoop::PlayTrack(const InputPlugin& input, const std::string& name, bool last,
                          PlaybackResult& result) {
    int lengthMs = -1;
    const std::string title = input.Title(name, lengthMs);
    console_.Note("track: \"" + title + "\" length_ms=" + std::to_string(lengthMs) + " via " +
                  input.FileName());
    tap_.Note("play", result.tracksPlayed);
    const int played = input.Play(name);
    if (played != 0) {
        result.error = name + ": Play failed with " + std::to_string(played);
        return played == player::PlayFileNotFound;
    }
    ++result.tracksPlayed;
    In_Module& module = input.Module();
    transport_.Begin(module);
    module.SetVolume(answers_.volume);
    module.SetPan(answers_.pan);
    if (!PumpUntilEnd())
        return false;
    const bool playOut = last && options_.playOutMs > 0;
    transport_.EndTrack(!last || playOut);
    if (playOut)
        PumpUntilPlayedOut(static_cast<DWORD>(options_.playOutMs));
    return true;
}

// True at the end of the file, false when the user stopped.
bool TrackLoop::PumpUntilEnd() {
    for (;;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, PumpSliceMs, QS_ALLINPUT);
        if (TakeMessages(mainWindow_))
            return true;
        Tick();
        if (!transport_.Playing())
            return false;
    }
}

// As the player does after the last track: the output plays what it holds
// (its output time reaches its written time, then the device's own latency,
// as WaitForPlayOut), for at most `longestMs`.
void TrackLoop::PumpUntilPlayedOut(DWORD longestMs) {
    Out_Module& output = tap_.Output();
    const DWORD start = GetTickCount();
    bool reached = false;
    DWORD reachedAt = 0;
    while (GetTickCount() - start < longestMs) {
        if (!reached && output.GetOutputTime() >= output.GetWrittenTime()) {
            reached = true;
            reachedAt = GetTickCount();
        }
        if (reached && GetTickCount() - reachedAt >= DWORD(DeviceLatencyMarginMs))
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, PumpSliceMs, QS_ALLINPUT);
        TakeMessages(mainWindow_);
        Tick();
    }
}

void TrackLoop::Tick() {
    if (!clock_.Started())
        return;
    const std::int64_t elapsed = clock_.ElapsedMs();
    actions_.RunDue(elapsed, console_);
    console_.Progress(transport_.OutputTime(), tap_.Output().GetWrittenTime(), elapsed);
}

void ReportFlushes(const std::vector<OutputTap::FlushRecord>& flushes, Console& console) {
    for (const OutputTap::FlushRecord& flush : flushes)
        console.Note("flush: to_ms=" + std::to_string(flush.toMs) +
                     " output_ms=" + std::to_string(flush.outputMsAfter));
}

} // namespace

PlaybackResult PlayThroughInputs(const PlayerOptions& options, Out_Module& output, HWND mainWindow,
                                 winampDSPModule* dsp, PlayerAnswers& answers, Console& console) {
    PlaybackClock clock;
    OutputTap tap(output, clock, !options.writeLogPath.empty());
    const DspStage stage(dsp);
    PlaybackResult result;
    {
        const auto inputs = LoadInputs(options.inputPaths, console);
        for (const auto& input : inputs)
            input->Start(mainWindow, PlayerPart(tap.Module()));
        TrackLoop loop(options, tap, mainWindow, answers, console, clock);
        loop.Run(inputs, result);
        console.Finish();
    }
    ReportFlushes(tap.Flushes(), console);
    PlaybackResult counted = std::move(tap.Result());
    counted.tracksPlayed = result.tracksPlayed;
    counted.stopped = result.stopped;
    if (counted.error.empty())
        counted.error = result.error;
    return counted;
}

} // namespace standin
