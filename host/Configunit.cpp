#include "host/Configunit.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "host/Errors.h"
#include "host/FolderUtils.h"
#include "host/WinAmpAPIUnit.h"

namespace {

constexpr char Section[] = "Quellspring";
constexpr char FileName[] = "QVQuellspring.ini";
constexpr char SubFolder[] = "Plugins";
constexpr char SongEndKey[] = "SongEndFudgeFactor";
constexpr char PlaybackKey[] = "PlaybackFudgeFactor";
constexpr char OutDeviceKey[] = "OutDevice";
// A value is read up to 2047 characters. The platform counts the quotes
// that Encoded may add against its buffer before it strips them, so the
// buffer has room for them and the limit is applied here.
constexpr DWORD ValueLimit = 2047;
constexpr DWORD ValueCapacity = ValueLimit + 2 + 1;

std::string WithDelimiter(std::string folder) {
    if (!folder.empty() && !IsPathDelimiter(folder.back()))
        folder += '\\';
    return folder;
}

std::string CurrentFolder() {
    char current[MAX_PATH + 1] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof current, current);
    if (length == 0 || length >= sizeof current)
        return {};
    const std::string full = FullPathName(current);
    return WithDelimiter(full.empty() ? current : full);
}

std::string ReadWithDefault(const std::string& file, const char* key, const char* fallback) {
    char value[ValueCapacity] = {};
    const DWORD length =
        GetPrivateProfileStringA(Section, key, fallback, value, ValueCapacity, file.c_str());
    return std::string(value, length < ValueLimit ? length : ValueLimit);
}

// The key's value, or nothing when the key (or the file) is missing. The
// profile functions give no "missing" answer of their own, and they trim a
// default's blanks, so two one-character defaults tell a missing key from
// any value, including one that equals either default.
std::optional<std::string> ReadValue(const std::string& file, const char* key) {
    std::string value = ReadWithDefault(file, key, "\x01");
    if (value != "\x01")
        return value;
    if (ReadWithDefault(file, key, "\x02") == "\x02")
        return std::nullopt;
    return value;
}

void ReadInto(const std::string& file, const char* key, std::string& field) {
    if (auto value = ReadValue(file, key))
        field = std::move(*value);
}

// What the profile reader trims around a value (Wine counts ^Z too).
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

// The reader drops blanks around a value and one pair of enclosing quotes.
// A value that would lose either is written inside double quotes, which the
// reader strips again, so every text comes back as it was stored.
std::string Encoded(const std::string& value) {
    if (value.empty())
        return value;
    const bool blankEdge = IsBlank(value.front()) || IsBlank(value.back());
    const bool quoteFirst = value.front() == '"' || value.front() == '\'';
    return blankEdge || quoteFirst ? '"' + value + '"' : value;
}

void Write(const std::string& file, const char* key, const std::string& value) {
    if (!WritePrivateProfileStringA(Section, key, Encoded(value).c_str(), file.c_str()))
        throw EQvError("Unable to write to " + file);
}

} // namespace

TPluginConfig::TPluginConfig() {
    if (WinAmpAPIMan == nullptr)
        LocateWithoutHost();
    else
        LocateBesidePlayerSettings();
}

TPluginConfig::~TPluginConfig() {
    if (Uninstalled)
        return;
    try {
        Save();
    } catch (...) {
        // Nowhere to report it: Quit goes on, and the values were written
        // whenever they changed.
    }
}

// Works on the current folder's file and never moves it.
void TPluginConfig::LocateWithoutHost() {
    IniFileName = CurrentFolder() + FileName;
    MessageBoxA(nullptr, "Oops! ConfigInit before WinAmpAPIManInit", "Info", MB_OK);
    Load();
}

void TPluginConfig::LocateBesidePlayerSettings() {
    std::string base = WinAmpAPIMan->GetSettingsFolder();
    // A relative profile path would land in the Windows folder; the current
    // folder is the better guess when the player does not say.
    if (base.empty())
        base = CurrentFolder();
    const std::string folder = base + SubFolder;
    if (!FolderExists(folder))
        CreateFolderPath(folder); // a failure shows at the first save
    const std::string older = base + FileName;
    const std::string proper = folder + '\\' + FileName;
    // Only while the new file does not exist yet: an older file that could
    // not be deleted after a move would otherwise bring its stale values back
    // over the current ones at every start.
    if (!FileExists(older) || FileExists(proper)) {
        IniFileName = proper;
        Load();
        return;
    }
    IniFileName = older;
    Load();
    MoveFromOlderLocation(older, proper);
}

// The older file is deleted only once its values are safe in the new one;
// if the new one cannot be written the store stays on the older file, which
// Init then keeps using, and nothing is lost.
void TPluginConfig::MoveFromOlderLocation(const std::string& older, const std::string& proper) {
    IniFileName = proper;
    try {
        Save();
    } catch (const EQvError&) {
        IniFileName = older;
        return;
    }
    DeleteFileA(older.c_str());
}

void TPluginConfig::Load() {
    if (!Active())
        return;
    ReadInto(IniFileName, SongEndKey, SongEndFudgeFactor);
    ReadInto(IniFileName, PlaybackKey, PlaybackFudgeFactor);
    ReadInto(IniFileName, OutDeviceKey, OutDevice);
}

void TPluginConfig::Save() {
    if (!Active())
        return;
    Write(IniFileName, SongEndKey, SongEndFudgeFactor);
    Write(IniFileName, PlaybackKey, PlaybackFudgeFactor);
    Write(IniFileName, OutDeviceKey, OutDevice);
}

void TPluginConfig::Store(std::string& field, const std::string& text) {
    if (field == text)
        return;
    field = text;
    Save();
}

void TPluginConfig::StoreSongEndFudgeFactor(const std::string& text) {
    Store(SongEndFudgeFactor, text);
}

void TPluginConfig::StorePlaybackFudgeFactor(const std::string& text) {
    Store(PlaybackFudgeFactor, text);
}

void TPluginConfig::StoreOutDevice(const std::string& text) {
    Store(OutDevice, text);
}

void TPluginConfig::Uninstall() {
    Uninstalled = true;
    const std::string file = std::exchange(IniFileName, std::string());
    if (!file.empty())
        DeleteFileA(file.c_str());
}
