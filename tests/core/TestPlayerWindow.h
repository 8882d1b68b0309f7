// A player main window for the core's tests: it answers the player requests
// the output library sends, with answers each test chooses.
#pragma once

#include <string>

#include <windows.h>

namespace qvtest {

class TestPlayerWindow {
public:
    TestPlayerWindow();
    ~TestPlayerWindow();
    TestPlayerWindow(const TestPlayerWindow&) = delete;
    TestPlayerWindow& operator=(const TestPlayerWindow&) = delete;

    HWND Handle() const { return Window; }

    std::string SettingsFile;     // request 334
    std::string PluginFolder;     // request 336 ("" answers 1)
    std::string OutputPluginName; // request 625 ("" answers 1)
    int PlaybackContinues = 1;    // request 400
    int Volume = 200;             // request 122
    int Pan = 5;                  // request 123
    int VolumeRequests = 0;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Answer(WPARAM wParam, LPARAM request);

    HWND Window = nullptr;
};

// A fresh folder under the system's temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return Folder; } // ends in a backslash

private:
    std::string Folder;
};

} // namespace qvtest
