// The configuration window under Xvfb with the core initialised against a
// test player window: what it shows, what typing and choosing write, and how
// it goes away. Devices are the test environment's null sinks, two of them
// described "QVQ_Sink".
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <windows.h>
#include <dbt.h>
#include <thread>
#include <vector>

#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"
#include "host/Configunit.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/host/HostTestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Configformunit.h"
#include "ui/StatusReadout.h"

using namespace qv;
using uitest::PumpUntil;

namespace {

const std::string SameName = "QVQ_Sink";

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const auto count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[256] = {};
        SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

HWND ComboEdit(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    GetComboBoxInfo(combo, &info);
    return info.hwndItem;
}

// The decoding thread of a player: 16-bit stereo blocks of a tone at the
// schedule's pace, until told to stop.
class TPlayback {
public:
    TPlayback() {
        Thread = std::thread([this] { Run(); });
    }
    ~TPlayback() { Stop(); }
    // Close asks the player window on this thread, so the wait pumps.
    void Stop() {
        Stopping = true;
        PumpUntil([this] { return Finished.load(); }, 30000);
        if (Thread.joinable())
            Thread.join();
    }
    std::atomic<int> Blocks{0};

private:
    void Run() {
        if (plugin.Open(44100, 2, 16, -1, -1) < 0) {
            Finished = true;
            return;
        }
        std::vector<short> block(576 * 2);
        double phase = 0;
        while (!Stopping) {
            for (std::size_t i = 0; i < block.size(); i += 2) {
                block[i] = block[i + 1] = short(8000 * std::sin(phase));
                phase += 2 * 3.14159265358979 * 440 / 44100;
            }
            plugin.Write(reinterpret_cast<char*>(block.data()), int(block.size() * 2));
            ++Blocks;
        }
        plugin.Close();
        Finished = true;
    }
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Finished{false};
    std::thread Thread;
};

class ConfigFormTest : public qvtest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ProcessAttach(GetModuleHandleA(nullptr));
        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        const std::string path = exe;
        Player.AnswerText(player::IpcGetIniFile, Settings.Path() + "winamp.ini");
        Player.AnswerText(player::IpcGetPluginDir, path.substr(0, path.find_last_of('\\')));
        Player.AnswerText(player::IpcGetOutputPlugin, path.substr(path.find_last_of('\\') + 1));
        Player.Answer(player::IpcIsPlaybackContinuing, 0, 0);
        plugin.hMainWindow = Player.Window();
        plugin.Init();
        ASSERT_EQ(LastInitError, "");
    }
    void TearDown() override {
        plugin.Quit();
        plugin.hMainWindow = nullptr;
        Clock.PaceTimer = nullptr;
        LastInitError.clear();
        CoreTest::TearDown();
    }

    TConfigForm& Open() {
        plugin.Config(nullptr);
        EXPECT_NE(ConfigForm, nullptr);
        return *ConfigForm;
    }
    std::string StoredInFile(const char* key) const {
        char value[512] = {};
        GetPrivateProfileStringA("Quellspring", key, "<none>", value, sizeof value,
                                 PluginConfig->IniFileName.c_str());
        return value;
    }
    // Presses the arrow keys in the box until it shows `name`.
    static bool ChooseByKeys(HWND combo, const std::string& name) {
        const HWND edit = ComboEdit(combo);
        for (const WPARAM key : {VK_DOWN, VK_UP}) {
            for (int i = 0; i < 32; ++i) {
                if (uitest::WindowText(combo) == name)
                    return true;
                uitest::TypeKey(edit, key);
            }
        }
        return uitest::WindowText(combo) == name;
    }

    hosttest::TScratchFolder Settings;
    hosttest::TTestPlayer Player;
};

