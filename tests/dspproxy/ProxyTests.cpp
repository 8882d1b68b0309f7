// The proxy library as the player loads it: beside the real output library,
// beside one whose DSP functions fault, and alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "dspproxy/RemovalEntry.h"
#include "host/PlayerInterface.h"
#include "tests/dspproxy/TestFolders.h"

namespace {

constexpr int SampleCount = 576;

// The player's main window as far as the proxy sees it: it counts restart
// requests and write-settings requests and answers 334 with a settings file.
class TestPlayerWindow {
public:
    TestPlayerWindow() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QvqProxyTestPlayer";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                  10, nullptr, nullptr, windowClass.hInstance, this);
    }
    TestPlayerWindow(const TestPlayerWindow&) = delete;
    TestPlayerWindow& operator=(const TestPlayerWindow&) = delete;
    ~TestPlayerWindow() { DestroyWindow(window_); }

    HWND Handle() const { return window_; }
    // Posted requests arrive only through the queue.
    int Restarts() {
        MSG message;
        while (PeekMessageA(&message, window_, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        return restarts_;
    }
    std::string settingsFile;
    int writeRequests = 0;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<TestPlayerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message != player::RequestMessage || self == nullptr)
            return DefWindowProcA(window, message, wParam, lParam);
        if (lParam == player::IpcRestart)
            ++self->restarts_;
        if (lParam == player::IpcWriteConfig && wParam == 2)
            ++self->writeRequests;
        if (lParam == player::IpcGetIniFile)
            return self->settingsFile.empty()
                       ? 1
                       : reinterpret_cast<LRESULT>(self->settingsFile.c_str());
        return 0;
    }

    HWND window_ = nullptr;
    int restarts_ = 0;
};

class Library {
public:
    explicit Library(const std::string& path) : handle_(LoadLibraryA(path.c_str())) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() { Unload(); }
    HMODULE Get() const { return handle_; }
    void Unload() {
        if (handle_ != nullptr)
            FreeLibrary(std::exchange(handle_, nullptr));
    }
    template <class F> F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
    }
    winampDSPHeader* Header(HWND window) const {
        return Export<winampDSPGetHeaderType>("winampDSPGetHeader2")(window);
    }

private:
    HMODULE handle_;
};

// The callback the proxy registered in an output library, through that
// library's exported variable.
TInterComProc* RegisteredInterCom(HMODULE output) {
    return reinterpret_cast<TInterComProc*>(
        reinterpret_cast<void*>(GetProcAddress(output, "_InterCom")));
}

// Whatever the output library does, the player sees these answers.
void ExpectUnboundAnswers(winampDSPHeader* header) {
    winampDSPModule* const module = header->getModule(0);
    ASSERT_NE(module, nullptr);
    short samples[SampleCount * 2] = {};
    EXPECT_EQ(module->Init(module), -1);
    EXPECT_EQ(module->ModifySamples(module, samples, SampleCount, 16, 2, 44100), SampleCount);
    EXPECT_EQ(header->sf(5), 0);
    module->Config(module);
    module->Quit(module);
}

const std::string ProxyBesideOutput = qvtest::ProgramFolder() + "\\..\\..\\dsp_qvquellspring.dll";
const std::string LoneProxy = qvtest::ProgramFolder() + "\\alone\\dsp_qvquellspring.dll";

// A player settings file of the running test's own, removed afterwards.
class PlayerSettings {
public:
    explicit PlayerSettings(const std::string& content) {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, temp);
        const testing::TestInfo* const test = testing::UnitTest::GetInstance()->current_test_info();
        path = std::string(temp) + "qvq-proxy-" + std::to_string(GetCurrentProcessId()) + "-" +
               test->name() + ".ini";
        for (char& c : path)
            if (c == '/')
                c = '_';
        EXPECT_TRUE(qv::ReplaceFileContent(path, content));
    }
    PlayerSettings(const PlayerSettings&) = delete;
    PlayerSettings& operator=(const PlayerSettings&) = delete;
    ~PlayerSettings() {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    std::string Content() const { return qv::ReadWholeFile(path).value_or("(none)"); }
    std::string path;
};

