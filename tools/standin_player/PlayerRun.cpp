#include "tools/standin_player/PlayerRun.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "tools/standin_player/Console.h"
#include "tools/standin_player/Decoder.h"
#include "tools/standin_player/InputHost.h"
#include "tools/standin_player/MessagePump.h"
#include "tools/standin_player/PlayerSettings.h"
#include "tools/standin_player/PlayerWindow.h"
#include "tools/standin_player/Plugins.h"
#include "tools/standin_player/UserActions.h"
#include "tools/standin_player/WindowActions.h"

namespace standin {
namespace {

constexpr char OutputPluginFile[] = "out_qvquellspring.dll";
// Short enough for the user's actions and the progress line to be on time.
constexpr DWORD PumpSliceMs = 10;

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The build puts the player in tools/ below the plug-in's folder.
std::string DefaultPluginPath() {
    const std::string own = FolderOf(ModulePath(nullptr));
    for (const std::string& folder : {own, FolderOf(own)}) {
        const std::string candidate = folder + "\\" + OutputPluginFile;
        if (FileExists(candidate))
            return candidate;
    }
    return OutputPluginFile;
}

void FillAnswers(PlayerAnswers& answers, const PlayerOptions& options,
                 const SettingsFolder& settings, const OutputPlugin& plugin) {
    const std::string pluginPath = ModulePath(plugin.Instance());
    answers.settingsFile = settings.SettingsFile();
    answers.pluginFolder = FolderOf(pluginPath);
    answers.outputPluginName =
        options.outputPluginName.empty() ? FileNameOf(pluginPath) : options.outputPluginName;
    // With --volume-at the volume changes only then; until then it is the player's default.
    answers.volume = options.volumeAt.Wanted() ? 255 : options.volume;
    answers.pan = options.pan;
    answers.traceRequests = options.traceRequests;
}

DecoderSettings SettingsFor(const PlayerOptions& options) {
    DecoderSettings settings;
    settings.blockFrames = options.blockFrames;
    settings.pollCanWrite = options.pollCanWrite;
    settings.pollSleepMs = options.pollSleepMs;
    settings.playOutMs = options.playOutMs;
    settings.logWrites = !options.writeLogPath.empty();
    settings.silenceAfterDsp = options.silenceAfterDsp;
    return settings;
}

// The player finds its DSP plug-ins in its Plugins folder, the output
// plug-in's; a path given in full is taken as it is.
std::string DspPathIn(const std::string& pluginFolder, const std::string& dsp) {
    if (dsp.empty() || dsp.find_first_of("\\/") != std::string::npos)
        return dsp;
    return pluginFolder + "\\" + dsp;
}

std::unique_ptr<DspPlugin> LoadDsp(const std::string& path, HWND mainWindow, Console& console) {
    if (path.empty())
        return nullptr;
    std::string reason;
    auto dsp = DspPlugin::Load(path, mainWindow, reason);
    console.Note(dsp ? "dsp: " + std::string(dsp->Description()) : "dsp: skipped, " + reason);
    if (dsp)
        console.Note("dsp init: " + std::to_string(dsp->InitResult()));
    return dsp;
}

// Plays until the decoding thread ends, answering requests meanwhile.
PlaybackResult Play(const PlayerOptions& options, const std::vector<PcmAudio>& tracks,
                    Out_Module& output, winampDSPModule* dsp, PlayerAnswers& answers,
                    HWND mainWindow, Console& console) {
    PlaybackControl control;
    PlaybackClock clock;
    DecoderTransport transport(output, control);
    UserActions actions(options, transport, answers);
    if (dsp != nullptr && options.dspConfigAt.Wanted())
        actions.Add(options.dspConfigAt.atMs, "dsp config", [dsp] { dsp->Config(dsp); });
    AddWindowActions(actions, options, output, mainWindow, console);
    Decoder decoder(output, dsp, tracks, SettingsFor(options), control, answers.playbackContinues,
                    clock);
    decoder.Start();
    while (!WaitPumping(decoder.Thread(), PumpSliceMs)) {
        if (!clock.Started())
            continue;
        const std::int64_t elapsed = clock.ElapsedMs();
        actions.RunDue(elapsed, console);
        console.Progress(output.GetOutputTime(), output.GetWrittenTime(), elapsed);
    }
    console.Finish();
    return decoder.Result();
}

void WriteLog(const std::string& path, const std::vector<WriteRecord>& writes,
              const std::vector<PlaybackEvent>& events) {
    if (path.empty())
        return;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "w"),
                                                               std::fclose);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    for (const WriteRecord& write : writes)
        std::fprintf(file.get(), "%.3f %.3f %d %.3f\n", write.audioBeforeMs, write.returnMs,
                     write.outputMs, write.outputReadMs);
    for (const PlaybackEvent& event : events)
        std::fprintf(file.get(), "%s %d %.3f\n", event.name, event.value, event.atMs);
}

