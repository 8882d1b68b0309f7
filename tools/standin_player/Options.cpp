#include "tools/standin_player/Options.h"

#include <charconv>
#include <functional>
#include <map>

#include "tools/standin_player/Tune.h"

namespace standin {
namespace {

int ParseInt(const std::string& option, const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw UsageError(option + " wants a whole number, not \"" + text + "\"");
    return value;
}

int ParseNonNegative(const std::string& option, const std::string& text) {
    const int value = ParseInt(option, text);
    if (value < 0)
        throw UsageError(option + " wants a number of 0 or more");
    return value;
}

double ParseSeconds(const std::string& option, const std::string& text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value > 0.0) ||
        value > 3600.0)
        throw UsageError(option + " wants seconds between 0 and 3600, not \"" + text + "\"");
    return value;
}

using ValueHandler =
    std::function<void(PlayerOptions&, const std::string& option, const std::string& value)>;

const std::map<std::string, ValueHandler>& ValueOptions() {
    static const std::map<std::string, ValueHandler> handlers = {
        {"--tone",
         [](PlayerOptions& o, const std::string& n, const std::string& v) {
             o.tracks.push_back({{}, ParseSeconds(n, v)});
         }},
        {"--plugin",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.pluginPath = v; }},
        {"--dsp",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.dspPath = v; }},
        {"--input", [](PlayerOptions& o, const std::string&,
                       const std::string& v) { o.inputPaths.push_back(v); }},
        {"--settings-dir",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.settingsDir = v; }},
        {"--device",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.device = v; }},
        {"--output-plugin-name", [](PlayerOptions& o, const std::string&,
                                    const std::string& v) { o.outputPluginName = v; }},
        {"--block-frames",
         [](PlayerOptions& o, const std::string& n, const std::string& v) {
             o.blockFrames = ParseInt(n, v);
             if (o.blockFrames < 1)
                 throw UsageError(n + " wants at least 1 frame");
         }},
        {"--poll-ms", [](PlayerOptions& o, const std::string& n,
                         const std::string& v) { o.pollSleepMs = ParseNonNegative(n, v); }},
        {"--volume", [](PlayerOptions& o, const std::string& n,
                        const std::string& v) { o.volume = ParseInt(n, v); }},
        {"--pan", [](PlayerOptions& o, const std::string& n,
                     const std::string& v) { o.pan = ParseInt(n, v); }},
        {"--stop-after", [](PlayerOptions& o, const std::string& n,
                            const std::string& v) { o.stopAt.atMs = ParseNonNegative(n, v); }},
        {"--pause-at", [](PlayerOptions& o, const std::string& n,
                          const std::string& v) { o.pauseAt.atMs = ParseNonNegative(n, v); }},
        {"--pause-ms", [](PlayerOptions& o, const std::string& n,
                          const std::string& v) { o.pauseMs = ParseNonNegative(n, v); }},
        {"--seek-at", [](PlayerOptions& o, const std::string& n,
                         const std::string& v) { o.seekAt.atMs = ParseNonNegative(n, v); }},
        {"--seek-to", [](PlayerOptions& o, const std::string& n,
                         const std::string& v) { o.seekToMs = ParseNonNegative(n, v); }},
        {"--volume-at", [](PlayerOptions& o, const std::string& n,
                           const std::string& v) { o.volumeAt.atMs = ParseNonNegative(n, v); }},
        {"--dsp-config-at",
         [](PlayerOptions& o, const std::string& n, const std::string& v) {
             o.dspConfigAt.atMs = ParseNonNegative(n, v);
         }},
        {"--config-at", [](PlayerOptions& o, const std::string& n,
                           const std::string& v) { o.configAt.atMs = ParseNonNegative(n, v); }},
        {"--config-scroll-at",
         [](PlayerOptions& o, const std::string& n, const std::string& v) {
             o.configScrollAt.atMs = ParseNonNegative(n, v);
         }},
        {"--config-device-at",
         [](PlayerOptions& o, const std::string& n, const std::string& v) {
             o.configDeviceAt.atMs = ParseNonNegative(n, v);
         }},
        {"--config-device",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.configDevice = v; }},
        {"--about-at", [](PlayerOptions& o, const std::string& n,
                          const std::string& v) { o.aboutAt.atMs = ParseNonNegative(n, v); }},
        {"--about-close-ms", [](PlayerOptions& o, const std::string& n,
                                const std::string& v) { o.aboutCloseMs = ParseNonNegative(n, v); }},
        {"--rate", [](PlayerOptions& o, const std::string& n,
                      const std::string& v) { o.tuneFormat.sampleRate = ParseInt(n, v); }},
        {"--channels", [](PlayerOptions& o, const std::string& n,
                          const std::string& v) { o.tuneFormat.channels = ParseInt(n, v); }},
        {"--bits", [](PlayerOptions& o, const std::string& n,
                      const std::string& v) { o.tuneFormat.bitsPerSample = ParseInt(n, v); }},
        {"--play-out", [](PlayerOptions& o, const std::string& n,
                          const std::string& v) { o.playOutMs = ParseNonNegative(n, v); }},
        {"--write-log",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.writeLogPath = v; }},
        {"--write-wav",
         [](PlayerOptions& o, const std::string&, const std::string& v) { o.writeWavPath = v; }},
    };
    return handlers;
}