const std::string RestartMarkHeader = "[Quellspring Detector DSP]\r\nRestartRequestedFor=";

TEST(ProxyTest, ShowsTheOutputLibrarysDetectorAndForwardsToIt) {
    TestPlayerWindow player;
    const PlayerSettings settings("[Winamp]\r\na=1\r\n");
    player.settingsFile = settings.path;
    Library proxy(ProxyBesideOutput);
    ASSERT_NE(proxy.Get(), nullptr);
    winampDSPHeader* const header = proxy.Header(player.Handle());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->version, 0x20);
    EXPECT_EQ(
        std::string(header->description).rfind("Quovant Quellspring Output Detector DSP v", 0), 0u)
        << header->description;
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);
    winampDSPModule* const module = header->getModule(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(header->getModule(0), module);
    EXPECT_STREQ(module->description, "Quellspring Detector DSP");
    EXPECT_EQ(header->sf(3), 32);

    // The output module is not initialised: its detector tells the proxy so
    // at Init and at every block, and hands nothing over; the proxy asks for
    // one restart in all, and notes why in the player's settings.
    short samples[SampleCount * 2] = {};
    EXPECT_EQ(module->Init(module), 0);
    EXPECT_EQ(player.Restarts(), 1);
    for (int block = 1; block <= 3; ++block) {
        EXPECT_EQ(module->ModifySamples(module, samples, SampleCount, 16, 2, 44100), SampleCount);
        EXPECT_EQ(player.Restarts(), 1);
    }
    EXPECT_EQ(settings.Content(),
              "[Winamp]\r\na=1\r\n" + RestartMarkHeader + "output not initialised\r\n");
    EXPECT_EQ(module->Init(module), -1) << "a second Init finds the detector already active";
    module->Quit(module);
    module->Quit(module);

    const HMODULE output = GetModuleHandleA("out_qvquellspring.dll");
    ASSERT_NE(output, nullptr);
    TInterComProc* const interCom = RegisteredInterCom(output);
    ASSERT_NE(*interCom, nullptr);
    const int restarts = player.Restarts();
    EXPECT_EQ((*interCom)(2), -1);
    EXPECT_EQ(player.Restarts(), restarts);

    // Blocks passed through on this thread, which lives on, do not keep the
    // output library loaded once the proxy lets go of it.
    proxy.Unload();
    EXPECT_EQ(GetModuleHandleA("out_qvquellspring.dll"), nullptr);
}

TEST(ProxyTest, UnloadingDeregistersTheCallbackFromALibraryStillInUse) {
    TestPlayerWindow player;
    Library proxy(ProxyBesideOutput);
    ASSERT_NE(proxy.Get(), nullptr);
    // The player's own hold on the output library, as its output plug-in.
    Library output(qvtest::ProgramFolder() + "\\..\\..\\out_qvquellspring.dll");
    ASSERT_NE(output.Get(), nullptr);
    proxy.Header(player.Handle());
    ASSERT_NE(*RegisteredInterCom(output.Get()), nullptr);
    proxy.Unload();
    EXPECT_EQ(*RegisteredInterCom(output.Get()), nullptr);
}

// The output library lets go of the proxy at its unload: the proxy releases
// it, and its own unload must not call into the library that is gone.
TEST(ProxyTest, AfterTheOutputLibraryLetsGoTheProxyForwardsNothingAndUnloadsSafely) {
    TestPlayerWindow player;
    Library proxy(ProxyBesideOutput);
    winampDSPHeader* const header = proxy.Header(player.Handle());
    ASSERT_NE(header, nullptr);
    const HMODULE output = GetModuleHandleA("out_qvquellspring.dll");
    ASSERT_NE(output, nullptr);
    EXPECT_EQ((*RegisteredInterCom(output))(0), 0);
    EXPECT_EQ(GetModuleHandleA("out_qvquellspring.dll"), nullptr) << "released exactly once";
    // Texts of the proxy's own, not pointers into the library that is gone.
    EXPECT_STREQ(header->description, "Quovant Quellspring Detector DSP v1.0");
    EXPECT_STREQ(header->getModule(0)->description, "Quovant Quellspring Detector DSP v1.0");
    ExpectUnboundAnswers(header);
    proxy.Unload();
}

