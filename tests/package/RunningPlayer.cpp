// A player that is running when the installer or the uninstaller starts: a
// window of the player's class that, asked to close, ends a moment later, as
// the player does once it has saved its settings and playlists. At its end it
// reports which files its Plugins folder held, so that a test can tell
// whether anything was copied or deleted there while it still ran.
//
// usage: running_player.exe PLAYER_FOLDER
// prints "ready" once its window exists; at its end "plugins at exit:" with
// the sorted file names, then "closed".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr char PlayerClassName[] = "Winamp v1.x";
// Long enough that an installer which does not wait for the player's end
// would be copying while the player still holds its plug-ins.
constexpr UINT ExitDelayMs = 1500;
constexpr UINT_PTR ExitTimerId = 1;

LRESULT CALLBACK PlayerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        SetTimer(window, ExitTimerId, ExitDelayMs, nullptr);
        return 0;
    case WM_TIMER:
        KillTimer(window, ExitTimerId);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

class PlayerWindow {
public:
    explicit PlayerWindow(HINSTANCE instance) : instance_(instance) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = PlayerProcedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = PlayerClassName;
        if (RegisterClassA(&windowClass) == 0)
            return;
        registered_ = true;
        window_ = CreateWindowExA(0, PlayerClassName, "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 275, 116,
                                  nullptr, nullptr, instance, nullptr);
    }
    ~PlayerWindow() {
        if (window_ != nullptr && IsWindow(window_))
            DestroyWindow(window_);
        if (registered_)
            UnregisterClassA(PlayerClassName, instance_);
    }
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    bool Exists() const { return window_ != nullptr; }

private:
    HINSTANCE instance_;
    bool registered_ = false;
    HWND window_ = nullptr;
};

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

int Run(const std::string& playerFolder) {
    {
        const PlayerWindow window(GetModuleHandleA(nullptr));
        if (!window.Exists()) {
            std::fprintf(stderr, "running_player: cannot create the player window\n");
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    std::printf("plugins at exit:");
    for (const std::string& name : FilesIn(playerFolder + "\\Plugins"))
        std::printf(" %s", name.c_str());
    std::printf("\nclosed\n");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: running_player PLAYER_FOLDER\n");
        return 2;
    }
    try {
        return Run(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "running_player: %s\n", error.what());
        return 1;
    }
}