TEST_F(ConfigFormTest, LaysOutTheWindowAsDesigned) {
    const TConfigForm& form = Open();
    EXPECT_EQ(uitest::WindowText(form.Handle()), "Quellspring Config");
    RECT outer{};
    GetWindowRect(form.Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 275);
    const LONG style = GetWindowLongA(form.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(style & WS_SYSMENU);
    const struct {
        HWND Widget;
        RECT Place; // left, top, right, bottom in the form's client area
        const char* Caption;
    } widgets[] = {
        {form.GroupBox1, {8, 8, 249, 57}, "Playback Rate Fudge Factor"},
        {form.PlaybackRateFudgeFactorEdit, {16, 24, 241, 45}, nullptr},
        {form.GroupBox2, {8, 64, 249, 113}, "Song End Fudge Factor"},
        {form.SongEndFudgeFactorEdit, {16, 80, 241, 101}, nullptr},
        {form.DoneButton, {176, 120, 251, 145}, "Done"},
        {form.GroupBox3, {8, 152, 249, 361}, "Experimental (DO NOT USE!)"},
        {form.GroupBox7, {15, 168, 169, 217}, "Out Device"},
        {form.ResetButton, {170, 184, 245, 209}, "Reset"},
        {form.Panel1, {15, 224, 241, 353}, nullptr},
    };
    for (const auto& w : widgets) {
        RECT at{};
        GetWindowRect(w.Widget, &at);
        MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&at), 2);
        EXPECT_EQ(at.left, w.Place.left) << w.Caption;
        EXPECT_EQ(at.top, w.Place.top) << w.Caption;
        EXPECT_EQ(at.right, w.Place.right) << w.Caption;
        EXPECT_EQ(at.bottom, w.Place.bottom) << w.Caption;
        if (w.Caption != nullptr) {
            EXPECT_EQ(uitest::WindowText(w.Widget), w.Caption);
        }
    }
    EXPECT_EQ(form.ScrollablePaintBox1->ClientSize().cx, 222);
    EXPECT_EQ(form.ScrollablePaintBox1->ClientSize().cy, 125);
    // The whole tab cycle, by the Tab key: Done, the song-end factor, the
    // playback factor, the device box, Reset, the paint box, and back to
    // Done; Shift+Tab the other way round.
    const std::vector<HWND> cycle{form.DoneButton,
                                  form.SongEndFudgeFactorEdit,
                                  form.PlaybackRateFudgeFactorEdit,
                                  form.ComboBox1,
                                  form.ResetButton,
                                  form.ScrollablePaintBox1->Handle(),
                                  form.DoneButton};
    const auto focused = [&] {
        const HWND focus = GetFocus();
        return GetParent(focus) == form.ComboBox1 ? form.ComboBox1 : focus;
    };
    BYTE keys[256] = {};
    for (const bool back : {false, true}) {
        GetKeyboardState(keys);
        keys[VK_SHIFT] = back ? 0x80 : 0;
        SetKeyboardState(keys);
        SetFocus(form.DoneButton);
        std::vector<HWND> order{focused()};
        for (size_t i = 1; i < cycle.size(); ++i) {
            uitest::TypeKey(GetFocus(), VK_TAB, '\t');
            order.push_back(focused());
        }
        EXPECT_EQ(order, back ? std::vector<HWND>(cycle.rbegin(), cycle.rend()) : cycle)
            << (back ? "Shift+Tab" : "Tab");
    }
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

TEST_F(ConfigFormTest, ListsTheEmptyEntryThenEveryDeviceByTheEnginesNames) {
    const TConfigForm& form = Open();
    const std::vector<std::string> items = ComboItems(form.ComboBox1);
    std::vector<std::string> expected{""};
    for (const TWaveOutDevice& device : WaveOutDeviceList())
        expected.push_back(device.Name);
    EXPECT_EQ(items, expected);
    ASSERT_GE(items.size(), 3u);
    const auto first = std::find(items.begin(), items.end(), SameName);
    ASSERT_NE(first, items.end());
    EXPECT_NE(std::find(first, items.end(), SameName + "(2)"), items.end());
    EXPECT_EQ(items[1], WaveOutDeviceList().front().Name) << "the mapper comes first";
}