// CPU time of the whole process (every thread, the plug-in's included).
long long ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    const auto units = [](const FILETIME& time) {
        return (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (units(kernel) + units(user)) / 10000;
}

void PrintSummary(const PlaybackResult& result) {
    std::printf("summary: audio_ms=%lld wall_ms=%lld output_ms=%d written_ms=%d blocks=%lld\n",
                static_cast<long long>(std::llround(result.audioMs)),
                static_cast<long long>(result.wallMs), result.outputMs, result.writtenMs,
                static_cast<long long>(result.blocks));
    std::fflush(stdout);
}

} // namespace

int RunPlayer(const PlayerOptions& options, const std::vector<PcmAudio>& tracks) {
    Console console(options.quiet);
    const SettingsFolder settings(options.settingsDir);
    const std::optional<std::string> device = options.device || !options.defaultDevice
                                                  ? options.device
                                                  : std::optional(DefaultDeviceName());
    if (device)
        WritePluginDevice(settings, *device);

    const std::string pluginPath =
        options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    PreparePlayerSettings(settings, FileNameOf(pluginPath));
    const std::string removed = TakeRemovalRequest(settings);
    if (!removed.empty())
        console.Note("startup: would remove " + removed + " (remove_genplug=)");
    PlaybackResult result;
    PlayerAnswers answers;
    {
        const OutputPlugin plugin(pluginPath);
        FillAnswers(answers, options, settings, plugin);
        const PlayerWindow window(GetModuleHandleA(nullptr), answers, options.playerWindows);
        console.Note("plugin: " + ModulePath(plugin.Instance()) + " (" +
                     (plugin.Module().description ? plugin.Module().description : "") + ")");
        console.Note("settings: " + answers.settingsFile);
        console.Note(device ? "device: \"" + *device + "\""
                            : std::string("device: the plug-in's own setting"));
        const OutputSession session(plugin, window.Handle());
        const std::unique_ptr<DspPlugin> dsp =
            LoadDsp(DspPathIn(answers.pluginFolder, options.dspPath), window.Handle(), console);
        winampDSPModule* const dspModule = dsp ? &dsp->Module() : nullptr;
        result = options.inputPaths.empty()
                     ? Play(options, tracks, plugin.Module(), dspModule, answers, window.Handle(),
                            console)
                     : PlayThroughInputs(options, plugin.Module(), window.Handle(), dspModule,
                                         answers, console);
    }
    console.Note("tracks: played=" + std::to_string(result.tracksPlayed) + " of " +
                 std::to_string(options.tracks.size()) +
                 (result.stopped ? ", stopped by the user" : ""));
    if (answers.restartRequests > 0)
        console.Note("restart requested: " + std::to_string(answers.restartRequests.load()) +
                     " request(s)");
    const std::string removal = RemovalRequest(settings);
    if (!removal.empty())
        console.Note("removal requested: " + removal);
    if (!result.error.empty())
        std::fprintf(stderr, "standin_player: %s\n", result.error.c_str());
    WriteLog(options.writeLogPath, result.writes, result.events);
    console.Note("process: cpu_ms=" + std::to_string(ProcessCpuMs()));
    PrintSummary(result);
    return result.error.empty() ? 0 : 1;
}

} // namespace standin
