#include "dspproxy/Dspmainunit.h"

#include <float.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "dspproxy/ExceptionGuard.h"
#include "dspproxy/RemovalEntry.h"
#include "dspproxy/RestartRequest.h"
#include "host/OwnUnwinder.h"

// The player reads the proxy's records with the 32-bit layout.
#if defined(__i386__)
static_assert(sizeof(winampDSPHeader) == 16);
static_assert(sizeof(winampDSPModule) == 32);
#endif

namespace qv::proxy {
namespace {

constexpr char OutputLibraryName[] = "out_qvquellspring.dll";
// The player may keep these pointers; they live as long as the library.
char HeaderDescription[] = "Quovant Quellspring Detector DSP v1.0";
char ModuleDescription[] = "Quovant Quellspring Detector DSP v1.0";

HINSTANCE OwnInstance = nullptr;
HMODULE OutputLibrary = nullptr;
QuellspringDSPGetHeaderType GetOutputHeader = nullptr;
InterComsType RegisterInterCom = nullptr;
// Read by the forwarders on the decoding thread while the window thread or
// the output library's unload may change them.
std::atomic<HWND> PlayerWindow = nullptr;
std::atomic<winampDSPHeader*> OutputHeader = nullptr;
std::atomic<winampDSPModule*> OutputModule = nullptr;
bool RemovalRequested = false;
TRestartRequest Restarts;
// Counts the output library's reports that its output module is not
// initialised; a forwarded call that adds none found it initialised.
std::atomic<unsigned> NotInitialisedReports = 0;
std::unique_ptr<winampDSPHeader> ProxyHeader;
std::unique_ptr<winampDSPModule> ProxyModule;

template <class F> F Export(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::optional<std::string> OwnFileName() {
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(OwnInstance, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return std::string(name, length);
}

std::string OutputLibraryPath(const std::string& ownPath) {
    const size_t slash = ownPath.find_last_of('\\');
    return (slash == std::string::npos ? std::string() : ownPath.substr(0, slash + 1)) +
           OutputLibraryName;
}

bool ValidPlayerWindow() {
    const HWND window = PlayerWindow.load();
    return window != nullptr && IsWindow(window);
}

void PostRestartRequest() {
    PostMessageA(PlayerWindow.load(), player::RequestMessage, 0, player::IpcRestart);
}

// The player's answer to 334, or "" when it gives none: 0 and 1 are no
// addresses.
std::string PlayerSettingsFile() {
    const LRESULT answer =
        SendMessageA(PlayerWindow.load(), player::RequestMessage, 0, player::IpcGetIniFile);
    if (answer == 0 || answer == 1)
        return {};
    const char* const text = reinterpret_cast<const char*>(answer);
    return std::string(text, strnlen(text, 32767));
}

// Once per load, on the window thread: the player's answer comes by a sent
// request, which the decoding thread must never make.
void LearnPlayerSettingsFile() {
    if (ValidPlayerWindow() && !Restarts.KnowsSettingsFile())
        Restarts.KnowSettingsFile(PlayerSettingsFile());
}

// True when the entry is in the player's settings file and a restart is due.
bool AddRemovalEntry() {
    const std::optional<std::string> ownPath = OwnFileName();
    if (!ownPath)
        return false;
    SendMessageA(PlayerWindow.load(), player::RequestMessage, 2, player::IpcWriteConfig);
    return Restarts.ForRemoval(*ownPath);
}

// One attempt per load, whatever its outcome: a file that cannot take the
// entry gets no restart, which would only bring the proxy back unchanged.
void RequestSelfRemoval() {
    if (RemovalRequested || !ValidPlayerWindow())
        return;
    RemovalRequested = true;
    LearnPlayerSettingsFile();
    if (AddRemovalEntry())
        PostRestartRequest();
}

// Around a forwarded Init or ModifySamples: when the output library did not
// report its output module as not initialised during the call, it is.
class OutputStateWatch {
public:
    OutputStateWatch() = default;
    OutputStateWatch(const OutputStateWatch&) = delete;
    OutputStateWatch& operator=(const OutputStateWatch&) = delete;
    ~OutputStateWatch() {
        if (NotInitialisedReports.load() == reports_)
            Restarts.OutputInitialised();
    }

private:
    const unsigned reports_ = NotInitialisedReports.load();
};

// The forwarders. The module the player passes is the proxy's own; the
// output library's module goes in its place.
void QV_CDECL ConfigForwarder(winampDSPModule*) {
    winampDSPModule* const target = OutputModule.load();
    if (target == nullptr)
        return;
    auto call = [target] { target->Config(target); };
    CallGuarded(call);
}

int QV_CDECL InitForwarder(winampDSPModule*) {
    winampDSPModule* const target = OutputModule.load();
    if (target == nullptr)
        return -1;
    const OutputStateWatch watch;
    int result = -1;
    auto call = [target, &result] { result = target->Init(target); };
    return CallGuarded(call) ? result : -1;
}

int QV_CDECL ModifySamplesForwarder(winampDSPModule*, short* samples, int sampleCount, int bits,
                                    int channels, int rate) {
    winampDSPModule* const target = OutputModule.load();
    if (target == nullptr)
        return sampleCount;
    const OutputStateWatch watch;
    int result = sampleCount;
    auto call = [&] {
        result = target->ModifySamples(target, samples, sampleCount, bits, channels, rate);
    };
    return CallGuarded(call) ? result : sampleCount;
}

void QV_CDECL QuitForwarder(winampDSPModule*) {
    winampDSPModule* const target = OutputModule.load();
    if (target == nullptr)
        return;
    auto call = [target] { target->Quit(target); };
    CallGuarded(call);
}

int QV_CDECL FourthEntryForwarder(int key) {
    winampDSPHeader* const target = OutputHeader.load();
    if (target == nullptr)
        return 0;
    int result = 0;
    auto call = [target, key, &result] { result = target->sf(key); };
    return CallGuarded(call) ? result : 0;
}

// Also writes the player's window and the library into the output module,
// which the library's detector DSP does not fill in itself.
winampDSPModule* QV_CDECL GetProxyModule(int index) {
    if (index != 0)
        return nullptr;
    winampDSPModule* const target = OutputModule.load();
    if (target != nullptr) {
        auto fill = [target] {
            target->hwndParent = PlayerWindow.load();
            target->hDllInstance = OutputLibrary;
        };
        CallGuarded(fill);
    }
    return ProxyModule.get();
}

void BuildRecords() {
    ProxyModule = std::make_unique<winampDSPModule>();
    ProxyModule->description = ModuleDescription;
    ProxyModule->hDllInstance = OwnInstance;
    ProxyModule->Config = ConfigForwarder;
    ProxyModule->Init = InitForwarder;
    ProxyModule->ModifySamples = ModifySamplesForwarder;
    ProxyModule->Quit = QuitForwarder;
    ProxyHeader = std::make_unique<winampDSPHeader>();
    ProxyHeader->version = player::DspHeaderVersion;
    ProxyHeader->description = HeaderDescription;
    ProxyHeader->getModule = GetProxyModule;
    ProxyHeader->sf = FourthEntryForwarder;
}

// Takes the output library's header and module for the proxy's records.
// Anything missing (a null header or module, a fault on the way) leaves the
// proxy unbound for this call, as a missing export would.
void TakeOutputRecords() {
    winampDSPHeader* header = nullptr;
    winampDSPModule* module = nullptr;
    auto fetch = [&] {
        header = GetOutputHeader();
        module = header != nullptr && header->getModule != nullptr ? header->getModule(0) : nullptr;
    };
    if (!CallGuarded(fetch) || header == nullptr || module == nullptr || !ProxyHeader ||
        !ProxyModule) {
        OutputModule = nullptr;
        OutputHeader = nullptr;
        return;
    }
    auto copy = [&] {
        ProxyHeader->description = header->description;
        ProxyHeader->version = header->version;
        ProxyModule->description = module->description;
        module->hwndParent = ProxyModule->hwndParent;
        module->hDllInstance = OutputLibrary;
    };
    CallGuarded(copy);
    OutputHeader = header;
    OutputModule = module;
}

// The variable is cleared before the release: the library's unload calls
// ProxyInterCom(0) from inside FreeLibrary, which must not release it twice.
void ReleaseOutputLibrary() {
    const HMODULE library = std::exchange(OutputLibrary, nullptr);
    if (library != nullptr)
        FreeLibrary(library);
}

// True while the module holding this address is still loaded.
bool StillLoaded(const void* address) {
    HMODULE holder = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &holder) != 0;
}

} // namespace

void BindOutputLibrary(HINSTANCE ownInstance) {
    OwnInstance = ownInstance;
    const std::optional<std::string> ownPath = OwnFileName();
    if (!ownPath)
        return;
    OutputLibrary = LoadLibraryA(OutputLibraryPath(*ownPath).c_str());
    if (OutputLibrary == nullptr) {
        RequestSelfRemoval();
    } else {
        GetOutputHeader =
            Export<QuellspringDSPGetHeaderType>(OutputLibrary, "QuellspringwinampDSPGetHeader2");
        if (GetOutputHeader == nullptr)
            RequestSelfRemoval();
        RegisterInterCom = Export<InterComsType>(OutputLibrary, "_InterComs");
        if (RegisterInterCom != nullptr) {
            auto call = [] { RegisterInterCom(ProxyInterCom); };
            CallGuarded(call);
        } else {
            RequestSelfRemoval();
        }
        if (GetOutputHeader == nullptr && RegisterInterCom == nullptr)
            ReleaseOutputLibrary();
    }
    BuildRecords();
}

void UnbindOutputLibrary() {
    ProxyModule.reset();
    ProxyHeader.reset();
    GetOutputHeader = nullptr;
    OutputModule = nullptr;
    OutputHeader = nullptr;
    // After ProxyInterCom(0) the library may be gone, and its function with it.
    if (RegisterInterCom != nullptr &&
        StillLoaded(reinterpret_cast<const void*>(RegisterInterCom))) {
        auto call = [] { RegisterInterCom(nullptr); };
        CallGuarded(call);
    }
    RegisterInterCom = nullptr;
    ReleaseOutputLibrary();
}

int QV_CDECL ProxyInterCom(int value) {
    try {
        if (value == 0) {
            OutputModule = nullptr;
            OutputHeader = nullptr;
            GetOutputHeader = nullptr;
            // The player may read the descriptions at any time; the output
            // library's go with it.
            if (ProxyHeader)
                ProxyHeader->description = HeaderDescription;
            if (ProxyModule)
                ProxyModule->description = ModuleDescription;
            ReleaseOutputLibrary();
            return 0;
        }
        if (value == 1) {
            NotInitialisedReports.fetch_add(1);
            if (ValidPlayerWindow() && Restarts.ForOutputNotInitialised())
                PostRestartRequest();
        }
    } catch (...) {
    }
    return -1;
}

} // namespace qv::proxy

using namespace qv::proxy;

extern "C" {

winampDSPHeader* QV_CDECL winampDSPGetHeader2(HWND playerWindow) {
    try {
        PlayerWindow = playerWindow;
        LearnPlayerSettingsFile();
        if (GetOutputHeader == nullptr) {
            RequestSelfRemoval();
            return ProxyHeader.get();
        }
        TakeOutputRecords();
        return ProxyHeader.get();
    } catch (...) {
        return ProxyHeader.get();
    }
}

int QV_CDECL winampUninstallPlugin(HINSTANCE, HWND, int) {
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        qv::TakeOwnUnwindTables(instance); // before anything here may throw
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            _control87(_MCW_EM, _MCW_EM);
            DisableThreadLibraryCalls(instance);
            BindOutputLibrary(instance);
        } else if (reason == DLL_PROCESS_DETACH) {
            UnbindOutputLibrary();
        }
    } catch (...) {
    }
    return TRUE;
}

} // extern "C"
