// Placeholder until the settings store lands.
#include "host/Configunit.h"

TPluginConfig::TPluginConfig() = default;
TPluginConfig::~TPluginConfig() = default;
void TPluginConfig::Load() {}
void TPluginConfig::Save() {}
void TPluginConfig::StoreSongEndFudgeFactor(const std::string& text) { SongEndFudgeFactor = text; }
void TPluginConfig::StorePlaybackFudgeFactor(const std::string& text) { PlaybackFudgeFactor = text; }
void TPluginConfig::StoreOutDevice(const std::string& text) { OutDevice = text; }
void TPluginConfig::Uninstall() { Uninstalled = true; }
