// Input plug-ins as the player holds them: the library, the record its
// "winampGetInModule2" export returns, Init paired with Quit, and the calls
// that take a file name, made in the record's own flavour (ANSI or Unicode).
//
// All of it runs on the main thread, as the player calls its input plug-ins
// from its window thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tools/standin_player/Handles.h"
#include "tools/standin_player/InputModule.h"

namespace standin {

class InputPlugin {
public:
    // Returns null, and says why in `reason`, when the library, its export or
    // a record of a known version is missing.
    static std::unique_ptr<InputPlugin> Load(const std::string& path, std::string& reason);
    InputPlugin(LibraryHandle library, In_Module& module);
    InputPlugin(const InputPlugin&) = delete;
    InputPlugin& operator=(const InputPlugin&) = delete;
    // Quit, when Start ran.
    ~InputPlugin();

    // Fills the player's part of the record from `player` (callbacks and
    // output module), the window and the instance, and calls Init.
    void Start(HWND mainWindow, const In_Module& player);

    In_Module& Module() const { return *module_; }
    std::string FileName() const;
    const char* Description() const;
    bool Unicode() const { return (module_->version & player::InModuleUnicode) != 0; }

    // As the player chooses: IsOurFile first, then the extension list.
    bool Accepts(const std::string& name) const;
    int Play(const std::string& name) const;
    // The title GetFileInfo gives, and the length in ms (-1: unknown).
    std::string Title(const std::string& name, int& lengthMs) const;

private:
    bool ExtensionListed(const std::string& name) const;
    In_ModuleW& Wide() const { return *reinterpret_cast<In_ModuleW*>(module_); }

    LibraryHandle library_;
    In_Module* module_;
    bool started_ = false;
};

} // namespace standin
