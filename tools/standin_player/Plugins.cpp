#include "tools/standin_player/Plugins.h"

#include <stdexcept>

namespace standin {
namespace {

std::string LastErrorText() {
    return "error " + std::to_string(GetLastError());
}

LibraryHandle LoadPluginLibrary(const std::string& path) {
    // The plug-in's own folder first, so that libraries beside it are found
    // as they are beside the player's plug-ins.
    return LibraryHandle(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

template <class F> F Export(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

} // namespace

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

OutputPlugin::OutputPlugin(const std::string& path) : library_(LoadPluginLibrary(path)) {
    if (!library_)
        throw std::runtime_error("cannot load the output plug-in " + path + " (" + LastErrorText() +
                                 ")");
    const auto getModule = Export<winampGetOutModuleType>(library_.Get(), "winampGetOutModule");
    if (getModule == nullptr)
        throw std::runtime_error(path + " has no export winampGetOutModule");
    module_ = getModule();
    if (module_ == nullptr)
        throw std::runtime_error(path + ": winampGetOutModule returned no record");
}

OutputSession::OutputSession(const OutputPlugin& plugin, HWND mainWindow)
    : module_(plugin.Module()) {
    module_.hMainWindow = mainWindow;
    module_.hDllInstance = plugin.Instance();
    module_.Init();
}

OutputSession::~OutputSession() {
    module_.Quit();
}

std::unique_ptr<DspPlugin> DspPlugin::Load(const std::string& path, HWND mainWindow,
                                           std::string& reason) {
    LibraryHandle library = LoadPluginLibrary(path);
    if (!library) {
        reason = "cannot load " + path + " (" + LastErrorText() + ")";
        return nullptr;
    }
    const auto getHeader = Export<winampDSPGetHeaderType>(library.Get(), "winampDSPGetHeader2");
    if (getHeader == nullptr) {
        reason = path + " has no export winampDSPGetHeader2";
        return nullptr;
    }
    winampDSPHeader* const header = getHeader(mainWindow);
    winampDSPModule* const module =
        header != nullptr && header->getModule != nullptr ? header->getModule(0) : nullptr;
    if (module == nullptr) {
        reason = path + " offers no DSP module";
        return nullptr;
    }
    module->hwndParent = mainWindow;
    module->hDllInstance = library.Get();
    const int initResult = module->Init(module);
    return std::make_unique<DspPlugin>(std::move(library), *module, initResult);
}

DspPlugin::DspPlugin(LibraryHandle library, winampDSPModule& module, int initResult)
    : library_(std::move(library)), module_(&module), initResult_(initResult) {}

DspPlugin::~DspPlugin() {
    module_->Quit(module_);
}

const char* DspPlugin::Description() const {
    return module_->description != nullptr ? module_->description : "";
}

} // namespace standin
