// The plug-ins as the player holds them: a loaded library, the record its
// export returns, and a session that pairs Init with Quit.
//
// Init and Quit run on the thread that creates and destroys the session; the
// player makes both calls from its window thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Handles.h"

namespace standin {

// Full path of a loaded module, or "" when Windows cannot tell.
std::string ModulePath(HMODULE module);

class OutputPlugin {
public:
    // Throws std::runtime_error when the library or its export is missing.
    explicit OutputPlugin(const std::string& path);

    Out_Module& Module() const { return *module_; }
    HMODULE Instance() const { return library_.Get(); }

private:
    LibraryHandle library_;
    Out_Module* module_ = nullptr;
};

// Fills the record's player fields and calls Init; Quit when it goes.
class OutputSession {
public:
    OutputSession(const OutputPlugin& plugin, HWND mainWindow);
    OutputSession(const OutputSession&) = delete;
    OutputSession& operator=(const OutputSession&) = delete;
    ~OutputSession();

private:
    Out_Module& module_;
};

// A DSP plug-in, loaded, its module initialised; Quit when it goes.
class DspPlugin {
public:
    // Returns null (and says why in `reason`) when the library, its export or
    // its first module is missing: the player then plays without a DSP.
    static std::unique_ptr<DspPlugin> Load(const std::string& path, HWND mainWindow,
                                           std::string& reason);
    // Takes over an initialised module, and what its Init answered.
    DspPlugin(LibraryHandle library, winampDSPModule& module, int initResult = 0);
    DspPlugin(const DspPlugin&) = delete;
    DspPlugin& operator=(const DspPlugin&) = delete;
    ~DspPlugin();

    winampDSPModule& Module() const { return *module_; }
    const char* Description() const;
    int InitResult() const { return initResult_; }

private:
    LibraryHandle library_;
    winampDSPModule* module_;
    int initResult_;
};

} // namespace standin
