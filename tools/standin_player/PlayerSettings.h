// The player's files: the folder of its own settings file, and the entries
// it writes for the output plug-in before loading it.
#pragma once

#include <string>

namespace standin {

// The folder that holds the player's settings file. Without a folder given,
// a fresh temporary one is made and removed again with this object.
class SettingsFolder {
public:
    explicit SettingsFolder(const std::string& wanted);
    SettingsFolder(const SettingsFolder&) = delete;
    SettingsFolder& operator=(const SettingsFolder&) = delete;
    ~SettingsFolder();

    const std::string& Path() const { return path_; }
    std::string SettingsFile() const { return path_ + "\\winamp.ini"; }

private:
    std::string path_;
    bool owned_ = false;
};

// The name Windows gives the wave mapper (device id -1), which is the
// output plug-in's first device name.
std::string DefaultDeviceName();

// The plug-in reads its device from its own settings file, kept in a
// "Plugins" folder beside the player's settings file.
void WritePluginDevice(const SettingsFolder& folder, const std::string& device);

// The file a plug-in asked the player to remove through its settings file, or "".
std::string RemovalRequest(const SettingsFolder& folder);

// Makes the player's own settings file when it is missing: a "[Winamp]"
// section with a few lines of the player's, and a section after it, as a
// real one has.
void PreparePlayerSettings(const SettingsFolder& folder, const std::string& outputPluginName);

// What the player does at its start with a removal entry left by a plug-in:
// it takes the entry out of its settings file and returns the file named
// (the stand-in only reports it; it removes nothing), or "" without one.
std::string TakeRemovalRequest(const SettingsFolder& folder);

} // namespace standin
