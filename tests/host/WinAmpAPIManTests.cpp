#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "host/Errors.h"
#include "host/WinAmpAPIUnit.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

std::string FailureText(Out_Module* module) {
    try {
        TWinAmpAPIMan manager(module);
    } catch (const EQvError& error) {
        return error.what();
    }
    ADD_FAILURE() << "construction did not fail";
    return "<none>";
}

class WinAmpAPIManTest : public testing::Test {
protected:
    WinAmpAPIManTest() { Module.hMainWindow = Player.Window(); }

    TTestPlayer Player;
    Out_Module Module = {};
};

} // namespace

TEST(WinAmpAPIManConstruction, NullRecordShowsItsBoxThenFailsWithoutText) {
    TMessageBoxCloser closer("Internal Error");
    EXPECT_EQ(FailureText(nullptr), "");
    const std::vector<std::string> texts = closer.Finish();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "NULL Pointer to pluggin Var."), texts.end())
        << "no box with the expected text was closed";
}

TEST(WinAmpAPIManConstruction, UnusableMainWindowsFailWithTheirTexts) {
    Out_Module module = {};
    EXPECT_EQ(FailureText(&module), "NULL Winamp Main HWND Var.");

    HWND gone = CreateClassWindow(L"QVHostTestGone").get(); // destroyed at once
    ASSERT_NE(gone, nullptr);
    ASSERT_FALSE(IsWindow(gone));
    module.hMainWindow = gone;
    EXPECT_EQ(FailureText(&module), "Bad Winamp Main HWND Var.");
}

TEST_F(WinAmpAPIManTest, TakesReportedWindowsAndTheLow16BitsOfTheVersion) {
    const TWindowOwner equalizer = CreateClassWindow(L"QVHostTestEq");
    const TWindowOwner playlist = CreateClassWindow(L"QVHostTestPe");
    const TWindowOwner third = CreateClassWindow(L"QVHostTestThird");
    Player.Answer(player::IpcGetWindow, 0, reinterpret_cast<LRESULT>(equalizer.get()));
    Player.Answer(player::IpcGetWindow, 1, reinterpret_cast<LRESULT>(playlist.get()));
    Player.Answer(player::IpcGetWindow, 2, reinterpret_cast<LRESULT>(third.get()));
    Player.Answer(player::IpcGetVersion, 0, 0x7A125066);

    const TWinAmpAPIMan manager(&Module);

    EXPECT_EQ(manager.Module, &Module);
    EXPECT_EQ(manager.MainWindow, Player.Window());
    EXPECT_EQ(manager.EqualizerWindow, equalizer.get());
    EXPECT_EQ(manager.PlaylistWindow, playlist.get());
    EXPECT_EQ(manager.ThirdWindow, third.get());
    EXPECT_EQ(manager.PlayerVersionMajor, 0x50);
    EXPECT_EQ(manager.PlayerVersionMinor, 0x66);
    EXPECT_EQ(manager.PlayerVersion, 0x5066);
}

TEST_F(WinAmpAPIManTest, FindsUnreportedEqualizerAndPlaylistByClassButNotTheThird) {
    const TWindowOwner equalizer = CreateClassWindow(L"Winamp EQ");
    const TWindowOwner playlist = CreateClassWindow(L"Winamp PE");
    const TWindowOwner third = CreateClassWindow(L"QVHostTestThird");
    HWND gone = CreateClassWindow(L"QVHostTestGone").get();
    Player.Answer(player::IpcGetWindow, 1, reinterpret_cast<LRESULT>(gone));
    Player.Answer(player::IpcGetWindow, 2, reinterpret_cast<LRESULT>(gone));

    const TWinAmpAPIMan manager(&Module);

    EXPECT_EQ(manager.EqualizerWindow, equalizer.get());
    EXPECT_EQ(manager.PlaylistWindow, playlist.get());
    EXPECT_EQ(manager.ThirdWindow, nullptr);
}

TEST_F(WinAmpAPIManTest, WindowsNeitherReportedNorFoundStayNull) {
    const TWinAmpAPIMan manager(&Module);
    EXPECT_EQ(manager.EqualizerWindow, nullptr);
    EXPECT_EQ(manager.PlaylistWindow, nullptr);
    EXPECT_EQ(manager.ThirdWindow, nullptr);
}

TEST_F(WinAmpAPIManTest, SettingsFolderIsTheFolderOfThePlayersSettingsFile) {
    const TWinAmpAPIMan manager(&Module);
    Player.AnswerText(player::IpcGetIniFile, "C:\\Player\\player.ini");
    EXPECT_EQ(manager.GetSettingsFolder(), "C:\\Player\\");
    Player.AnswerText(player::IpcGetIniFile, "C:\\Program Files\\Player\\");
    EXPECT_EQ(manager.GetSettingsFolder(), "C:\\Program Files\\Player\\");
    Player.AnswerText(player::IpcGetIniFile, "player.ini");
    EXPECT_EQ(manager.GetSettingsFolder(), "");
    // Answers that are no address must not be read.
    Player.Answer(player::IpcGetIniFile, 0, 0);
    EXPECT_EQ(manager.GetSettingsFolder(), "");
    Player.Answer(player::IpcGetIniFile, 0, 1);
    EXPECT_EQ(manager.GetSettingsFolder(), "");
}

TEST_F(WinAmpAPIManTest, FolderAndOutputPluginTextsComeUnchangedOrEmptyForAnswerOne) {
    const TWinAmpAPIMan manager(&Module);
    Player.AnswerText(player::IpcGetPluginDir, "C:\\Player\\Plugins");
    Player.AnswerText(player::IpcGetOutputPlugin, "out_other.dll");
    EXPECT_EQ(manager.GetPluginFolder(), "C:\\Player\\Plugins");
    EXPECT_EQ(manager.GetOutputPluginFileName(), "out_other.dll");

    Player.Answer(player::IpcGetPluginDir, 0, 1);
    Player.Answer(player::IpcGetOutputPlugin, 0, 1);
    EXPECT_EQ(manager.GetPluginFolder(), "");
    EXPECT_EQ(manager.GetOutputPluginFileName(), "");
    Player.Answer(player::IpcGetPluginDir, 0, 0);
    Player.Answer(player::IpcGetOutputPlugin, 0, 0);
    EXPECT_EQ(manager.GetPluginFolder(), "");
    EXPECT_EQ(manager.GetOutputPluginFileName(), "");
}

TEST_F(WinAmpAPIManTest, IsStoppingOnlyWhenThePlayerAnswersZero) {
    const TWinAmpAPIMan manager(&Module);
    EXPECT_TRUE(manager.IsStopping());
    Player.Answer(player::IpcIsPlaybackContinuing, 0, 1);
    EXPECT_FALSE(manager.IsStopping());
    Player.Answer(player::IpcIsPlaybackContinuing, 0, -1);
    EXPECT_FALSE(manager.IsStopping());
    EXPECT_EQ(Player.Count(player::IpcIsPlaybackContinuing), 3);
}
