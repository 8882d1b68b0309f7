#include "host/WinAmpAPIUnit.h"

#include "host/Errors.h"

namespace {

// Only an OK button: the box just tells, the construction still fails.
void ShowNullRecordBox() {
    MessageBoxA(GetDesktopWindow(), "NULL Pointer to pluggin Var.", "Internal Error", MB_OK);
}

HWND CheckedMainWindow(const Out_Module& module) {
    const HWND window = module.hMainWindow;
    if (window == nullptr)
        throw EQvError("NULL Winamp Main HWND Var.");
    if (!IsWindow(window))
        throw EQvError("Bad Winamp Main HWND Var.");
    return window;
}

HWND ExistingWindow(HWND window) {
    return IsWindow(window) ? window : nullptr;
}

// The folder part of a path: up to and including the last delimiter or drive colon.
std::string FolderPart(const std::string& path) {
    const auto last = path.find_last_of("\\/:");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

} // namespace

TWinAmpAPIMan::TWinAmpAPIMan(Out_Module* module) {
    if (module == nullptr) {
        ShowNullRecordBox();
        throw EQvError("");
    }
    Module = module;
    MainWindow = CheckedMainWindow(*module);
    FindPlayerWindows();
    ReadPlayerVersion();
}

LRESULT TWinAmpAPIMan::Request(LPARAM request, WPARAM argument) const {
    return SendMessageA(MainWindow, player::RequestMessage, argument, request);
}

std::string TWinAmpAPIMan::TextAnswer(LPARAM request) const {
    const LRESULT answer = Request(request);
    // The player answers 1 for "none"; 0 is no address either. Either would
    // fault if read.
    if (answer == 0 || answer == 1)
        return {};
    return reinterpret_cast<const char*>(answer);
}

HWND TWinAmpAPIMan::PlayerWindow(WPARAM which, const wchar_t* fallbackClass) const {
    const HWND reported =
        ExistingWindow(reinterpret_cast<HWND>(Request(player::IpcGetWindow, which)));
    if (reported != nullptr || fallbackClass == nullptr)
        return reported;
    return ExistingWindow(FindWindowW(fallbackClass, nullptr));
}

void TWinAmpAPIMan::FindPlayerWindows() {
    EqualizerWindow = PlayerWindow(0, L"Winamp EQ");
    PlaylistWindow = PlayerWindow(1, L"Winamp PE");
    ThirdWindow = PlayerWindow(2, nullptr);
}

void TWinAmpAPIMan::ReadPlayerVersion() {
    const auto version = static_cast<uint32_t>(Request(player::IpcGetVersion));
    PlayerVersionMajor = static_cast<uint8_t>((version >> 8) & 0xFF);
    PlayerVersionMinor = static_cast<uint8_t>(version & 0xFF);
    PlayerVersion = static_cast<uint16_t>(version & 0xFFFF);
}

std::string TWinAmpAPIMan::GetSettingsFolder() const {
    std::string folder = FolderPart(TextAnswer(player::IpcGetIniFile));
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

std::string TWinAmpAPIMan::GetPluginFolder() const {
    return TextAnswer(player::IpcGetPluginDir);
}

bool TWinAmpAPIMan::IsStopping() const {
    try {
        return Request(player::IpcIsPlaybackContinuing) == 0;
    } catch (...) {
        return false;
    }
}

std::string TWinAmpAPIMan::GetOutputPluginFileName() const {
    return TextAnswer(player::IpcGetOutputPlugin);
}
