// The output library's handle on the player: its main window and the
// questions the library asks it by request messages.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <cstdint>
#include <string>

#include "host/PlayerInterface.h"

class TWinAmpAPIMan {
public:
    // Raises EQvError when the record or its main window is unusable.
    explicit TWinAmpAPIMan(Out_Module* module);

    std::string GetSettingsFolder() const;
    std::string GetPluginFolder() const;
    bool IsStopping() const;
    std::string GetOutputPluginFileName() const;

    Out_Module* Module = nullptr;
    HWND MainWindow = nullptr;
    HWND EqualizerWindow = nullptr;
    HWND PlaylistWindow = nullptr;
    HWND ThirdWindow = nullptr;
    uint8_t PlayerVersionMajor = 0;
    uint8_t PlayerVersionMinor = 0;
    uint16_t PlayerVersion = 0;
};