bool ApplyFlag(PlayerOptions& options, const std::string& argument) {
    if (argument == "--no-device")
        options.device = std::string();
    else if (argument == "--default-device")
        options.defaultDevice = true;
    else if (argument == "--no-poll")
        options.pollCanWrite = false;
    else if (argument == "--player-windows")
        options.playerWindows = true;
    else if (argument == "--trace-requests")
        options.traceRequests = true;
    else if (argument == "--silence-after-dsp")
        options.silenceAfterDsp = true;
    else if (argument == "--quiet")
        options.quiet = true;
    else if (argument == "--config")
        options.configAt.atMs = 0;
    else if (argument == "--about")
        options.aboutAt.atMs = 0;
    else
        return false;
    return true;
}

void Validate(PlayerOptions& options) {
    if (!IsSupportedFormat(options.tuneFormat))
        throw UsageError("--rate/--channels/--bits: the tune wants 8, 16, 24 or 32 bits, 1 to 8 "
                         "channels and 1000 to 384000 Hz");
    if (options.tracks.empty())
        options.tracks.push_back({{}, DefaultTuneSeconds});
    if (!options.writeWavPath.empty() &&
        (options.tracks.size() != 1 || !options.tracks.front().wavPath.empty()))
        throw UsageError("--write-wav writes one tune: give at most one --tone and no file");
}

} // namespace

PlayerOptions ParseOptions(const std::vector<std::string>& arguments) {
    PlayerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (ApplyFlag(options, argument))
            continue;
        const auto handler = ValueOptions().find(argument);
        if (handler != ValueOptions().end()) {
            if (i + 1 >= arguments.size())
                throw UsageError(argument + " wants a value");
            handler->second(options, argument, arguments[++i]);
            continue;
        }
        if (argument.starts_with("--"))
            throw UsageError("unknown option " + argument);
        options.tracks.push_back({argument, 0.0});
    }
    Validate(options);
    return options;
}

const char* UsageText() {
    return "usage: standin_player [options] [FILE.wav | --tone SECONDS]...\n"
           "Plays the inputs as consecutive tracks through a player output plug-in.\n"
           "  --plugin PATH          output plug-in (default: out_qvquellspring.dll next to\n"
           "                         the player or one folder up)\n"
           "  --dsp PATH             also load this DSP plug-in and run each block through it;\n"
           "                         a bare file name is taken from the output plug-in's\n"
           "                         folder, the player's Plugins folder\n"
           "  --dsp-config-at MS     open the DSP plug-in's configuration at this moment\n"
           "  --input PATH           decode the tracks with this input plug-in (repeatable:\n"
           "                         the first that accepts a file plays it); --tone tracks\n"
           "                         are handed over as tone://SECONDS?rate=R&channels=C&bits=B;\n"
           "                         block size and polling are then the plug-in's own\n"
           "  --settings-dir DIR     folder of the player's winamp.ini (default: a fresh\n"
           "                         temporary folder, removed at the end)\n"
           "  --device NAME          output device the plug-in is set to use\n"
           "  --no-device            set the plug-in to use no device (pacing only)\n"
           "  --default-device       set the plug-in to use the player's default device\n"
           "                         unless --device or --no-device is given (without any\n"
           "                         of the three the plug-in's settings file is left as\n"
           "                         it is)\n"
           "  --tone SECONDS         a track of the built-in tune (default: one of 4 s)\n"
           "  --rate HZ --channels N --bits B   format of the tune (44100, 2, 16)\n"
           "  --block-frames N       frames per Write (576; capped at 8192 bytes)\n"
           "  --no-poll              Write without polling CanWrite, so Write blocks\n"
           "  --poll-ms MS           sleep between CanWrite polls (10)\n"
           "  --volume V --pan P     the player's volume (255) and pan (0)\n"
           "  --volume-at MS         change the volume to --volume only at MS\n"
           "  --stop-after MS        press stop at MS\n"
           "  --pause-at MS --pause-ms MS    pause at MS, and unpause MS after that (1000)\n"
           "  --seek-at MS --seek-to MS      seek in the current track\n"
           "  --config | --config-at MS   open the plug-in's configuration window at the\n"
           "                         start or at MS (it stays open while playing)\n"
           "  --config-scroll-at MS  scroll its status read-out to the right and bottom\n"
           "  --config-device-at MS --config-device NAME   choose NAME (\"\" for none) in\n"
           "                         its device box with the arrow keys\n"
           "  --about | --about-at MS    open the plug-in's about box (modal; playback\n"
           "                         goes on) and press Enter in it after --about-close-ms\n"
           "                         (1500)\n"
           "  --output-plugin-name N file name answered as the player's output plug-in\n"
           "  --player-windows       answer request 260 with equalizer and playlist windows\n"
           "  --trace-requests       print every player request on stderr\n"
           "  --silence-after-dsp    write silence after the DSP stage (tests: only a DSP\n"
           "                         that passes blocks on itself is heard)\n"
           "  --quiet                no progress lines\n"
           "  --play-out MS          after the last track, wait at most MS (3000) for the\n"
           "                         plug-in to play out what it holds; 0 ends it as a stop\n"
           "  --write-log PATH       log each Write: audio ms before it, its return time,\n"
           "                         the output time after it and the counter ms it was read\n"
           "  --write-wav PATH       write the tune (--tone, --rate, --channels, --bits) as a\n"
           "                         WAV file and exit\n"
           "Times (MS) are wall-clock milliseconds from the first Open.\n"
           "The last line is: summary: audio_ms=A wall_ms=W output_ms=O written_ms=R blocks=B\n";
}

} // namespace standin