TEST_F(ConfigFormTest, OpeningWritesNothingForAPresentDeviceAndEmptiesAnAbsentOne) {
    const struct {
        const char* Stored;
        const char* Shown;
    } cases[] = {{"QVQ_Sink(2)", "QVQ_Sink(2)"}, {"No Such Device", ""}, {"", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stored);
        PluginConfig->StoreOutDevice(c.Stored);
        SetOutDevice(c.Stored);
        const TConfigForm& form = Open();
        EXPECT_EQ(uitest::WindowText(form.ComboBox1), c.Shown);
        EXPECT_EQ(PluginConfig->OutDevice, c.Shown);
        EXPECT_EQ(StoredInFile("OutDevice"), c.Shown);
        EXPECT_EQ(GetWantedDevice(), c.Shown);
        plugin.Quit(); // closes the window
        plugin.Init();
    }
}

TEST_F(ConfigFormTest, TypingIntoTheFactorsStoresTheTextAndHandsTheValueOn) {
    const struct {
        const char* Name;
        bool Playback;
        const char* Stored;
        std::vector<std::pair<std::string, double>> Steps; // keys typed, value given
        std::vector<std::string> Texts;                    // stored after each step
    } cases[] = {
        {"digits", true, "", {{"1", 1.0}, {"2", 12.0}}, {"1", "12"}},
        {"bad keystrokes", true, "0.5", {{"x", 0.5}, {"y", 0.0}}, {"0.5x", "0.5xy"}},
        {"song end", false, "", {{"0", 0.0}, {".", 0.0}, {"2", 0.2}}, {"0", "0.", "0.2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        PluginConfig->StorePlaybackFudgeFactor(c.Playback ? c.Stored : "0.0");
        PluginConfig->StoreSongEndFudgeFactor(c.Playback ? "0.0" : c.Stored);
        TConfigForm& form = Open();
        const HWND edit =
            c.Playback ? form.PlaybackRateFudgeFactorEdit : form.SongEndFudgeFactorEdit;
        EXPECT_EQ(uitest::WindowText(edit), c.Stored);
        SetFocus(edit);
        uitest::TypeKey(edit, VK_END);
        for (std::size_t i = 0; i < c.Steps.size(); ++i) {
            uitest::TypeText(edit, c.Steps[i].first);
            const std::string stored =
                c.Playback ? PluginConfig->PlaybackFudgeFactor : PluginConfig->SongEndFudgeFactor;
            EXPECT_EQ(stored, c.Texts[i]);
            EXPECT_EQ(StoredInFile(c.Playback ? "PlaybackFudgeFactor" : "SongEndFudgeFactor"),
                      c.Texts[i]);
            const double core = c.Playback ? Clock.PlaybackFudgeFactor : Clock.SongEndFudgeFactor;
            EXPECT_DOUBLE_EQ(core, c.Steps[i].second) << "after " << c.Texts[i];
        }
        SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
        ASSERT_EQ(ConfigForm, nullptr);
    }
}

TEST_F(ConfigFormTest, ClosingFreesTheWindowAndConfigThenOpensANewOne) {
    const struct {
        const char* Name;
        void (*Close)(TConfigForm&);
    } cases[] = {
        {"Done clicked", [](TConfigForm& f) { uitest::Click(f.DoneButton, 10, 10); }},
        {"Enter in an edit",
         [](TConfigForm& f) { uitest::TypeKey(f.SongEndFudgeFactorEdit, VK_RETURN, '\r'); }},
        {"close box", [](TConfigForm& f) { SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TConfigForm& form = Open();
        const HWND window = form.Handle();
        plugin.Config(nullptr);
        EXPECT_EQ(ConfigForm, &form) << "a second Config brings the same window forward";
        c.Close(form);
        EXPECT_TRUE(PumpUntil([&] { return ConfigForm == nullptr; }));
        EXPECT_FALSE(IsWindow(window));
        plugin.Config(nullptr);
        ASSERT_NE(ConfigForm, nullptr) << "Config after a close opens a new window";
        EXPECT_TRUE(IsWindowVisible(ConfigForm->Handle()));
        SendMessageA(ConfigForm->Handle(), WM_CLOSE, 0, 0);
        EXPECT_EQ(ConfigForm, nullptr);
    }
}

TEST_F(ConfigFormTest, RebuildsTheListOnlyForANodesChangedBroadcast) {
    const struct {
        WPARAM Code;
        bool Rebuilt;
    } cases[] = {
        {DBT_DEVNODES_CHANGED, true}, {DBT_DEVICEARRIVAL, false}, {DBT_CONFIGCHANGED, false}};
    TConfigForm& form = Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        SendMessageA(form.ComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("marker"));
        SendMessageA(form.Handle(), WM_DEVICECHANGE, c.Code, 0);
        const std::vector<std::string> items = ComboItems(form.ComboBox1);
        EXPECT_EQ(items.back() == "marker", !c.Rebuilt);
    }
}

TEST_F(ConfigFormTest, StatusShowsTheEngineAndOurUnderrunLine) {
    TConfigForm& form = Open();
    ASSERT_TRUE(PumpUntil([&] { return !form.StatusText.empty(); }));
    std::string rest = form.StatusText;
    std::vector<std::string> lines;
    while (!rest.empty())
        lines.push_back(TakeLine(rest));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines.front(), "State: Idle");
    EXPECT_EQ(lines.back(), "Underruns: 0");
    const int pitch = form.ScrollablePaintBox1->Canvas().TextHeight("State");
    EXPECT_EQ(form.ScrollablePaintBox1->VertScrollBar().Range, pitch * 17);
    EXPECT_GT(form.ScrollablePaintBox1->HorzScrollBar().Range, 0);
}

TEST_F(ConfigFormTest, AWideStatusGetsAHorizontalBarWhoseThumbMovesTheText) {
    TConfigForm& form = Open();
    TScrollablePaintBox& box = *form.ScrollablePaintBox1;
    const TFontOwner wide = CreateFormFont("MS Sans Serif", 20, true);
    box.SetFont(wide.get());
    ASSERT_TRUE(PumpUntil([&] { return !form.StatusText.empty(); }));
    form.StatusText.clear(); // measure again on the wide font at the next tick
    ASSERT_TRUE(PumpUntil([&] { return !form.StatusText.empty(); }));
    ASSERT_GT(box.HorzScrollBar().Range, box.ClientSize().cx);
    ASSERT_TRUE(GetWindowLongA(box.Handle(), GWL_STYLE) & WS_HSCROLL);
    // Dragging the thumb: the system's tracking sends thumb-track positions.
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(box.Handle(), SB_HORZ, &info));
    EXPECT_EQ(info.nMax, box.HorzScrollBar().Range - 1);
    RECT bar{};
    SCROLLBARINFO barInfo{};
    barInfo.cbSize = sizeof barInfo;
    ASSERT_TRUE(GetScrollBarInfo(box.Handle(), OBJID_HSCROLL, &barInfo));
    bar = barInfo.rcScrollBar;
    const int y = (bar.top + bar.bottom) / 2;
    const int thumbX = bar.left + (barInfo.xyThumbTop + barInfo.xyThumbBottom) / 2;
    POINT target{bar.right - 2, y};
    ScreenToClient(box.Handle(), &target);
    PostMessageA(box.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(target.x, target.y));
    PostMessageA(box.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(target.x, target.y));
    SendMessageA(box.Handle(), WM_NCLBUTTONDOWN, HTHSCROLL, MAKELPARAM(thumbX, y));
    PumpUntil([&] { return box.HorzScrollBar().Position > 0; }, 2000);
    EXPECT_EQ(box.HorzScrollBar().Position, box.HorzScrollBar().Range - box.ClientSize().cx)
        << "the thumb dragged to the end shows the right edge";
    EXPECT_EQ(GetScrollPos(box.Handle(), SB_HORZ), box.HorzScrollBar().Position);
}

TEST_F(ConfigFormTest, DetectorLabelFollowsTheFlag) {
    TConfigForm& form = Open();
    for (const bool active : {true, false, true}) {
        Clock.DSPActive = active ? 1 : 0;
        const char* const expected = active ? "Detector DSP is active" : "";
        EXPECT_TRUE(PumpUntil([&] { return uitest::WindowText(form.DSPStatusLabel) == expected; }));
        EXPECT_EQ(form.DSPActiveShown, active);
    }
    Clock.DSPActive = 0;
}

TEST_F(ConfigFormTest, WithoutAnEngineAFailedInitIsShown) {
    TConfigForm& form = Open();
    ASSERT_TRUE(PumpUntil([&] { return !form.StatusText.empty(); }));
    TWaveOutPlayThread* const engine = WaveOutPlayThread;
    WaveOutPlayThread = nullptr;
    form.Timer1Timer();
    EXPECT_EQ(form.StatusText.substr(0, 13), "State: Idle\r\n")
        << "no engine: the last read-out stays";
    LastInitError = "Unable to create unnamed waitable timer event.";
    form.Timer1Timer();
    EXPECT_EQ(form.StatusText, "Init failed: Unable to create unnamed waitable timer event.\r\n");
    WaveOutPlayThread = engine;
}

TEST_F(ConfigFormTest, ChoosingAndResettingDuringPlaybackMoveTheDevice) {
    PluginConfig->StoreOutDevice(SameName);
    SetOutDevice(SameName);
    TPlayback playback;
    TWaveOutPlayThread& engine = *WaveOutPlayThread;
    ASSERT_TRUE(PumpUntil([&] { return engine.State == psPlaying; }));
    TConfigForm& form = Open();

    // Reset: the engine closes the device and opens it again for the next block.
    const std::size_t before = StateNames(engine).size();
    uitest::Click(form.ResetButton, 10, 10);
    ASSERT_TRUE(PumpUntil([&] {
        const auto history = StateNames(engine);
        return history.size() > before && InOrder({history.begin() + before, history.end()},
                                                  {"Close", "Idle", "Init", "Open", "Playing"});
    })) << "state "
        << PlayStateName(engine.State);
    EXPECT_EQ(engine.GetDeviceName(), SameName);

    // The second sink of the same name, chosen with the keyboard.
    ASSERT_TRUE(ChooseByKeys(form.ComboBox1, SameName + "(2)"));
    EXPECT_EQ(PluginConfig->OutDevice, SameName + "(2)");
    EXPECT_EQ(StoredInFile("OutDevice"), SameName + "(2)");
    ASSERT_TRUE(PumpUntil(
        [&] { return engine.GetDeviceName() == SameName + "(2)" && engine.State == psPlaying; }));
    EXPECT_EQ(engine.DeviceNameToId(SameName + "(2)"),
              engine.DeviceNameToId(engine.GetDeviceName()));

    // The empty entry: no device, while Write goes on at its pace.
    ASSERT_TRUE(ChooseByKeys(form.ComboBox1, ""));
    EXPECT_EQ(StoredInFile("OutDevice"), "");
    ASSERT_TRUE(PumpUntil([&] { return engine.State == psIdle; }));
    const int blocks = playback.Blocks;
    EXPECT_TRUE(PumpUntil([&] { return playback.Blocks > blocks + 10; }));
    EXPECT_EQ(engine.State, psIdle);
    playback.Stop();
}

} // namespace
