// A Winamp input plug-in of our own, for the stand-in player's tests and
// demos: it plays WAV files and the player's built-in tune (named
// "tone://..."), decoded by the player's own code, and drives the output
// plug-in the way common input plug-ins do.
//
// How it works: Play (main thread) decodes the whole file, opens the output,
// asks the output to take the player's volume (SetVolume(-666)) and starts
// the decoding thread. That thread writes blocks of 576 frames: it polls
// CanWrite, sleeping 20 ms between polls, until a whole block fits (twice the
// block while a DSP runs, which may return up to twice the frames), hands each
// block to the visualisation and the DSP callbacks, then to Write. A seek,
// asked by SetOutputTime, is taken up by the thread between blocks: it
// repositions and calls Flush with the new time. At the end of the file it
// polls IsPlaying every 10 ms until the output has played out, then posts the
// end-of-file message to the player's window. Stop (main thread) tells the
// thread to end, waits for it (its sleeps end at once; a Write is bounded by
// the output), and calls Close. Built with STANDIN_INPUT_UNICODE it is the
// Unicode flavour, whose file names are wide strings.
//
// Like other plug-ins it keeps its settings in the player's settings file:
// "PollCanWrite=0" in section [in_standin] makes it call Write without
// polling, so that Write blocks until the output takes the block;
// "FlushAtStart=1" makes it call Flush(0) before the first block of a file.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "host/Errors.h"
#include "tools/standin_player/Handles.h"
#include "tools/standin_player/InputModule.h"
#include "tools/standin_player/Tune.h"
#include "tools/standin_player/WavFile.h"

namespace {

#if defined(STANDIN_INPUT_UNICODE)
using PathChar = wchar_t;
constexpr int RecordVersion = player::InModuleVersion | player::InModuleUnicode;
char Description[] = "Stand-in test input plug-in (Unicode)";
#else
using PathChar = char;
constexpr int RecordVersion = player::InModuleVersion;
char Description[] = "Stand-in test input plug-in";
#endif
using Record = In_ModuleOf<PathChar>;
using Text = std::basic_string<PathChar>;

char Extensions[] = "WAV\0Wave files (*.WAV)\0";

constexpr int BlockFrames = 576;
constexpr DWORD RoomPollMs = 20;
constexpr DWORD PlayedOutPollMs = 10;
// Players' input plug-ins give a decoding thread this long to end, then
// terminate it rather than hang the player.
constexpr DWORD StopWaitMs = 5000;
// Asks the output plug-in to take the player's volume.
constexpr int PlayerVolume = -666;
constexpr char SettingsSection[] = "in_standin";

Record Module{};

using qv::Guarded;

// One of each pair serves the flavour being built.
[[maybe_unused]] std::string Narrow(const char* text) {
    return text != nullptr ? text : "";
}
[[maybe_unused]] std::string Narrow(const wchar_t* text) {
    if (text == nullptr)
        return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 1)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

[[maybe_unused]] void CopyTitle(const std::string& title, char* out) {
    lstrcpynA(out, title.c_str(), player::FileInfoTitleLength);
}
[[maybe_unused]] void CopyTitle(const std::string& title, wchar_t* out) {
    if (MultiByteToWideChar(CP_ACP, 0, title.c_str(), -1, out, player::FileInfoTitleLength) == 0)
        out[0] = L'\0';
    out[player::FileInfoTitleLength - 1] = L'\0';
}

// Throws standin::WavError for a file it cannot play.
standin::PcmAudio Decode(const std::string& name) {
    if (const auto tone = standin::ParseToneName(name))
        return standin::MakeTune(tone->seconds, tone->format);
    return standin::ReadWavFile(name);
}

int LengthMs(const standin::PcmAudio& audio) {
    return static_cast<int>(audio.Frames() * 1000 / audio.format.sampleRate);
}

std::string TitleOf(const std::string& name) {
    if (const auto tone = standin::ParseToneName(name)) {
        char title[64];
        std::snprintf(title, sizeof title, "Built-in tune, %g s", tone->seconds);
        return title;
    }
    return name.substr(name.find_last_of("\\/") + 1);
}

// Read at each Play, so that a change of the settings file applies to the next file.
int Setting(const char* key, int fallback) {
    const LRESULT file =
        SendMessageA(Module.hMainWindow, player::RequestMessage, 0, player::IpcGetIniFile);
    if (file == 0 || file == 1)
        return fallback;
    return static_cast<int>(
        GetPrivateProfileIntA(SettingsSection, key, fallback, reinterpret_cast<const char*>(file)));
}

// One file being played: its audio, and the thread that writes it.
class Playback {
public:
    Playback(std::string name, standin::PcmAudio audio, bool pollCanWrite)
        : name_(std::move(name)), audio_(std::move(audio)), pollCanWrite_(pollCanWrite),
          stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;
    ~Playback() { End(); }

