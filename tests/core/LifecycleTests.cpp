// Init and Quit with a player window standing by: the objects the core owns,
// the settings it reads, and failures that must stay inside the library.
#include <filesystem>
#include <utility>

#include "CoreTestSupport.h"
#include "tests/host/HostTestSupport.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"
#include "host/Configunit.h"
#include "host/Versionreader.h"
#include "host/WinAmpAPIUnit.h"
#include "ui/Configformunit.h"

using namespace qv;

namespace {

std::string ExePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

class LifecycleTest : public qvtest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ProcessAttach(GetModuleHandleA(nullptr));
        const std::filesystem::path exe = ExePath();
        PluginFolder = exe.parent_path().string();
        Player.AnswerText(player::IpcGetIniFile, Settings.Path() + "winamp.ini");
        Player.AnswerText(player::IpcGetPluginDir, PluginFolder);
        Player.AnswerText(player::IpcGetOutputPlugin, exe.filename().string());
        Player.Answer(player::IpcIsPlaybackContinuing, 0, 1);
        plugin.hMainWindow = Player.Window();
    }
    void TearDown() override {
        plugin.Quit();
        plugin.hMainWindow = nullptr;
        Clock.PaceTimer = nullptr; // Quit closed it
        CoreTest::TearDown();
    }

    void PlaybackContinues(bool continues) {
        Player.Answer(player::IpcIsPlaybackContinuing, 0, continues ? 1 : 0);
    }

    hosttest::TScratchFolder Settings;
    hosttest::TTestPlayer Player;
    std::string PluginFolder;
};

TEST_F(LifecycleTest, InitBuildsEveryObjectAndQuitTearsThemDown) {
    plugin.Init();
    ASSERT_EQ(LastInitError, "");
    ASSERT_NE(WinAmpAPIMan, nullptr);
    ASSERT_NE(PluginConfig, nullptr);
    ASSERT_NE(WaveOutPlayThread, nullptr);
    EXPECT_EQ(WaveOutPlayThread->State, psIdle);
    EXPECT_NE(Clock.PaceTimer, nullptr);
    EXPECT_EQ(Clock.CoreInitialised, 1);
    EXPECT_EQ(Clock.PluginDir, PluginFolder + "\\");

    plugin.Quit();
    EXPECT_EQ(Clock.CoreInitialised, 0);
    EXPECT_EQ(Clock.PaceTimer, nullptr);
    EXPECT_EQ(WaveOutPlayThread, nullptr);
    EXPECT_EQ(PluginConfig, nullptr);
    EXPECT_EQ(WinAmpAPIMan, nullptr);

    plugin.Init(); // and again after Quit
    EXPECT_EQ(Clock.CoreInitialised, 1);
    EXPECT_NE(WaveOutPlayThread, nullptr);
}

TEST_F(LifecycleTest, ARepeatedInitReusesItsObjectsAndRereadsTheSettings) {
    plugin.Init();
    const auto* const manager = WinAmpAPIMan;
    const auto* const engine = WaveOutPlayThread;
    const HANDLE timer = Clock.PaceTimer;

    PluginConfig->PlaybackFudgeFactor = "0.5";
    PluginConfig->SongEndFudgeFactor = "not a number";
    Clock.SongEndFudgeFactor = 0.25;
    plugin.Init();
    EXPECT_EQ(WinAmpAPIMan, manager);
    EXPECT_EQ(WaveOutPlayThread, engine);
    EXPECT_EQ(Clock.PaceTimer, timer) << "the running timer is kept, not leaked";
    EXPECT_EQ(Clock.PlaybackFudgeFactor, 0.5);
    EXPECT_EQ(Clock.SongEndFudgeFactor, 0.25) << "a text that does not convert changes nothing";

    PluginConfig->PlaybackFudgeFactor = " -1.25 ";
    plugin.Init();
    EXPECT_EQ(Clock.PlaybackFudgeFactor, -1.25);

    // Under a locale whose decimal separator is a comma, a factor typed in
    // the configuration window ("0,75") is read back at the next start, and
    // one stored with a dot still is.
    char saved[8] = {};
    ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved, sizeof saved), 0);
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, ","));
    for (const auto& [text, value] : {std::pair{"0,75", 0.75}, std::pair{"0.5", 0.5}}) {
        PluginConfig->PlaybackFudgeFactor = text;
        plugin.Init();
        EXPECT_EQ(Clock.PlaybackFudgeFactor, value) << text;
    }
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved);
}

