// The player's main window: the plug-ins reach the player only through
// requests sent to it (message WM_USER, request number in lParam), and this
// window answers them as the player does.
//
// How it works: the window lives on the main thread, which also calls the
// output plug-in's Init and Quit. The decoding thread's Close asks request 400
// (and the plug-in may ask 625) with SendMessage, so the main thread must keep
// pumping messages for as long as the decoding thread plays. Answers that
// point to text hand out the address of a string held here for the life of
// the program, as the player hands out its own static buffers.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "tools/standin_player/Handles.h"

namespace standin {

// What the window answers; the texts are set before the plug-in is loaded
// and not changed while it runs.
struct PlayerAnswers {
    std::string settingsFile;     // request 334
    std::string pluginFolder;     // request 336
    std::string outputPluginName; // request 625
    std::atomic<int> volume{255}; // request 122
    std::atomic<int> pan{0};      // request 123
    // Request 400: set by the decoding thread before each Close.
    std::atomic<bool> playbackContinues{false};
    std::atomic<int> restartRequests{0}; // request 135, posted
    bool traceRequests = false;
};

// A short name for each request, for traces.
const char* RequestName(LPARAM request);

class PlayerWindow {
public:
    static constexpr int PlayerVersion = 0x5066;

    // With `playerWindows`, hidden equalizer and playlist windows of the
    // player's class names exist and request 260 answers them.
    PlayerWindow(HINSTANCE instance, PlayerAnswers& answers, bool playerWindows);
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    HWND Handle() const { return window_.Get(); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Answer(WPARAM wParam, LPARAM request);
    LRESULT TextAnswer(const std::string& text) const;
    LRESULT WindowAnswer(WPARAM which) const;
    void WriteSettings() const;

    PlayerAnswers& answers_;
    WindowClass mainClass_;
    WindowClass equalizerClass_;
    WindowClass playlistClass_;
    WindowHandle window_;
    WindowHandle equalizer_;
    WindowHandle playlist_;
};

} // namespace standin