TEST(ProxyTest, FaultsInTheOutputLibraryGiveTheFixedAnswers) {
    TestPlayerWindow player;
    Library proxy(qvtest::ProgramFolder() + "\\faulty\\dsp_qvquellspring.dll");
    ASSERT_NE(proxy.Get(), nullptr);
    winampDSPHeader* const header = proxy.Header(player.Handle());
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->description, "Faulty detector DSP");
    ExpectUnboundAnswers(header);

    const HMODULE output = GetModuleHandleA("out_qvquellspring.dll");
    ASSERT_NE(output, nullptr);
    EXPECT_EQ((*RegisteredInterCom(output))(0), 0);
    ExpectUnboundAnswers(header);
    EXPECT_EQ(player.Restarts(), 0);
}

// The next start of a player whose output module is still not initialised:
// the restart did not cure it, so none is asked for again; a player that
// cannot say where its settings are gets none at all.
TEST(ProxyTest, AsksNoRestartThatCouldRepeatForEver) {
    TestPlayerWindow player;
    const PlayerSettings settings("[Winamp]\r\na=1\r\n");
    for (const bool knowsSettings : {true, true, false}) {
        player.settingsFile = knowsSettings ? settings.path : "";
        Library proxy(ProxyBesideOutput);
        winampDSPModule* const module = proxy.Header(player.Handle())->getModule(0);
        short samples[SampleCount * 2] = {};
        module->Init(module);
        module->ModifySamples(module, samples, SampleCount, 16, 2, 44100);
        module->Quit(module);
    }
    EXPECT_EQ(player.Restarts(), 1);
}

class LoneProxyTest : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, temp);
        player_.settingsFile =
            std::string(temp) + "qvq-proxy-" + std::to_string(GetCurrentProcessId()) + ".ini";
        ASSERT_TRUE(
            qv::ReplaceFileContent(player_.settingsFile, "[Winamp]\r\na=1\r\n[Other]\r\nb=2"));
    }
    void TearDown() override {
        SetFileAttributesA(player_.settingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(player_.settingsFile.c_str());
    }
    TestPlayerWindow player_;
};

TEST_F(LoneProxyTest, AsksOnceForARestartAndItsRemoval) {
    Library proxy(LoneProxy);
    ASSERT_NE(proxy.Get(), nullptr);
    char ownPath[MAX_PATH + 1] = {};
    GetModuleFileNameA(proxy.Get(), ownPath, MAX_PATH);

    // Without a window the request waits for the next call.
    winampDSPHeader* const header = proxy.Header(nullptr);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(player_.Restarts(), 0);
    EXPECT_EQ(proxy.Header(player_.Handle()), header);
    EXPECT_EQ(header->version, 0x20);
    EXPECT_STREQ(header->description, "Quovant Quellspring Detector DSP v1.0");
    EXPECT_EQ(player_.Restarts(), 1);
    EXPECT_EQ(player_.writeRequests, 1);
    const std::string rewritten = "[Winamp]\r\na=1\r\nremove_genplug=" + std::string(ownPath) +
                                  "\r\n[Other]\r\nb=2\r\n" + RestartMarkHeader + "removal\r\n";
    EXPECT_EQ(qv::ReadWholeFile(player_.settingsFile), rewritten);

    proxy.Header(player_.Handle());
    EXPECT_EQ(player_.Restarts(), 1);
    EXPECT_EQ(player_.writeRequests, 1);
    EXPECT_EQ(qv::ReadWholeFile(player_.settingsFile), rewritten);

    EXPECT_STREQ(header->getModule(0)->description, "Quovant Quellspring Detector DSP v1.0");
    ExpectUnboundAnswers(header);
}