TEST_F(LifecycleTest, InitWithoutAPlayerWindowFailsInsideTheLibrary) {
    plugin.hMainWindow = nullptr;
    plugin.Init();
    EXPECT_EQ(LastInitError, "NULL Winamp Main HWND Var.");
    EXPECT_EQ(WinAmpAPIMan, nullptr);
    EXPECT_EQ(WaveOutPlayThread, nullptr);
    EXPECT_EQ(Clock.CoreInitialised, 0);
    EXPECT_EQ(Clock.PaceTimer, nullptr);
    plugin.Quit();
    EXPECT_EQ(Clock.CoreInitialised, 0);
}

TEST_F(LifecycleTest, TheLibraryKnowsWhetherItIsThePlayersOutput) {
    plugin.Init();
    EXPECT_TRUE(IsPlayersOutputPlugin());
    Player.AnswerText(player::IpcGetOutputPlugin, "out_other.dll");
    EXPECT_FALSE(IsPlayersOutputPlugin());
    Player.Answer(player::IpcGetOutputPlugin, 0, 1);
    EXPECT_FALSE(IsPlayersOutputPlugin()) << "no answer: not ours";
}

TEST_F(LifecycleTest, CloseEndsTheScheduleOnlyWhenThePlayerStopsOrMovesOn) {
    plugin.Init();
    char block[2304] = {};
    plugin.Open(44100, 2, 16, -1, -1);
    plugin.Write(block, sizeof block);
    PlaybackContinues(true);
    plugin.Close();
    EXPECT_NE(Clock.NextDue, 0.0) << "track change: the schedule runs on";
    EXPECT_EQ(Clock.OutputActive, 1);

    PlaybackContinues(false);
    plugin.Close();
    EXPECT_EQ(Clock.NextDue, 0.0);
    EXPECT_EQ(Clock.OutputActive, 1);

    plugin.Open(44100, 2, 16, -1, -1);
    plugin.Write(block, sizeof block);
    PlaybackContinues(true);
    Player.AnswerText(player::IpcGetOutputPlugin, "out_other.dll");
    plugin.Close();
    EXPECT_EQ(Clock.NextDue, 0.0);
    EXPECT_EQ(Clock.OutputActive, 0) << "another output plug-in took over";
}

TEST_F(LifecycleTest, OutOfRangeVolumeAndPanAskThePlayer) {
    plugin.Init();
    plugin.SetVolume(255);
    plugin.SetVolume(-2);
    EXPECT_EQ(Player.Count(player::IpcSetVolume), 0);
    plugin.SetVolume(257);
    plugin.SetVolume(-666);
    EXPECT_EQ(Player.Count(player::IpcSetVolume), 2);
}

TEST_F(LifecycleTest, ConfigOpensOneWindowAndQuitClosesIt) {
    plugin.Init();
    plugin.Config(nullptr);
    ASSERT_NE(ConfigForm, nullptr);
    const HWND window = ConfigForm->Handle();
    EXPECT_TRUE(IsWindow(window));
    plugin.Config(nullptr);
    EXPECT_EQ(ConfigForm->Handle(), window) << "a second Config brings the same window forward";
    plugin.Quit();
    EXPECT_EQ(ConfigForm, nullptr);
    EXPECT_FALSE(IsWindow(window));
}

} // namespace
