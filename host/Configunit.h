// The output plug-in's three settings, mirrored in its own INI file.
//
// How it works. Init creates the one store after the host window manager,
// which tells it where the player keeps its settings: the file is
// "Plugins\QVQuellspring.ini" beside the player's settings file. The store
// reads the file when it is made, writes all three keys whenever a setter
// changes a value and once more when it is destroyed. A file left by older
// versions beside the player's settings file is moved into "Plugins" once.
// Values are kept as texts exactly as the user typed them; the core converts
// the factors itself. Only one thread uses the store at a time (the player's
// window thread), so it takes no lock.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <string>

class TPluginConfig {
public:
    TPluginConfig();
    // Saves unless uninstalled; a refused save is dropped here, as nothing
    // may leave a destructor.
    ~TPluginConfig();
    TPluginConfig(const TPluginConfig&) = delete;
    TPluginConfig& operator=(const TPluginConfig&) = delete;

    void Load();
    // Raises EQvError("Unable to write to <file>") when the platform refuses.
    void Save();
    // Each writes all three keys when text differs from the value held, and
    // so may raise as Save does.
    void StoreSongEndFudgeFactor(const std::string& text);
    void StorePlaybackFudgeFactor(const std::string& text);
    void StoreOutDevice(const std::string& text);
    // Deletes the file; from then on nothing is read or written.
    void Uninstall();

    std::string IniFileName;
    bool Uninstalled = false;
    std::string SongEndFudgeFactor = "0.0";
    std::string PlaybackFudgeFactor = "0.0";
    std::string OutDevice;

private:
    bool Active() const { return !IniFileName.empty() && !Uninstalled; }
    void Store(std::string& field, const std::string& text);
    void LocateWithoutHost();
    void LocateBesidePlayerSettings();
    void MoveFromOlderLocation(const std::string& older, const std::string& proper);
};
