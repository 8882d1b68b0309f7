#include "tools/standin_player/WindowActions.h"

#include <cstdio>

namespace standin {
namespace {

// Window classes of the output plug-in, as a user's tools would find them.
constexpr char AboutClass[] = "QVQuellspringAboutForm";
constexpr char ConfigClass[] = "QVQuellspringConfigForm";
constexpr char StatusBoxClass[] = "QVQuellspringScrollablePaintBox";

HWND FindChildOfClass(HWND parent, const char* className) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpA(name, className) == 0)
            return child;
        if (const HWND inner = FindChildOfClass(child, className))
            return inner;
    }
    return nullptr;
}

void ScrollStatusToEnd() {
    const HWND config = FindWindowA(ConfigClass, nullptr);
    const HWND box = config != nullptr ? FindChildOfClass(config, StatusBoxClass) : nullptr;
    if (box == nullptr)
        return;
    SendMessageA(box, WM_HSCROLL, SB_RIGHT, 0);
    SendMessageA(box, WM_VSCROLL, SB_BOTTOM, 0);
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Arrow keys in the box's edit part, as a user steps through the list.
void ChooseDevice(const std::string& name, Console& console) {
    const HWND config = FindWindowA(ConfigClass, nullptr);
    const HWND combo = config != nullptr ? FindChildOfClass(config, "ComboBox") : nullptr;
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (combo == nullptr || !GetComboBoxInfo(combo, &info)) {
        console.Note("config-device: no device box");
        return;
    }
    for (const WPARAM key : {VK_DOWN, VK_UP}) {
        for (int i = 0; i < 64 && TextOf(combo) != name; ++i) {
            SendMessageA(info.hwndItem, WM_KEYDOWN, key, 1);
            SendMessageA(info.hwndItem, WM_KEYUP, key, LPARAM(0xC0000001));
        }
    }
    console.Note("config-device: \"" + TextOf(combo) + "\"");
}

// Runs inside the about box's own message loop, which dispatches the timer.
void CALLBACK PressEnterInAbout(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    const HWND about = FindWindowA(AboutClass, nullptr);
    if (about == nullptr)
        return;
    PostMessageA(about, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(about, WM_CHAR, '\r', 1);
    PostMessageA(about, WM_KEYUP, VK_RETURN, 0xC0000001);
}

} // namespace

void AddWindowActions(UserActions& actions, const PlayerOptions& options, Out_Module& output,
                      HWND mainWindow, Console& console) {
    if (options.configAt.Wanted())
        actions.Add(options.configAt.atMs, "config",
                    [&output, mainWindow] { output.Config(mainWindow); });
    if (options.configScrollAt.Wanted())
        actions.Add(options.configScrollAt.atMs, "config-scroll", [] { ScrollStatusToEnd(); });
    if (options.configDeviceAt.Wanted()) {
        const std::string name = options.configDevice;
        actions.Add(options.configDeviceAt.atMs, "config-device",
                    [name, &console] { ChooseDevice(name, console); });
    }
    if (options.aboutAt.Wanted()) {
        const UINT closeMs = UINT(options.aboutCloseMs);
        actions.Add(options.aboutAt.atMs, "about", [&output, mainWindow, closeMs] {
            SetTimer(nullptr, 0, closeMs, PressEnterInAbout);
            // The action's own line comes only when the modal box has closed.
            std::printf("about: opening\n");
            std::fflush(stdout);
            output.About(mainWindow);
        });
    }
}

} // namespace standin