    const std::string& Name() const { return name_; }
    int LengthMs() const { return ::LengthMs(audio_); }
    const standin::PcmFormat& Format() const { return audio_.format; }

    bool Start() {
        if (!stop_)
            return false;
        thread_ = standin::KernelHandle(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
        return static_cast<bool>(thread_);
    }
    void End();
    void SeekTo(int ms) { seekToMs_ = std::max(ms, 0); }
    void SetPaused(bool paused) { paused_ = paused; }
    bool Paused() const { return paused_; }

private:
    static DWORD WINAPI ThreadMain(LPVOID self) {
        Guarded([self] { static_cast<Playback*>(self)->Run(); });
        return 0;
    }
    void Run();
    bool TakeSeek(std::int64_t& frame);
    bool WaitOrStop(DWORD ms) const { return WaitForSingleObject(stop_.Get(), ms) == WAIT_TIMEOUT; }
    void WriteBlock(std::int64_t frame, int frames);

    std::string name_;
    standin::PcmAudio audio_;
    bool pollCanWrite_;
    standin::KernelHandle stop_;
    standin::KernelHandle thread_;
    std::atomic<int> seekToMs_{-1};
    std::atomic<bool> paused_{false};
    std::vector<char> block_;
};

void Playback::Run() {
    const std::int64_t frames = audio_.Frames();
    block_.resize(2 * static_cast<std::size_t>(BlockFrames) *
                  static_cast<std::size_t>(audio_.format.BytesPerFrame()));
    std::int64_t frame = 0;
    for (;;) {
        if (TakeSeek(frame))
            continue;
        if (frame >= frames) {
            if (Module.outMod->IsPlaying() == 0)
                break;
            if (!WaitOrStop(PlayedOutPollMs))
                return;
            continue;
        }
        const int count = static_cast<int>(std::min<std::int64_t>(BlockFrames, frames - frame));
        const int room = count * audio_.format.BytesPerFrame() * (Module.dsp_isactive() ? 2 : 1);
        if (paused_ || (pollCanWrite_ && Module.outMod->CanWrite() < room)) {
            if (!WaitOrStop(RoomPollMs))
                return;
            continue;
        }
        WriteBlock(frame, count);
        frame += count;
        if (WaitForSingleObject(stop_.Get(), 0) == WAIT_OBJECT_0)
            return;
    }
    PostMessageA(Module.hMainWindow, player::EndOfFileMessage, 0, 0);
}

bool Playback::TakeSeek(std::int64_t& frame) {
    const int toMs = seekToMs_.exchange(-1);
    if (toMs < 0)
        return false;
    frame = std::min(audio_.Frames(),
                     static_cast<std::int64_t>(toMs) * audio_.format.sampleRate / 1000);
    Module.outMod->Flush(toMs);
    return true;
}

void Playback::WriteBlock(std::int64_t frame, int frames) {
    const standin::PcmFormat& format = audio_.format;
    const int frameBytes = format.BytesPerFrame();
    std::memcpy(block_.data(), audio_.data.data() + frame * frameBytes,
                static_cast<std::size_t>(frames) * static_cast<std::size_t>(frameBytes));
    const int at = Module.outMod->GetWrittenTime();
    Module.SAAddPCMData(block_.data(), format.channels, format.bitsPerSample, at);
    Module.VSAAddPCMData(block_.data(), format.channels, format.bitsPerSample, at);
    if (Module.dsp_isactive() != 0)
        frames = std::clamp(Module.dsp_dosamples(reinterpret_cast<short int*>(block_.data()),
                                                 frames, format.bitsPerSample, format.channels,
                                                 format.sampleRate),
                            0, 2 * BlockFrames);
    if (frames > 0)
        Module.outMod->Write(block_.data(), frames * frameBytes);
}

void Playback::End() {
    if (!thread_)
        return;
    SetEvent(stop_.Get());
    if (WaitForSingleObject(thread_.Get(), StopWaitMs) != WAIT_OBJECT_0)
        TerminateThread(thread_.Get(), 1);
    thread_.Reset();
}

std::unique_ptr<Playback> Current;

// Record functions: the player is another module, so nothing may unwind into it.

void QV_CDECL Config(HWND) {}
void QV_CDECL About(HWND parent) {
    MessageBoxA(parent, Description, "About", MB_OK);
}
void QV_CDECL Init() {}
void QV_CDECL Quit() {
    Guarded([] { Current.reset(); });
}

void QV_CDECL GetFileInfo(const PathChar* file, PathChar* title, int* lengthMs) {
    Guarded([&] {
        const std::string name = Narrow(file);
        int length = -1;
        std::string shown;
        if (name.empty() && Current) {
            shown = TitleOf(Current->Name());
            length = Current->LengthMs();
        } else if (!name.empty()) {
            shown = TitleOf(name);
            try {
                length = LengthMs(Decode(name));
            } catch (const standin::WavError&) {
            }
        }
        if (title != nullptr)
            CopyTitle(shown, title);
        if (lengthMs != nullptr)
            *lengthMs = length;
    });
}

int QV_CDECL InfoBox(const PathChar*, HWND) {
    return player::InfoBoxUnchanged;
}

int QV_CDECL IsOurFile(const PathChar* file) {
    return Guarded([&] { return standin::ParseToneName(Narrow(file)) ? 1 : 0; }, 0);
}

int PlayFile(const std::string& name) {
    standin::PcmAudio audio;
    try {
        audio = Decode(name);
    } catch (const standin::WavError&) {
        return GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES
                   ? player::PlayFileNotFound
                   : 1;
    }
    const standin::PcmFormat format = audio.format;
    const int latencyMs =
        Module.outMod->Open(format.sampleRate, format.channels, format.bitsPerSample, -1, -1);
    if (latencyMs < 0)
        return 1;
    Module.SetInfo(format.BytesPerSecond() * 8 / 1000, format.sampleRate / 1000,
                   format.channels > 1 ? 1 : 0, 1);
    Module.SAVSAInit(latencyMs, format.sampleRate);
    Module.VSASetInfo(format.sampleRate, format.channels);
    Module.outMod->SetVolume(PlayerVolume);
    Current = std::make_unique<Playback>(name, std::move(audio), Setting("PollCanWrite", 1) != 0);
    // As decoders that set the output's time at every track start do.
    if (Setting("FlushAtStart", 0) != 0)
        Current->SeekTo(0);
    if (Current->Start())
        return 0;
    Current.reset();
    Module.outMod->Close();
    return 1;
}

int QV_CDECL Play(const PathChar* file) {
    return Guarded(
        [&] {
            Current.reset();
            return PlayFile(Narrow(file));
        },
        1);
}

void QV_CDECL Pause() {
    if (Current) {
        Current->SetPaused(true);
        Module.outMod->Pause(1);
    }
}
void QV_CDECL UnPause() {
    if (Current) {
        Module.outMod->Pause(0);
        Current->SetPaused(false);
    }
}
int QV_CDECL IsPaused() {
    return Current && Current->Paused() ? 1 : 0;
}

void QV_CDECL Stop() {
    if (!Current)
        return;
    Guarded([] { Current->End(); });
    Current.reset();
    Module.outMod->Close();
    Module.SAVSADeInit();
}

int QV_CDECL GetLength() {
    return Current ? Current->LengthMs() : -1;
}
int QV_CDECL GetOutputTime() {
    return Current ? Module.outMod->GetOutputTime() : 0;
}
void QV_CDECL SetOutputTime(int ms) {
    if (Current)
        Current->SeekTo(ms);
}
void QV_CDECL SetVolume(int volume) {
    Module.outMod->SetVolume(volume);
}
void QV_CDECL SetPan(int pan) {
    Module.outMod->SetPan(pan);
}
void QV_CDECL EqualizerSet(int, char[10], int) {}

Record MakeRecord() {
    Record record{};
    record.version = RecordVersion;
    record.description = Description;
    record.FileExtensions = Extensions;
    record.is_seekable = 1;
    record.UsesOutputPlug = player::InUsesOutputPlugin;
    record.Config = Config;
    record.About = About;
    record.Init = Init;
    record.Quit = Quit;
    record.GetFileInfo = GetFileInfo;
    record.InfoBox = InfoBox;
    record.IsOurFile = IsOurFile;
    record.Play = Play;
    record.Pause = Pause;
    record.UnPause = UnPause;
    record.IsPaused = IsPaused;
    record.Stop = Stop;
    record.GetLength = GetLength;
    record.GetOutputTime = GetOutputTime;
    record.SetOutputTime = SetOutputTime;
    record.SetVolume = SetVolume;
    record.SetPan = SetPan;
    record.EQSet = EqualizerSet;
    return record;
}

} // namespace

extern "C" __declspec(dllexport) Record* QV_CDECL winampGetInModule2() {
    // Filled once: the player's fields stay as the player set them.
    if (Module.version == 0)
        Module = MakeRecord();
    return &Module;
}
