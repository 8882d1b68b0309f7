#include "tools/standin_player/InputPlugins.h"

#include <cstring>
#include <vector>

#include "tools/standin_player/Plugins.h"

namespace standin {
namespace {

constexpr int VersionMask = ~player::InModuleUnicode;
constexpr int NewestVersion = 0x1FF;

std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(length) - 1);
    return narrow;
}

// The text after the last dot of the file name part, or "".
std::string ExtensionOf(const std::string& name) {
    const auto dot = name.find_last_of('.');
    const auto slash = name.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && slash > dot))
        return std::string();
    return name.substr(dot + 1);
}

// The plug-in's own folder is searched first for the libraries it needs, as
// beside the player's plug-ins; that search wants a full path.
LibraryHandle LoadByFullPath(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    const bool expanded = length > 0 && length < MAX_PATH;
    return LibraryHandle(LoadLibraryExA(expanded ? full : path.c_str(), nullptr,
                                        expanded ? LOAD_WITH_ALTERED_SEARCH_PATH : 0));
}

} // namespace

std::unique_ptr<InputPlugin> InputPlugin::Load(const std::string& path, std::string& reason) {
    LibraryHandle library = LoadByFullPath(path);
    if (!library) {
        reason = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    const auto getModule = reinterpret_cast<winampGetInModule2Type>(
        reinterpret_cast<void*>(GetProcAddress(library.Get(), "winampGetInModule2")));
    if (getModule == nullptr) {
        reason = path + " has no export winampGetInModule2";
        return nullptr;
    }
    In_Module* const module = getModule();
    if (module == nullptr) {
        reason = path + ": winampGetInModule2 returned no record";
        return nullptr;
    }
    const int version = module->version & VersionMask;
    if (version < player::InModuleVersion || version > NewestVersion) {
        reason = path + ": unknown record version " + std::to_string(module->version);
        return nullptr;
    }
    return std::make_unique<InputPlugin>(std::move(library), *module);
}

InputPlugin::InputPlugin(LibraryHandle library, In_Module& module)
    : library_(std::move(library)), module_(&module) {}

InputPlugin::~InputPlugin() {
    if (started_)
        module_->Quit();
}

void InputPlugin::Start(HWND mainWindow, const In_Module& player) {
    In_Module& module = *module_;
    module.hMainWindow = mainWindow;
    module.hDllInstance = library_.Get();
    module.SAVSAInit = player.SAVSAInit;
    module.SAVSADeInit = player.SAVSADeInit;
    module.SAAddPCMData = player.SAAddPCMData;
    module.SAGetMode = player.SAGetMode;
    module.SAAdd = player.SAAdd;
    module.VSAAddPCMData = player.VSAAddPCMData;
    module.VSAGetMode = player.VSAGetMode;
    module.VSAAdd = player.VSAAdd;
    module.VSASetInfo = player.VSASetInfo;
    module.dsp_isactive = player.dsp_isactive;
    module.dsp_dosamples = player.dsp_dosamples;
    module.SetInfo = player.SetInfo;
    module.outMod = player.outMod;
    module.Init();
    started_ = true;
}

std::string InputPlugin::FileName() const {
    const std::string path = ModulePath(library_.Get());
    return path.substr(path.find_last_of("\\/") + 1);
}

const char* InputPlugin::Description() const {
    return module_->description != nullptr ? module_->description : "";
}

bool InputPlugin::Accepts(const std::string& name) const {
    const int ours =
        Unicode() ? Wide().IsOurFile(Widen(name).c_str()) : module_->IsOurFile(name.c_str());
    return ours != 0 || ExtensionListed(name);
}

// The list holds pairs of texts, "EXT;EXT" and a description, and ends with
// an empty text.
bool InputPlugin::ExtensionListed(const std::string& name) const {
    const std::string extension = ExtensionOf(name);
    const char* entry = module_->FileExtensions;
    if (extension.empty() || entry == nullptr)
        return false;
    while (*entry != '\0') {
        std::string list(entry);
        list += ';';
        for (std::size_t start = 0, end; (end = list.find(';', start)) != std::string::npos;
             start = end + 1) {
            if (lstrcmpiA(list.substr(start, end - start).c_str(), extension.c_str()) == 0)
                return true;
        }
        entry += std::strlen(entry) + 1;
        if (*entry == '\0')
            break;
        entry += std::strlen(entry) + 1; // the description
    }
    return false;
}

int InputPlugin::Play(const std::string& name) const {
    return Unicode() ? Wide().Play(Widen(name).c_str()) : module_->Play(name.c_str());
}

std::string InputPlugin::Title(const std::string& name, int& lengthMs) const {
    lengthMs = -1;
    if (Unicode()) {
        std::vector<wchar_t> title(player::FileInfoTitleLength + 1, L'\0');
        Wide().GetFileInfo(Widen(name).c_str(), title.data(), &lengthMs);
        title.back() = L'\0';
        return Narrow(title.data());
    }
    std::vector<char> title(player::FileInfoTitleLength + 1, '\0');
    module_->GetFileInfo(name.c_str(), title.data(), &lengthMs);
    title.back() = '\0';
    return title.data();
}

} // namespace standin
