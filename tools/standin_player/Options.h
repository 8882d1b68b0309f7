// The player's command line.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/standin_player/Pcm.h"

namespace standin {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One track: a WAV file, or the built-in tune of a given length.
struct TrackSource {
    std::string wavPath; // empty for the tune
    double tuneSeconds = 0.0;
};

// A user action at a wall-clock moment, counted from the first Open.
struct TimedAction {
    int atMs = -1; // -1: not wanted
    bool Wanted() const { return atMs >= 0; }
};

struct PlayerOptions {
    std::vector<TrackSource> tracks;
    PcmFormat tuneFormat;

    std::string pluginPath;  // empty: next to the player or one folder up
    std::string dspPath;     // empty: no DSP plug-in
    std::string settingsDir; // empty: a fresh temporary folder
    // What the plug-in's settings file is given as its device before the run;
    // nullopt leaves that file alone, as a real player does (a first run
    // then starts with no device, and an older settings file is moved in).
    std::optional<std::string> device;
    bool defaultDevice = false;   // --default-device: the wave mapper's name
    std::string outputPluginName; // answer to request 625; empty: the loaded file's name
    // Input plug-ins that decode the tracks; empty: the player decodes them itself.
    std::vector<std::string> inputPaths;

    int blockFrames = 576;
    int pollSleepMs = 10;
    bool pollCanWrite = true;

    int volume = 255;
    int pan = 0;
    TimedAction stopAt;
    TimedAction pauseAt;
    int pauseMs = 1000;
    TimedAction seekAt;
    int seekToMs = 0;
    TimedAction volumeAt;
    TimedAction dspConfigAt; // the user opens the DSP plug-in's configuration
    bool silenceAfterDsp = false;
    TimedAction configAt;       // the player's Config of the output plug-in
    TimedAction configScrollAt; // scroll its status read-out to the right and bottom
    TimedAction configDeviceAt; // choose configDevice in its device box, by keys
    std::string configDevice;
    TimedAction aboutAt;     // its About (modal: the player waits in it)
    int aboutCloseMs = 1500; // then Enter closes the about box

    bool playerWindows = false; // answer request 260 with real windows
    bool traceRequests = false;
    bool quiet = false;       // no progress lines
    int playOutMs = 3000;     // after the last track: close as at a track end, wait for the sound
    std::string writeLogPath; // one line per Write: audio before it, its return time

    std::string writeWavPath; // generator mode: write the tune and exit
};

// Throws UsageError for anything it does not understand.
PlayerOptions ParseOptions(const std::vector<std::string>& arguments);

const char* UsageText();

} // namespace standin
