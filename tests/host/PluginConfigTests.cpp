#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "host/Configunit.h"
#include "host/Errors.h"
#include "host/FolderUtils.h"
#include "host/WinAmpAPIUnit.h"
#include "tests/host/HostTestSupport.h"

using namespace hosttest;

namespace {

using TLines = std::vector<std::string>;

// A text in the system's ANSI code page with characters beyond ASCII, or
// nothing when the code page cannot hold them.
std::optional<std::string> AnsiText(const wchar_t* text) {
    char converted[256] = {};
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, converted,
                                           sizeof converted, nullptr, &lossy);
    if (length == 0 || lossy)
        return std::nullopt;
    return std::string(converted);
}

// The player's settings live in a scratch folder; its manager is the one
// the store finds in the exported variable.
class PluginConfigTest : public testing::Test {
protected:
    PluginConfigTest() {
        Player.AnswerText(player::IpcGetIniFile, Base() + "player.ini");
        Module.hMainWindow = Player.Window();
        Manager = std::make_unique<TWinAmpAPIMan>(&Module);
        WinAmpAPIMan = Manager.get();
    }
    ~PluginConfigTest() override { WinAmpAPIMan = nullptr; }

    const std::string& Base() const { return Scratch.Path(); }
    std::string Proper() const { return Base() + "Plugins\\QVQuellspring.ini"; }
    std::string Older() const { return Base() + "QVQuellspring.ini"; }

    TScratchFolder Scratch;
    TTestPlayer Player;
    Out_Module Module = {};
    std::unique_ptr<TWinAmpAPIMan> Manager;
};

} // namespace

TEST_F(PluginConfigTest, OlderFileStaysInUseWhenThePluginsFileCannotBeWritten) {
    WriteWholeFile(Older(), "[Quellspring]\r\nOutDevice=Speakers\r\n");
    WriteWholeFile(Base() + "Plugins", "a file where the folder belongs");

    const TPluginConfig store;

    EXPECT_EQ(store.OutDevice, "Speakers");
    EXPECT_EQ(store.IniFileName, Older());
    EXPECT_EQ(FileLines(Older()), (TLines{"[Quellspring]", "OutDevice=Speakers"}));
}

// An older file that could not be deleted after the move (read-only, or a
// virtualised folder) must not bring its values back at the next start.
TEST_F(PluginConfigTest, AnUndeletableOlderFileIsNotMovedOverTheCurrentOne) {
    ASSERT_TRUE(CreateFolderPath(Base() + "Plugins"));
    WriteWholeFile(Proper(), "[Quellspring]\r\nOutDevice=Current\r\n");
    WriteWholeFile(Older(), "[Quellspring]\r\nOutDevice=Stale\r\n");
    ASSERT_TRUE(SetFileAttributesA(Older().c_str(), FILE_ATTRIBUTE_READONLY));

    const TPluginConfig store;

    EXPECT_EQ(store.IniFileName, Proper());
    EXPECT_EQ(store.OutDevice, "Current");
    SetFileAttributesA(Older().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PluginConfigTest, MissingKeysSectionOrContentLeaveTheInitialValues) {
    ASSERT_TRUE(CreateFolderPath(Base() + "Plugins"));
    WriteWholeFile(Proper(), "[Quellspring]\r\nOutDevice=QVQ_Sink(2)\r\n");
    {
        const TPluginConfig store;
        EXPECT_EQ(store.SongEndFudgeFactor, "0.0");
        EXPECT_EQ(store.PlaybackFudgeFactor, "0.0");
        EXPECT_EQ(store.OutDevice, "QVQ_Sink(2)");
    }
    for (const std::string content : {"", "[Elsewhere]\r\nOutDevice=x\r\n"}) {
        SCOPED_TRACE("file: \"" + content + "\"");
        WriteWholeFile(Proper(), content);
        TPluginConfig store;
        EXPECT_EQ(store.OutDevice, "");
        store.StoreOutDevice("y");
        TPluginConfig again;
        EXPECT_EQ(again.OutDevice, "y");
    }
}

TEST_F(PluginConfigTest, AnEmptyValueReadsAsEmpty) {
    ASSERT_TRUE(CreateFolderPath(Base() + "Plugins"));
    WriteWholeFile(Proper(), "[Quellspring]\r\nPlaybackFudgeFactor=\r\n");
    const TPluginConfig store;
    EXPECT_EQ(store.PlaybackFudgeFactor, "");
}

TEST_F(PluginConfigTest, SettersWriteAllKeysOnlyWhenTheTextChanges) {
    TPluginConfig store;
    store.StorePlaybackFudgeFactor("0.0");
    EXPECT_FALSE(PathExists(Proper()));

    store.StorePlaybackFudgeFactor("fast");
    EXPECT_EQ(FileLines(Proper()), (TLines{"[Quellspring]", "SongEndFudgeFactor=0.0",
                                           "PlaybackFudgeFactor=fast", "OutDevice="}));
    store.StoreSongEndFudgeFactor("0.02");
    store.StoreOutDevice("QVQ_Sink");
    store.StoreOutDevice("qvq_sink"); // letter case counts
    EXPECT_EQ(FileLines(Proper()), (TLines{"[Quellspring]", "SongEndFudgeFactor=0.02",
                                           "PlaybackFudgeFactor=fast", "OutDevice=qvq_sink"}));
}

TEST_F(PluginConfigTest, AnyTextUpToTheReadLimitComesBackAsStored) {
    std::vector<std::string> texts = {" padded both ends ",
                                      "\ttab",
                                      "\"quoted\"",
                                      "'single'",
                                      "\"",
                                      "say \"hi\"",
                                      "a=b;c[d]",
                                      "#not a comment",
                                      std::string(2047, 'x'),
                                      " " + std::string(2045, 'x') + " ",
                                      ""};
    if (const auto device = AnsiText(L"Lautsprecher (K\u00fcche) \u00e9t\u00e9 \u00b5"))
        texts.push_back(*device);
    else
        ADD_FAILURE() << "the ANSI code page " << GetACP() << " lacks the test's letters";

    for (const std::string& text : texts) {
        SCOPED_TRACE("text: \"" + text.substr(0, 40) + "\"");
        // The same text with a plain last letter, within the limit.
        const std::string other = text.size() < 2047 ? text + "1" : "1" + text.substr(1);
        {
            TPluginConfig store;
            store.StoreOutDevice(text);
            store.StoreSongEndFudgeFactor(other);
        }
        const TPluginConfig reread;
        EXPECT_EQ(reread.OutDevice, text);
        EXPECT_EQ(reread.SongEndFudgeFactor, other);
    }
}

TEST_F(PluginConfigTest, RefusedSaveRaisesWithThePathAndTheDestructorSwallowsIt) {
    const std::string unwritable = Base() + "missing\\QVQuellspring.ini";
    auto store = std::make_unique<TPluginConfig>();
    store->IniFileName = unwritable;
    try {
        store->StoreOutDevice("Speakers");
        ADD_FAILURE() << "the refused save did not raise";
    } catch (const EQvError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + unwritable);
    }
    EXPECT_EQ(store->OutDevice, "Speakers") << "the value stays for the next save";
    EXPECT_THROW(store->Save(), EQvError);
    store.reset(); // must not throw
    EXPECT_FALSE(PathExists(unwritable));
}

