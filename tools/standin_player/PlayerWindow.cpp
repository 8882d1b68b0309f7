#include "tools/standin_player/PlayerWindow.h"

#include <cstdio>
#include <stdexcept>

#include "host/PlayerInterface.h"

namespace standin {
namespace {

// The player's own window class names; plug-ins may look the windows up by them.
constexpr char MainClassName[] = "Winamp v1.x";
constexpr char EqualizerClassName[] = "Winamp EQ";
constexpr char PlaylistClassName[] = "Winamp PE";

HWND CreateHidden(const WindowClass& windowClass, HINSTANCE instance, void* self) {
    if (!windowClass.Registered())
        throw std::runtime_error(std::string("cannot register window class ") + windowClass.Name());
    const HWND window =
        CreateWindowExA(0, windowClass.Name(), windowClass.Name(), WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 275, 116, nullptr, nullptr, instance, self);
    if (window == nullptr)
        throw std::runtime_error(std::string("cannot create the window ") + windowClass.Name() +
                                 " (is there a display?)");
    return window;
}

} // namespace

const char* RequestName(LPARAM request) {
    switch (request) {
    case player::IpcGetVersion:
        return "version";
    case player::IpcSetVolume:
        return "volume";
    case player::IpcSetPan:
        return "pan";
    case player::IpcRestart:
        return "restart";
    case player::IpcGetWindow:
        return "window";
    case player::IpcGetIniFile:
        return "settings-file";
    case player::IpcGetPluginDir:
        return "plugin-folder";
    case player::IpcIsPlaybackContinuing:
        return "playback-continues";
    case player::IpcGetOutputPlugin:
        return "output-plugin";
    case player::IpcWriteConfig:
        return "write-settings";
    default:
        return "unknown";
    }
}

PlayerWindow::PlayerWindow(HINSTANCE instance, PlayerAnswers& answers, bool playerWindows)
    : answers_(answers), mainClass_(MainClassName, Procedure, instance),
      equalizerClass_(EqualizerClassName, DefWindowProcA, instance),
      playlistClass_(PlaylistClassName, DefWindowProcA, instance) {
    window_ = WindowHandle(CreateHidden(mainClass_, instance, this));
    if (playerWindows) {
        equalizer_ = WindowHandle(CreateHidden(equalizerClass_, instance, nullptr));
        playlist_ = WindowHandle(CreateHidden(playlistClass_, instance, nullptr));
    }
}

LRESULT CALLBACK PlayerWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<PlayerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == player::RequestMessage && self != nullptr)
        return self->Answer(wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT PlayerWindow::Answer(WPARAM wParam, LPARAM request) {
    LRESULT result = 0;
    switch (request) {
    case player::IpcGetVersion:
        result = PlayerVersion;
        break;
    case player::IpcSetVolume:
        result = answers_.volume.load();
        break;
    case player::IpcSetPan:
        result = answers_.pan.load();
        break;
    case player::IpcRestart:
        ++answers_.restartRequests;
        break;
    case player::IpcGetWindow:
        result = WindowAnswer(wParam);
        break;
    case player::IpcGetIniFile:
        result = TextAnswer(answers_.settingsFile);
        break;
    case player::IpcGetPluginDir:
        result = TextAnswer(answers_.pluginFolder);
        break;
    case player::IpcIsPlaybackContinuing:
        result = answers_.playbackContinues.load() ? 1 : 0;
        break;
    case player::IpcGetOutputPlugin:
        result = TextAnswer(answers_.outputPluginName);
        break;
    case player::IpcWriteConfig:
        WriteSettings();
        break;
    default:
        break;
    }
    if (answers_.traceRequests) {
        std::fprintf(stderr, "request %ld %s wparam=%ld -> %lld\n", static_cast<long>(request),
                     RequestName(request), static_cast<long>(wParam),
                     static_cast<long long>(result));
        std::fflush(stderr);
    }
    return result;
}

// An empty text is "not available", which the player answers with 1.
LRESULT PlayerWindow::TextAnswer(const std::string& text) const {
    return text.empty() ? 1 : reinterpret_cast<LRESULT>(text.c_str());
}

LRESULT PlayerWindow::WindowAnswer(WPARAM which) const {
    if (which == 0)
        return reinterpret_cast<LRESULT>(equalizer_.Get());
    if (which == 1)
        return reinterpret_cast<LRESULT>(playlist_.Get());
    return 0;
}

// Only the entry that names the output plug-in matters to anyone reading it.
void PlayerWindow::WriteSettings() const {
    WritePrivateProfileStringA("Winamp", "outname", answers_.outputPluginName.c_str(),
                               answers_.settingsFile.c_str());
}

} // namespace standin
