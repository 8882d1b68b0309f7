// The player's main window as the soak needs it: a hidden top-level window on
// the thread that made it (the player's window thread), answering the requests
// the output module makes. Settings go to a folder of this process's own, so
// that soak processes running side by side never share a settings file.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

class TSoakPlayerWindow {
public:
    TSoakPlayerWindow();
    ~TSoakPlayerWindow();
    TSoakPlayerWindow(const TSoakPlayerWindow&) = delete;
    TSoakPlayerWindow& operator=(const TSoakPlayerWindow&) = delete;

    HWND Window() const { return Handle.get(); }
    // The answer to "is playback continuing" for the next Close: a track
    // change when true, a stop when false.
    void SetContinuing(bool continuing) { Continuing = continuing; }

private:
    struct TWindowDestroyer {
        void operator()(HWND window) const { DestroyWindow(window); }
    };
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnRequest(LPARAM request) const;

    std::string SettingsFolder; // ends in "\"
    std::string IniFile;
    std::string PluginFolder;
    std::string PluginFile;
    std::atomic<bool> Continuing{true};
    std::unique_ptr<std::remove_pointer_t<HWND>, TWindowDestroyer> Handle;
};

// Waits up to ms for event (just ms when it is null) while answering what is
// sent or posted to this thread's windows, as the player's window thread
// does between its own calls. True when the event was set.
bool PumpMessages(DWORD ms, HANDLE event = nullptr);