TEST(PluginConfigWithoutHost, TellsAndWorksOnTheCurrentFolder) {
    ASSERT_EQ(WinAmpAPIMan, nullptr);
    const TScratchFolder scratch;
    const TCurrentFolder current(scratch.Path());
    WriteWholeFile(scratch.Path() + "QVQuellspring.ini", "[Quellspring]\r\nOutDevice=Here\r\n");
    {
        TMessageBoxCloser closer("Info");
        const TPluginConfig store;
        const std::vector<std::string> texts = closer.Finish();
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Oops! ConfigInit before WinAmpAPIManInit"),
                  texts.end());
        EXPECT_EQ(store.IniFileName, scratch.Path() + "QVQuellspring.ini");
        EXPECT_EQ(store.OutDevice, "Here");
    }
    EXPECT_TRUE(PathExists(scratch.Path() + "QVQuellspring.ini")) << "never moved";
    EXPECT_FALSE(PathExists(scratch.Path() + "Plugins"));
}

TEST(FolderHelpers, CreateFolderPathMakesEveryMissingParent) {
    const TScratchFolder scratch;
    const std::string deep = scratch.Path() + "a\\b\\c\\";
    EXPECT_FALSE(FolderExists(deep));
    EXPECT_TRUE(CreateFolderPath(deep));
    EXPECT_TRUE(FolderExists(scratch.Path() + "a\\b\\c"));
    EXPECT_TRUE(CreateFolderPath(deep)) << "an existing folder is success";

    WriteWholeFile(scratch.Path() + "file", "");
    EXPECT_FALSE(FolderExists(scratch.Path() + "file"));
    EXPECT_FALSE(CreateFolderPath(scratch.Path() + "file\\sub"));
    EXPECT_FALSE(PathExists(scratch.Path() + "file\\sub"));
}

TEST(FolderHelpers, CreateFolderPathEdges) {
    EXPECT_TRUE(CreateFolderPath("Q:"));
    EXPECT_TRUE(CreateFolderPath("Q:\\"));
    try {
        CreateFolderPath("");
        ADD_FAILURE() << "an empty path did not raise";
    } catch (const EQvError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to create directory");
    }
    const TScratchFolder scratch;
    const TCurrentFolder current(scratch.Path());
    EXPECT_TRUE(CreateFolderPath("bare"));
    EXPECT_TRUE(FolderExists(scratch.Path() + "bare"));
}