// A player that did not remove the proxy at its restart (the file stayed,
// or the entry was ignored) gets the entry again but no second restart.
TEST_F(LoneProxyTest, AsksNoSecondRestartForTheSameRemoval) {
    for (int start = 0; start < 2; ++start) {
        Library proxy(LoneProxy);
        proxy.Header(player_.Handle());
    }
    EXPECT_EQ(player_.Restarts(), 1);
    EXPECT_EQ(player_.writeRequests, 2);
    const std::string content = qv::ReadWholeFile(player_.settingsFile).value_or("");
    EXPECT_TRUE(content.ends_with(RestartMarkHeader + "removal\r\n")) << content;
}

// Files that cannot take the entry are left byte for byte as they were, and
// the player is not asked to restart: it would only load the proxy again.
// Byte for byte, also for a file too large for the proxy to read.
bool Holds(const std::string& path, const std::string& content) {
    std::string read(content.size() + 1, '\0');
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    const bool ok = ReadFile(file, read.data(), static_cast<DWORD>(read.size()), &got, nullptr);
    CloseHandle(file);
    return ok && got == content.size() && read.compare(0, got, content) == 0;
}

struct UnwritableCase {
    const char* name;
    std::string content;
    DWORD attributes;
};

const UnwritableCase UnwritableCases[] = {
    {"UTF-16", "\xFF\xFE[\0W\0i\0n\0a\0m\0p\0]\0\r\0\n\0[\0B\0]\0\r\0\n\0", FILE_ATTRIBUTE_NORMAL},
    {"no player section", "[Other]\r\nb=2\r\n", FILE_ATTRIBUTE_NORMAL},
    {"read-only", "[Winamp]\r\na=1\r\n[Other]\r\n", FILE_ATTRIBUTE_READONLY},
    {"huge", "[Winamp]\r\n[Other]\r\n" + std::string(qv::MaxSettingsFileSize, 'x'),
     FILE_ATTRIBUTE_NORMAL},
};

TEST_F(LoneProxyTest, AFileThatCannotTakeTheEntryGetsNoRestart) {
    for (const UnwritableCase& c : UnwritableCases) {
        SCOPED_TRACE(c.name);
        const int restartsBefore = player_.Restarts();
        const int writesBefore = player_.writeRequests;
        SetFileAttributesA(player_.settingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(qv::ReplaceFileContent(player_.settingsFile, c.content));
        ASSERT_TRUE(SetFileAttributesA(player_.settingsFile.c_str(), c.attributes));
        Library proxy(LoneProxy);
        proxy.Header(player_.Handle());
        proxy.Header(player_.Handle());
        EXPECT_EQ(player_.Restarts(), restartsBefore);
        EXPECT_EQ(player_.writeRequests, writesBefore + 1) << "one attempt per load";
        EXPECT_TRUE(Holds(player_.settingsFile, c.content)) << "the file changed";
    }
    SetFileAttributesA(player_.settingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Explorer's properties and the installer read these; nothing in the proxy does.
TEST(ProxyTest, CarriesItsVersionResource) {
    const std::string path = ProxyBesideOutput;
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(
        GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    const std::pair<const char*, const char*> values[] = {
        {"FileDescription", "Quellspring Detector DSP"},
        {"InternalName", "Quellspring Detector DSP"},
        {"ProductName", "Quellspring Detector DSP"},
        {"FileVersion", "1.0.1.1"},
        {"ProductVersion", "1.0"},
        {"OriginalFilename", "dsp_qvquellspring.dll"}};
    for (const auto& [name, expected] : values) {
        char* text = nullptr;
        UINT length = 0;
        const std::string key = std::string("\\StringFileInfo\\040904e4\\") + name;
        ASSERT_TRUE(
            VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
            << name;
        EXPECT_STREQ(text, expected) << name;
    }
}

} // namespace
