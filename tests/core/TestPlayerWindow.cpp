#include "TestPlayerWindow.h"

#include <filesystem>

#include "host/PlayerInterface.h"

namespace qvtest {

namespace {
const char* const ClassName = "QVQuellspringTestPlayer";

LRESULT TextAnswer(const std::string& text) {
    return text.empty() ? 1 : reinterpret_cast<LRESULT>(text.c_str());
}
} // namespace

TestPlayerWindow::TestPlayerWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);
    Window = CreateWindowExA(0, ClassName, "Test player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                             nullptr, nullptr, GetModuleHandleA(nullptr), this);
}

TestPlayerWindow::~TestPlayerWindow() {
    if (Window != nullptr)
        DestroyWindow(Window);
}

LRESULT CALLBACK TestPlayerWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* const self =
        reinterpret_cast<TestPlayerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == player::RequestMessage)
        return self->Answer(wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TestPlayerWindow::Answer(WPARAM, LPARAM request) {
    switch (request) {
    case player::IpcGetVersion:
        return 0x5066;
    case player::IpcGetIniFile:
        return TextAnswer(SettingsFile);
    case player::IpcGetPluginDir:
        return TextAnswer(PluginFolder);
    case player::IpcGetOutputPlugin:
        return TextAnswer(OutputPluginName);
    case player::IpcIsPlaybackContinuing:
        return PlaybackContinues;
    case player::IpcSetVolume:
        ++VolumeRequests;
        return Volume;
    case player::IpcSetPan:
        return Pan;
    default:
        return 0;
    }
}

TempFolder::TempFolder() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    char name[MAX_PATH] = {};
    GetTempFileNameA(base, "qvq", 0, name);
    DeleteFileA(name);
    CreateDirectoryA(name, nullptr);
    Folder = std::string(name) + "\\";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
}

} // namespace qvtest
