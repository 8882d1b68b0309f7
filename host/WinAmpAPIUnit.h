// The output library's handle on the player: its main window and the
// questions the library asks it by request messages.
//
// How it works. Init creates the one manager from the output module record
// before anything else; construction checks the record and the player's main
// window, then looks up the player's other windows and version once. Each
// query is one synchronous request (SendMessageA) to the main window, so a
// query from the decoding thread waits for the player's window thread. Texts
// behind an answer belong to the player and are copied at once.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <cstdint>
#include <string>

#include "host/PlayerInterface.h"

class TWinAmpAPIMan {
public:
    // Raises EQvError when the record or its main window is unusable. A null
    // record is also shown in a message box first (the player would otherwise
    // have no sign of it).
    explicit TWinAmpAPIMan(Out_Module* module);
    TWinAmpAPIMan(const TWinAmpAPIMan&) = delete;
    TWinAmpAPIMan& operator=(const TWinAmpAPIMan&) = delete;

    // The folder of the player's own settings file, ending in "\" ("" when
    // the player does not say).
    std::string GetSettingsFolder() const;
    // The player's plug-in folder as it answers it, or "".
    std::string GetPluginFolder() const;
    // True when the output is closed because playback stops, not between tracks.
    bool IsStopping() const;
    // The file name of the player's current output plug-in, or "".
    std::string GetOutputPluginFileName() const;

    Out_Module* Module = nullptr;
    HWND MainWindow = nullptr;
    HWND EqualizerWindow = nullptr;
    HWND PlaylistWindow = nullptr;
    HWND ThirdWindow = nullptr;
    uint8_t PlayerVersionMajor = 0;
    uint8_t PlayerVersionMinor = 0;
    uint16_t PlayerVersion = 0;

private:
    LRESULT Request(LPARAM request, WPARAM argument = 0) const;
    // The text at the address the player answered; "" for the answers that
    // are no address (0, and 1 which the player gives for "none").
    std::string TextAnswer(LPARAM request) const;
    HWND PlayerWindow(WPARAM which, const wchar_t* fallbackClass) const;
    void FindPlayerWindows();
    void ReadPlayerVersion();
};

// The one manager, from Init to Quit (defined with the core's variables).
extern "C" {
extern TWinAmpAPIMan* WinAmpAPIMan;
}
