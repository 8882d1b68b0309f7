#include "core/MainUnit.h"

#include <cstring>
#include <mutex>

#include "core/DetectorDsp.h"
#include "core/PlaybackClock.h"
#include "core/SampleHandOff.h"
#include "engine/Waveoutplaythreadunit.h"
#include "host/Configunit.h"
#include "host/Errors.h"
#include "host/FolderUtils.h"
#include "host/Versionreader.h"
#include "host/WinAmpAPIUnit.h"
#include "ui/Aboutformunit.h"
#include "ui/Configformunit.h"
#include "ui/StatusReadout.h"

namespace qv {
namespace {

char EmptyText[] = "";

char* DescriptionText(std::string& text) {
    return text.empty() ? EmptyText : text.data();
}

// Player record functions: each catches everything at the boundary.
void QV_CDECL ConfigHook(HWND) {
    Guarded([] { ShowConfigWindow(); });
}
void QV_CDECL AboutHook(HWND) {
    Guarded([] { ShowAboutWindow(); });
}
void QV_CDECL InitHook() {
    Init();
}
void QV_CDECL QuitHook() {
    Guarded([] { Quit(); });
}
int QV_CDECL OpenHook(int rate, int channels, int bits, int bufferMs, int preBufferMs) {
    return Guarded([&] { return Open(rate, channels, bits, bufferMs, preBufferMs); }, -1);
}
void QV_CDECL CloseHook() {
    Guarded([] { Close(); });
}
int QV_CDECL WriteHook(char* buffer, int length) {
    return Guarded([&] { return Write(buffer, length); }, 1);
}
int QV_CDECL CanWriteHook() {
    return Guarded([] { return CanWrite(); }, 0);
}
int QV_CDECL IsPlayingHook() {
    return Guarded([] { return IsPlaying(); }, 0);
}
int QV_CDECL PauseHook(int pause) {
    return Guarded([&] { return Pause(pause); }, 0);
}
void QV_CDECL SetVolumeHook(int volume) {
    Guarded([&] { SetVolume(volume); });
}
void QV_CDECL SetPanHook(int pan) {
    Guarded([&] { SetPan(pan); });
}
void QV_CDECL FlushHook(int timeMs) {
    Guarded([&] { Flush(timeMs); });
}
int QV_CDECL GetOutputTimeHook() {
    return Guarded([] { return GetOutputTime(); }, 0);
}
int QV_CDECL GetWrittenTimeHook() {
    return Guarded([] { return GetWrittenTime(); }, 0);
}

winampDSPModule* QV_CDECL GetModuleHook(int index) {
    return Guarded([&] { return GetDetectorModule(index); },
                   static_cast<winampDSPModule*>(nullptr));
}
int QV_CDECL DspFourthEntry(int) {
    return 32;
}

void FillRecords() {
    plugin.version = player::OutModuleVersion;
    plugin.description = DescriptionText(OutputDescription);
    plugin.id = player::OutModuleId;
    plugin.Config = ConfigHook;
    plugin.About = AboutHook;
    plugin.Init = InitHook;
    plugin.Quit = QuitHook;
    plugin.Open = OpenHook;
    plugin.Close = CloseHook;
    plugin.Write = WriteHook;
    plugin.CanWrite = CanWriteHook;
    plugin.IsPlaying = IsPlayingHook;
    plugin.Pause = PauseHook;
    plugin.SetVolume = SetVolumeHook;
    plugin.SetPan = SetPanHook;
    plugin.Flush = FlushHook;
    plugin.GetOutputTime = GetOutputTimeHook;
    plugin.GetWrittenTime = GetWrittenTimeHook;

    plugin2.version = player::DspHeaderVersion;
    plugin2.description = DescriptionText(DSPDescription);
    plugin2.getModule = GetModuleHook;
    plugin2.sf = DspFourthEntry;
}

std::string ModuleFileName(HINSTANCE instance) {
    char name[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(instance, name, MAX_PATH) == 0)
        return {};
    const std::string full = FullPathName(name);
    return full.empty() ? name : full;
}

// The settings hold the factors as the user typed them, read by the
// configuration window's rule; a text that is not one number leaves the
// factor unchanged.
void ConvertFactor(const std::string& text, double& factor) {
    double value = 0.0;
    if (TryTextToFloat(text, value))
        factor = SaneFudgeFactor(value); // the text stays as typed
}

TWaveOutApi* EngineWaveOut = nullptr;

void StartEngine() {
    TWaveOutApi& api = EngineWaveOut != nullptr ? *EngineWaveOut : WinmmWaveOut();
    TWaveOutPlayThread* const engine = CreateHeld(WaveOutPlayThread, api, false);
    engine->SetPriority(THREAD_PRIORITY_TIME_CRITICAL);
    // Past the bound Init fails; the engine stays, and a later Init or the
    // first block finds it idle if it ever gets there.
    const ULONGLONG started = GetTickCount64();
    while (engine->State != psIdle) {
        if (engine->State == psExit)
            throw EQvError("The output engine ended before it became ready.");
        if (GetTickCount64() - started > EngineReadyWaitMs)
            throw EQvError("The output engine did not become ready.");
        engine->WaitForStateChange(100);
    }
}

void ReadSettings() {
    std::string folder = WinAmpAPIMan->GetPluginFolder();
    if (!folder.empty() && !IsPathDelimiter(folder.back()))
        folder += '\\';
    Clock.PluginDir = folder;
    ConvertFactor(PluginConfig->PlaybackFudgeFactor, Clock.PlaybackFudgeFactor);
    ConvertFactor(PluginConfig->SongEndFudgeFactor, Clock.SongEndFudgeFactor);
    try {
        SetOutDevice(PluginConfig->OutDevice);
    } catch (...) {
    }
    SetDeviceInUse(GetWantedDevice());
}

std::mutex CoreCallLock;
int CoreCallsInFlight = 0;

void FireTimer(HANDLE timer) {
    LARGE_INTEGER past;
    past.QuadPart = 0;
    SetWaitableTimer(timer, &past, 0, nullptr, nullptr, TRUE);
}

// Waits until no call holds a TCoreCall, firing the timer all the while: a
// Write that armed it again after the first firing returns as well. False
// when the bound ran out with a call still inside.
bool WaitForCoreCalls(HANDLE timer) {
    std::unique_lock lock(CoreCallLock);
    const ULONGLONG started = GetTickCount64();
    while (CoreCallsInFlight != 0) {
        if (GetTickCount64() - started > CoreCallsWaitMs)
            return false;
        if (timer != nullptr)
            FireTimer(timer);
        // A call may be asking the player something (Open, Close): requests
        // sent to this thread are answered while waiting, or both would wait.
        lock.unlock();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        lock.lock();
    }
    return true;
}

HWND ApplicationWindow() {
    return WinAmpAPIMan != nullptr ? WinAmpAPIMan->MainWindow : nullptr;
}

// Ends the engine's thread and destroys the engine. When the thread does not
// end within the bound (a driver call that never returns), or a call may still
// be using the engine, the engine and its device are abandoned instead: freeing
// memory that another thread is still inside would be worse than the leak.
void StopEngine(TWaveOutPlayThread* engine, bool unused) {
    if (engine == nullptr)
        return;
    std::unique_ptr<TWaveOutPlayThread> owner(engine);
    owner->Quit();
    if (WaitForSingleObject(owner->Handle(), EngineExitWaitMs) != WAIT_OBJECT_0 || !unused)
        static_cast<void>(owner.release());
}

} // namespace

std::string OutputDescription = "Quovant Quellspring Output v0.0";
std::string DSPDescription = "Quovant Quellspring Output Detector DSP v0.0";
HINSTANCE LibraryInstance = nullptr;
std::string LastInitError;

void ShowConfigWindow() {
    if (WinAmpAPIMan == nullptr || PluginConfig == nullptr)
        return;
    if (ConfigForm != nullptr) {
        ConfigForm->BringToFront();
        return;
    }
    CreateHeld(ConfigForm, ApplicationWindow())->Show();
}

void ShowAboutWindow() {
    if (AboutForm != nullptr)
        return;
    // The window is owned here, not by the variable: uninstall may clear the
    // variable while the modal display runs.
    const auto owner = std::make_unique<TAboutForm>(ApplicationWindow());
    AboutForm = owner.get();
    owner->ShowAbout(false);
    AboutForm = nullptr;
}

void CloseAboutWindow() {
    if (AboutForm == nullptr)
        return;
    AboutForm->CloseWithResult(1);
    AboutForm = nullptr;
}

void ProcessAttach(HINSTANCE instance) {
    LibraryInstance = instance;
    const std::string name = ModuleFileName(instance);
    if (!name.empty()) {
        ThisLibraryFileName = name;
        ReadVersionInfo(VersionReader, ThisLibraryFileName.c_str(), &VersionReaderResult);
        if (VersionReaderResult.StringsValid) {
            OutputDescription = "Quovant Quellspring Output v" + VersionReaderResult.FileVersion;
            DSPDescription =
                "Quovant Quellspring Output Detector DSP v" + VersionReaderResult.FileVersion;
        }
    }
    FillRecords();
}

void ProcessDetach() {
    const TInterComProc callback = InterCom;
    if (callback != nullptr)
        callback(0);
}

void InitOrThrow() {
    // On the player's thread, before the engine thread can ask for a device
    // (whatever device binding the engine gets, the configuration window
    // lists winmm's devices).
    BuildWinmmDeviceList();
    if (WinAmpAPIMan == nullptr)
        CreateHeld(WinAmpAPIMan, &plugin);
    if (PluginConfig == nullptr)
        CreateHeld(PluginConfig);
    if (WaveOutPlayThread == nullptr)
        StartEngine();
    ReadSettings();
    // A repeated Init keeps the running timer: a second one would leak the
    // first, and a Write may be waiting on it.
    if (Clock.PaceTimer == nullptr)
        Clock.PaceTimer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    if (Clock.PaceTimer == nullptr)
        throw EQvError("Unable to create unnamed waitable timer event.");
    Clock.CoreInitialised = 1;
}

void SetEngineWaveOutForTest(TWaveOutApi* api) {
    EngineWaveOut = api;
}

void Init() {
    try {
        InitOrThrow();
        LastInitError.clear();
    } catch (const std::exception& error) {
        // The player's Init returns nothing: the failure stays visible to the
        // status read-out, and the core runs on without pacing.
        LastInitError = error.what();
        OutputDebugStringA(("Quellspring: Init failed: " + LastInitError + "\n").c_str());
    } catch (...) {
        LastInitError = "unknown failure";
    }
}

TCoreCall::TCoreCall() {
    const std::lock_guard lock(CoreCallLock);
    ++CoreCallsInFlight;
}

TCoreCall::~TCoreCall() {
    const std::lock_guard lock(CoreCallLock);
    --CoreCallsInFlight;
}

void Quit() {
    Clock.CoreInitialised = 0;
    // Both variables are cleared first, so that no call starting from here on
    // uses either; then the calls already inside are waited for. A timer that
    // a call may still be waiting on is left open rather than closed under it.
    HANDLE timer = nullptr;
    TWaveOutPlayThread* engine = nullptr;
    {
        const std::lock_guard lock(CoreCallLock);
        timer = Clock.PaceTimer;
        Clock.PaceTimer = nullptr;
        engine = WaveOutPlayThread;
        WaveOutPlayThread = nullptr;
    }
    bool unused = true;
    Guarded([&] { unused = WaitForCoreCalls(timer); });
    if (timer != nullptr && unused)
        CloseHandle(timer);
    Guarded([] { ForgetKeptBlocks(); });
    Guarded([] { DestroyHeld(ConfigForm); });
    Guarded([&] { StopEngine(engine, unused); });
    // The store saves as it goes; a refused save must not stop the rest.
    Guarded([] { DestroyHeld(PluginConfig); });
    Guarded([] { DestroyHeld(WinAmpAPIMan); });
}

} // namespace qv

extern "C" {

Out_Module plugin;
winampDSPHeader plugin2;
winampDSPModule DSPmodule0;
TInterComProc InterCom = nullptr;
TWinAmpAPIMan* WinAmpAPIMan = nullptr;
TPluginConfig* PluginConfig = nullptr;
TWaveOutPlayThread* WaveOutPlayThread = nullptr;
TConfigForm* ConfigForm = nullptr;
TAboutForm* AboutForm = nullptr;

Out_Module* QV_CDECL winampGetOutModule() {
    return &plugin;
}

winampDSPHeader* QV_CDECL QuellspringwinampDSPGetHeader2() {
    return &plugin2;
}

int QV_CDECL InterComs(TInterComProc callback) {
    InterCom = callback;
    return 0;
}

int QV_CDECL winampUninstallPlugin(HINSTANCE, HWND, int) {
    qv::Guarded([] { qv::CloseAboutWindow(); });
    qv::Guarded([] { qv::DestroyHeld(ConfigForm); });
    qv::Guarded([] {
        if (PluginConfig != nullptr)
            PluginConfig->Uninstall();
    });
    return 0;
}

} // extern "C"
