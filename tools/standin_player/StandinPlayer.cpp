// The stand-in player: plays WAV files or a built-in tune through a player
// output plug-in, doing the player's part exactly as the plug-in sees it.
// Exit codes: 0 played, 1 the run failed, 2 bad command line or input file.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/standin_player/Options.h"
#include "tools/standin_player/PlayerRun.h"
#include "tools/standin_player/Tune.h"
#include "tools/standin_player/WavFile.h"

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitBadInput = 2;

std::vector<standin::PcmAudio> LoadTracks(const standin::PlayerOptions& options) {
    std::vector<standin::PcmAudio> tracks;
    for (const standin::TrackSource& source : options.tracks) {
        if (source.wavPath.empty()) {
            tracks.push_back(standin::MakeTune(source.tuneSeconds, options.tuneFormat));
            continue;
        }
        try {
            tracks.push_back(standin::ReadWavFile(source.wavPath));
        } catch (const standin::WavError& error) {
            throw standin::WavError(source.wavPath + ": " + error.what());
        }
    }
    return tracks;
}

int Run(const std::vector<std::string>& arguments) {
    const standin::PlayerOptions options = standin::ParseOptions(arguments);
    // Input plug-ins decode the files themselves: the player only names them.
    const bool decodeHere = options.inputPaths.empty() || !options.writeWavPath.empty();
    const std::vector<standin::PcmAudio> tracks =
        decodeHere ? LoadTracks(options) : std::vector<standin::PcmAudio>();
    if (!options.writeWavPath.empty()) {
        standin::WriteWavFile(options.writeWavPath, tracks.front());
        return 0;
    }
    return standin::RunPlayer(options, tracks);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::fputs(standin::UsageText(), stdout);
        return 0;
    }
    try {
        return Run(arguments);
    } catch (const standin::UsageError& error) {
        std::fprintf(stderr, "standin_player: %s\n\n%s", error.what(), standin::UsageText());
        return ExitBadInput;
    } catch (const standin::WavError& error) {
        std::fprintf(stderr, "standin_player: %s\n", error.what());
        return ExitBadInput;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin_player: %s\n", error.what());
        return ExitFailed;
    }
}
