// Init, Quit and the uninstall entry with the test's window as the player:
// the settings file as the player's plug-in sees it over a whole session.
#include <gtest/gtest.h>

#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "host/Configunit.h"
#include "host/Errors.h"
#include "host/FolderUtils.h"
#include "host/WinAmpAPIUnit.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

using TLines = std::vector<std::string>;

const TLines InitialFile = {"[Quellspring]", "SongEndFudgeFactor=0.0", "PlaybackFudgeFactor=0.0",
                            "OutDevice="};

// The player keeps its settings and plug-ins in a scratch folder.
class PlayerSession : public testing::Test {
protected:
    PlayerSession() {
        Player.Answer(player::IpcGetVersion, 0, 0x5066);
        Player.AnswerText(player::IpcGetIniFile, Base() + "winamp.ini");
        Player.AnswerText(player::IpcGetPluginDir, Base() + "Plugins");
        Player.AnswerText(player::IpcGetOutputPlugin, "out_qvquellspring.dll");
    }

    const std::string& Base() const { return Scratch.Path(); }
    std::string Proper() const { return Base() + "Plugins\\QVQuellspring.ini"; }
    std::string Older() const { return Base() + "QVQuellspring.ini"; }

    TScratchFolder Scratch;
    TTestPlayer Player;
};

// The output module of the library linked into this program.
class LinkedLibrarySession : public PlayerSession {
protected:
    LinkedLibrarySession() {
        qv::ProcessAttach(GetModuleHandleA(nullptr));
        Module = winampGetOutModule();
        Module->hMainWindow = Player.Window();
        qv::ResetClockForTest();
    }
    ~LinkedLibrarySession() override {
        Module->Quit();
        qv::ResetClockForTest();
    }

    void Init() {
        Module->Init();
        ASSERT_EQ(qv::LastInitError, "");
        ASSERT_NE(WinAmpAPIMan, nullptr);
        ASSERT_NE(PluginConfig, nullptr);
    }

    Out_Module* Module = nullptr;
};

} // namespace

TEST_F(LinkedLibrarySession, FirstInitMakesThePluginsFolderAndQuitWritesTheInitialValues) {
    Init();
    EXPECT_TRUE(FolderExists(Base() + "Plugins"));
    EXPECT_EQ(PluginConfig->IniFileName, Proper());
    EXPECT_EQ(PluginConfig->SongEndFudgeFactor, "0.0");
    EXPECT_EQ(PluginConfig->PlaybackFudgeFactor, "0.0");
    EXPECT_EQ(PluginConfig->OutDevice, "");
    EXPECT_FALSE(PathExists(Proper())) << "nothing is written before a change or Quit";
    EXPECT_EQ(qv::Clock.PluginDir, Base() + "Plugins\\");
    Module->Quit();
    EXPECT_EQ(WinAmpAPIMan, nullptr);
    EXPECT_EQ(PluginConfig, nullptr);
    EXPECT_EQ(FileLines(Proper()), InitialFile);
}

TEST_F(LinkedLibrarySession, OlderFileIsReadDeletedAndMovedAtInit) {
    WriteWholeFile(Older(), "[Quellspring]\r\nSongEndFudgeFactor=0.25\r\nOutDevice=\r\n");
    // The folder may exist already; the move happens while the file does not.
    ASSERT_TRUE(CreateFolderPath(Base() + "Plugins"));
    Init();
    EXPECT_DOUBLE_EQ(qv::Clock.SongEndFudgeFactor, 0.25);
    EXPECT_EQ(PluginConfig->IniFileName, Proper());
    EXPECT_FALSE(PathExists(Older()));
    EXPECT_EQ(FileLines(Proper()), (TLines{"[Quellspring]", "SongEndFudgeFactor=0.25",
                                           "PlaybackFudgeFactor=0.0", "OutDevice="}));
}

TEST_F(LinkedLibrarySession, AChangedValueIsWrittenAtOnceAndReadByTheNextInit) {
    Init();
    PluginConfig->StorePlaybackFudgeFactor("0.125");
    EXPECT_EQ(FileLines(Proper()), (TLines{"[Quellspring]", "SongEndFudgeFactor=0.0",
                                           "PlaybackFudgeFactor=0.125", "OutDevice="}));
    Module->Quit();
    Init();
    EXPECT_EQ(PluginConfig->PlaybackFudgeFactor, "0.125");
    EXPECT_DOUBLE_EQ(qv::Clock.PlaybackFudgeFactor, 0.125);
}

TEST_F(LinkedLibrarySession, AFactorThatDoesNotConvertLeavesTheCoresValue) {
    ASSERT_TRUE(CreateFolderPath(Base() + "Plugins"));
    WriteWholeFile(Proper(),
                   "[Quellspring]\r\nPlaybackFudgeFactor=abc\r\nSongEndFudgeFactor=0.02\r\n");
    qv::Clock.PlaybackFudgeFactor = 0.375;
    Init();
    EXPECT_EQ(PluginConfig->PlaybackFudgeFactor, "abc");
    EXPECT_DOUBLE_EQ(qv::Clock.PlaybackFudgeFactor, 0.375);
    EXPECT_DOUBLE_EQ(qv::Clock.SongEndFudgeFactor, 0.02);
}

TEST_F(LinkedLibrarySession, UninstallDeletesTheFileAndNothingRecreatesIt) {
    Init();
    PluginConfig->StoreOutDevice("QVQ_Other");
    ASSERT_TRUE(PathExists(Proper()));
    EXPECT_EQ(winampUninstallPlugin(nullptr, nullptr, 0), 0);
    EXPECT_FALSE(PathExists(Proper()));
    PluginConfig->StoreOutDevice("QVQ_Sink");
    Module->Quit();
    EXPECT_FALSE(PathExists(Proper()));
}

TEST_F(LinkedLibrarySession, RefusedSavesStopNeitherInitNorQuit) {
    WriteWholeFile(Base() + "Plugins", "a file where the folder belongs");
    Init();
    EXPECT_EQ(qv::Clock.CoreInitialised, 1);
    EXPECT_THROW(PluginConfig->StoreOutDevice("QVQ_Other"), EQvError);
    Module->Quit();
    EXPECT_EQ(qv::Clock.CoreInitialised, 0);
    EXPECT_EQ(WinAmpAPIMan, nullptr);
    EXPECT_EQ(PluginConfig, nullptr);
    EXPECT_EQ(ReadWholeFile(Base() + "Plugins"), "a file where the folder belongs");
}

TEST_F(PlayerSession, TheBuiltLibraryKeepsItsSettingsBesideThePlayers) {
    const TLibrary library(LoadLibraryA(QV_OUTPUT_DLL));
    ASSERT_NE(library, nullptr) << QV_OUTPUT_DLL << " error " << GetLastError();
    const auto getOut = Export<winampGetOutModuleType>(library.get(), "winampGetOutModule");
    ASSERT_NE(getOut, nullptr);
    Out_Module* const module = getOut();
    module->hMainWindow = Player.Window();

    module->Init();
    EXPECT_TRUE(FolderExists(Base() + "Plugins"));
    EXPECT_GE(Player.Count(player::IpcGetIniFile), 1);
    module->Quit();
    EXPECT_EQ(FileLines(Proper()), InitialFile);
}
