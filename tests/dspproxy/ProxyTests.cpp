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

TEST(ProxyTest, ShowsTheOutputLibrarysDetectorAndForwardsToIt) {
    TestPlayerWindow player;
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

    // The output module is not initialised: its detector asks for a restart
    // through the proxy at Init and at every block, and hands nothing over.
    short samples[SampleCount * 2] = {};
    EXPECT_EQ(module->Init(module), 0);
    EXPECT_EQ(player.Restarts(), 1);
    for (int block = 1; block <= 3; ++block) {
        EXPECT_EQ(module->ModifySamples(module, samples, SampleCount, 16, 2, 44100), SampleCount);
        EXPECT_EQ(player.Restarts(), 1 + block);
    }
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
    void TearDown() override { DeleteFileA(player_.settingsFile.c_str()); }
    TestPlayerWindow player_;
};

TEST_F(LoneProxyTest, AsksOnceForARestartAndItsRemoval) {
    Library proxy(qvtest::ProgramFolder() + "\\alone\\dsp_qvquellspring.dll");
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
    const std::string rewritten =
        "[Winamp]\r\na=1\r\nremove_genplug=" + std::string(ownPath) + "\r\n[Other]\r\nb=2\r\n";
    EXPECT_EQ(qv::ReadWholeFile(player_.settingsFile), rewritten);

    proxy.Header(player_.Handle());
    EXPECT_EQ(player_.Restarts(), 1);
    EXPECT_EQ(player_.writeRequests, 1);
    EXPECT_EQ(qv::ReadWholeFile(player_.settingsFile), rewritten);

    EXPECT_STREQ(header->getModule(0)->description, "Quovant Quellspring Detector DSP v1.0");
    ExpectUnboundAnswers(header);
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
