// Placeholder until the host window manager lands.
#include "host/WinAmpAPIUnit.h"

#include "host/Errors.h"

TWinAmpAPIMan::TWinAmpAPIMan(Out_Module* module) : Module(module) {
    if (module == nullptr || module->hMainWindow == nullptr)
        throw EQvError("NULL Winamp Main HWND Var.");
    MainWindow = module->hMainWindow;
}
std::string TWinAmpAPIMan::GetSettingsFolder() const { return {}; }
std::string TWinAmpAPIMan::GetPluginFolder() const { return {}; }
bool TWinAmpAPIMan::IsStopping() const {
    return SendMessageA(MainWindow, player::RequestMessage, 0, player::IpcIsPlaybackContinuing) == 0;
}
std::string TWinAmpAPIMan::GetOutputPluginFileName() const { return {}; }
