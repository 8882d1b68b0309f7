#include "tests/soak/SoakPlayerWindow.h"

#include <filesystem>
#include <system_error>

#include "host/PlayerInterface.h"

namespace {

constexpr char ClassName[] = "QvSoakPlayer";

std::string ExePath() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string NewSettingsFolder() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "qvsoak-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

} // namespace

TSoakPlayerWindow::TSoakPlayerWindow() : SettingsFolder(NewSettingsFolder()) {
    IniFile = SettingsFolder + "winamp.ini";
    // The module recognises itself as the player's output plug-in by the file
    // name the player reports in its plug-in folder: this program's own.
    const std::filesystem::path exe = ExePath();
    PluginFolder = exe.parent_path().string();
    PluginFile = exe.filename().string();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);
    Handle.reset(CreateWindowExA(0, ClassName, "Soak Player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    SetWindowLongPtrA(Handle.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TSoakPlayerWindow::~TSoakPlayerWindow() {
    Handle.reset();
    std::error_code ignored;
    std::filesystem::remove_all(SettingsFolder, ignored);
}

LRESULT CALLBACK TSoakPlayerWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    const auto* const self =
        reinterpret_cast<const TSoakPlayerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == player::RequestMessage && self != nullptr)
        return self->OnRequest(lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TSoakPlayerWindow::OnRequest(LPARAM request) const {
    // Texts are answered by address, as the player does; they live as long
    // as the window.
    switch (request) {
    case player::IpcGetVersion:
        return 0x5066;
    case player::IpcGetIniFile:
        return reinterpret_cast<LRESULT>(IniFile.c_str());
    case player::IpcGetPluginDir:
        return reinterpret_cast<LRESULT>(PluginFolder.c_str());
    case player::IpcGetOutputPlugin:
        return reinterpret_cast<LRESULT>(PluginFile.c_str());
    case player::IpcIsPlaybackContinuing:
        return Continuing ? 1 : 0;
    default:
        return 0;
    }
}

bool PumpMessages(DWORD ms, HANDLE event) {
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const ULONGLONG spent = GetTickCount64() - started;
        const DWORD left = spent >= ms ? 0 : DWORD(ms - spent);
        const DWORD woken =
            MsgWaitForMultipleObjects(event != nullptr ? 1 : 0, &event, FALSE, left, QS_ALLINPUT);
        if (event != nullptr && woken == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (woken == WAIT_TIMEOUT)
            return false;
    }
}
