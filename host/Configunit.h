// The output plug-in's three settings, mirrored in its own INI file.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <string>

class TPluginConfig {
public:
    TPluginConfig();
    ~TPluginConfig();
    TPluginConfig(const TPluginConfig&) = delete;
    TPluginConfig& operator=(const TPluginConfig&) = delete;

    void Load();
    void Save();
    void StoreSongEndFudgeFactor(const std::string& text);
    void StorePlaybackFudgeFactor(const std::string& text);
    void StoreOutDevice(const std::string& text);
    void Uninstall();

    std::string IniFileName;
    bool Uninstalled = false;
    std::string SongEndFudgeFactor = "0.0";
    std::string PlaybackFudgeFactor = "0.0";
    std::string OutDevice;
};
