// The player's settings file gains the removal entry where the player reads
// it, keeps every line it had, and survives a write that fails.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dspproxy/RemovalEntry.h"

namespace {

using namespace std::string_literals;

constexpr char Proxy[] = "C:\\Player\\Plugins\\dsp_qvquellspring.dll";
const std::string Entry = "remove_genplug="s + Proxy;

struct RewriteCase {
    const char* name;
    std::string before;
    std::optional<std::string> after; // nothing: the file is left alone
};

const std::string Utf8Mark = "\xEF\xBB\xBF";
// "[Winamp]" and a line after it, in UTF-16 with its byte-order mark.
const std::string Utf16Le = "\xFF\xFE[\0W\0i\0n\0a\0m\0p\0]\0\r\0\n\0a\0=\0\x31\0\r\0\n\0"s;
const std::string Utf16Be = "\xFE\xFF\0[\0W\0i\0n\0a\0m\0p\0]\0\r\0\n"s;

const RewriteCase RewriteCases[] = {
    {"entry before the next section", "[Winamp]\r\na=1\r\n[Other]\r\n",
     "[Winamp]\r\na=1\r\n" + Entry + "\r\n[Other]\r\n"},
    {"section last in the file", "[x]\r\n[WINAMP]\r\na=1\r\n",
     "[x]\r\n[WINAMP]\r\na=1\r\n" + Entry + "\r\n"},
    {"last line without its end", "[winamp]\r\na=1", "[winamp]\r\na=1\r\n" + Entry + "\r\n"},
    {"no player section", "[Other]\r\na=1", std::nullopt},
    {"blanks around the header", " [Winamp]\r\n[Winamp] \r\n[B]\r\n", std::nullopt},
    {"only the first of two sections", "[Winamp]\r\n[B]\r\n[WINAMP]\r\n[C]\r\n",
     "[Winamp]\r\n" + Entry + "\r\n[B]\r\n[WINAMP]\r\n[C]\r\n"},
    {"a file with CR LF split only there", "[Winamp]\r\na=1\nb\r\n[B]\rc\r\n",
     "[Winamp]\r\na=1\nb\r\n" + Entry + "\r\n[B]\rc\r\n"},
    {"zero bytes kept", "[Winamp]\r\na=\0\0x\r\n[B]\r\n"s,
     "[Winamp]\r\na=\0\0x\r\n"s + Entry + "\r\n[B]\r\n"},
    {"empty lines kept", "[Winamp]\r\n\r\n\r\n[B]", "[Winamp]\r\n\r\n\r\n" + Entry + "\r\n[B]\r\n"},
    {"empty file", "", std::nullopt},
    {"UTF-8 byte-order mark kept", Utf8Mark + "[Winamp]\r\na=1\r\n[B]\r\n",
     Utf8Mark + "[Winamp]\r\na=1\r\n" + Entry + "\r\n[B]\r\n"},
    {"LF line ends kept", "[Winamp]\na=1\n\n[B]\nb=2",
     "[Winamp]\na=1\n\n" + Entry + "\n[B]\nb=2\n"},
    {"byte-order mark and LF", Utf8Mark + "[winamp]\na=1\n",
     Utf8Mark + "[winamp]\na=1\n" + Entry + "\n"},
    {"UTF-16 little-endian left alone", Utf16Le, std::nullopt},
    {"UTF-16 big-endian left alone", Utf16Be, std::nullopt},
};

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, PlacesTheEntryAsThePlayerReadsIt) {
    EXPECT_EQ(qv::RewriteWithRemovalEntry(GetParam().before, Proxy), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Files, RewriteTest, testing::ValuesIn(RewriteCases),
                         [](const testing::TestParamInfo<RewriteCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ' || c == '-')
                                     c = '_';
                             return name;
                         });

constexpr char MarkHeader[] = "[Quellspring Detector DSP]";

struct MarkCase {
    const char* name;
    std::string before;
    const char* cause; // "" takes the mark out
    std::optional<std::string> after;
};

const MarkCase MarkCases[] = {
    {"added at the end", "[Winamp]\r\na=1\r\n", "removal",
     "[Winamp]\r\na=1\r\n"s + MarkHeader + "\r\nRestartRequestedFor=removal\r\n"},
    {"replaced where it was",
     "[A]\r\n[quellspring detector dsp]\r\nrestartrequestedfor=x\r\n[B]\r\n", "y",
     "[A]\r\n[B]\r\n"s + MarkHeader + "\r\nRestartRequestedFor=y\r\n"},
    {"taken out", "[Winamp]\na=1\n"s + MarkHeader + "\nRestartRequestedFor=x\n[B]\nb=2\n", "",
     "[Winamp]\na=1\n[B]\nb=2\n"},
    {"in the file's spelling", Utf8Mark + "[Winamp]\n", "z",
     Utf8Mark + "[Winamp]\n" + MarkHeader + "\nRestartRequestedFor=z\n"},
    {"not into UTF-16", Utf16Le, "removal", std::nullopt},
};

class RestartMarkTest : public testing::TestWithParam<MarkCase> {};

TEST_P(RestartMarkTest, IsWrittenInASectionOfItsOwnAndReadBack) {
    const MarkCase& c = GetParam();
    const std::optional<std::string> after = qv::WithRestartMark(c.before, c.cause);
    EXPECT_EQ(after, c.after);
    if (after) {
        EXPECT_EQ(qv::RestartMark(*after), c.cause);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RestartMarkTest, testing::ValuesIn(MarkCases),
                         [](const testing::TestParamInfo<MarkCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ' || c == '-' || c == '\'')
                                     c = '_';
                             return name;
                         });

TEST(RestartMarkTest, IsReadOnlyFromItsOwnSection) {
    EXPECT_EQ(qv::RestartMark(""), "");
    EXPECT_EQ(qv::RestartMark("[Winamp]\r\nRestartRequestedFor=x\r\n"), "");
    EXPECT_EQ(qv::RestartMark("[Quellspring Detector DSP]\r\nother=1\r\n"), "");
    EXPECT_EQ(qv::RestartMark(Utf16Le), "");
}

std::vector<std::string> SplitAt(std::string text, const std::string& end) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t at = text.find(end);
        lines.push_back(text.substr(0, at));
        text.erase(0, at == std::string::npos ? text.size() : at + end.size());
    }
    return lines;
}

bool IsWinampHeader(const std::string& line) {
    std::string upper = line;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper == "[WINAMP]";
}

// Files built from lines a real settings file has, and the odd bytes a
// damaged one may have, with any line end.
std::string GenerateFile(std::mt19937& random) {
    static const char* const Lines[] = {
        "[Winamp]", "[WINAMP]",        "[winamp]",           "[WinAmp]",
        "[Other]",  "[in_mp3]",        "outname=out_ds.dll", "a=1",
        "",         " [Winamp]",       "[Winamp]x",          "[",
        "x=[y]",    "remove_genplug=z"};
    static const char* const Ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", ""};
    std::uniform_int_distribution<int> count(0, 14);
    std::uniform_int_distribution<size_t> pickLine(0, std::size(Lines) - 1);
    std::uniform_int_distribution<size_t> pickEnd(0, std::size(Ends) - 1);
    std::uniform_int_distribution<int> oneIn(0, 9);
    std::string file;
    for (int i = count(random); i > 0; --i) {
        file += Lines[pickLine(random)];
        if (oneIn(random) == 0)
            file += '\0';
        if (oneIn(random) == 0)
            file += static_cast<char>(random() % 256);
        file += Ends[pickEnd(random)];
    }
    return file;
}

TEST(RewriteTest, RandomFilesKeepEveryLineAndGainOneEntryAtTheEndOfThePlayerSection) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 4000; ++round) {
        const std::string before = GenerateFile(random);
        const std::optional<std::string> after = qv::RewriteWithRemovalEntry(before, Proxy);
        SCOPED_TRACE("round " + std::to_string(round));
        // A file without CR LF is written with its LF.
        const std::string end =
            before.find("\r\n") == std::string::npos && before.find('\n') != std::string::npos
                ? "\n"
                : "\r\n";
        const std::vector<std::string> original = SplitAt(before, end);
        if (before.starts_with("\xFF\xFE") || before.starts_with("\xFE\xFF"))
            continue; // read as UTF-16
        size_t header = original.size();
        for (size_t i = 0; i < original.size() && header == original.size(); ++i)
            if (IsWinampHeader(original[i]))
                header = i;
        if (header == original.size()) {
            ASSERT_EQ(after, std::nullopt) << "no player section: no entry";
            continue;
        }
        ASSERT_TRUE(after.has_value());
        ASSERT_TRUE(after->ends_with(end));
        std::vector<std::string> lines = SplitAt(*after, end);
        std::vector<size_t> entries;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == Entry)
                entries.push_back(i);
        ASSERT_EQ(entries.size(), 1u);
        const size_t at = entries.front();
        ASSERT_GT(at, header);
        for (size_t i = header + 1; i < at; ++i)
            ASSERT_FALSE(!lines[i].empty() && lines[i][0] == '[') << "entry after a later section";
        ASSERT_TRUE(at + 1 == lines.size() || (!lines[at + 1].empty() && lines[at + 1][0] == '['))
            << "entry not at the end of the section";
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
        ASSERT_EQ(lines, original);
    }
}

// A folder of its own for each test, removed with everything in it.
class FileReplaceTest : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "qvq-replace-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        file_ = folder_ + "\\winamp.ini";
    }
    void TearDown() override {
        for (const std::string& name : Names()) {
            const std::string path = folder_ + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return names;
    }
    void Write(const std::string& content) { ASSERT_TRUE(qv::ReplaceFileContent(file_, content)); }
    std::string folder_;
    std::string file_;
};

const std::string OldContent = "[Winamp]\r\nouts=1\0x\r\n[B]\r\n"s + std::string(70000, 'k');
const std::string NewContent = std::string(150000, 'n') + "\r\n";

TEST_F(FileReplaceTest, ReplacesTheWholeContentAndLeavesNoTemporaryFile) {
    Write(OldContent);
    EXPECT_TRUE(qv::ReplaceFileContent(file_, NewContent));
    EXPECT_EQ(qv::ReadWholeFile(file_), NewContent);
    EXPECT_EQ(Names(), std::vector<std::string>{"winamp.ini"});
}

bool FailHalfWay(HANDLE file, const char* data, DWORD size, DWORD& written) {
    written = 0;
    if (!WriteFile(file, data, size / 2, &written, nullptr))
        return false;
    SetLastError(ERROR_DISK_FULL);
    return false;
}

TEST_F(FileReplaceTest, AFailedWriteLeavesTheOriginalByteForByte) {
    Write(OldContent);
    EXPECT_FALSE(qv::ReplaceFileContent(file_, NewContent, FailHalfWay));
    EXPECT_EQ(qv::ReadWholeFile(file_), OldContent);
    EXPECT_EQ(Names(), std::vector<std::string>{"winamp.ini"});
}

TEST_F(FileReplaceTest, AReadOnlyFileIsLeftAsItWas) {
    Write(OldContent);
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(qv::ReplaceFileContent(file_, NewContent));
    EXPECT_EQ(qv::ReadWholeFile(file_), OldContent);
    EXPECT_EQ(Names(), std::vector<std::string>{"winamp.ini"});
}

TEST_F(FileReplaceTest, AMissingFileReadsAsNothing) {
    EXPECT_EQ(qv::ReadWholeFile(file_), std::nullopt);
}

TEST_F(FileReplaceTest, AFileLargerThanAnySettingsFileReadsAsNothing) {
    for (const ULONGLONG size : {qv::MaxSettingsFileSize, qv::MaxSettingsFileSize + 1}) {
        {
            const HANDLE file = CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            LARGE_INTEGER end;
            end.QuadPart = static_cast<LONGLONG>(size);
            const bool sized =
                SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
            CloseHandle(file);
            ASSERT_TRUE(sized);
        }
        const std::optional<std::string> content = qv::ReadWholeFile(file_);
        if (size <= qv::MaxSettingsFileSize) {
            EXPECT_EQ(content.has_value() ? content->size() : 0u, size);
        } else {
            EXPECT_EQ(content, std::nullopt);
        }
    }
}

// ReplaceFileA's ways of failing, as its documentation gives them, with and
// without a working rename after it. With a backup name the half-done
// failures leave the original under that name; without one, nowhere.
enum class HalfDone { Nothing, OriginalToBackup, OriginalGone };
struct ReplaceFailure {
    const char* name;
    DWORD error;
    HalfDone done;
    bool moveWorks;
};

const ReplaceFailure* Failing = nullptr;

BOOL WINAPI FailingReplace(LPCSTR replaced, LPCSTR, LPCSTR backup) {
    if (Failing->done == HalfDone::OriginalToBackup)
        MoveFileExA(replaced, backup, MOVEFILE_REPLACE_EXISTING);
    if (Failing->done == HalfDone::OriginalGone)
        DeleteFileA(replaced);
    SetLastError(Failing->error);
    return FALSE;
}

BOOL WINAPI MaybeFailingMove(LPCSTR from, LPCSTR to) {
    if (Failing->moveWorks)
        return qv::FileSteps::MoveStep(from, to);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

const ReplaceFailure ReplaceFailures[] = {
    {"nothing removed, move works", ERROR_UNABLE_TO_REMOVE_REPLACED, HalfDone::Nothing, true},
    {"nothing removed, move fails", ERROR_UNABLE_TO_REMOVE_REPLACED, HalfDone::Nothing, false},
    {"not moved, move works", ERROR_UNABLE_TO_MOVE_REPLACEMENT, HalfDone::OriginalToBackup, true},
    {"not moved, move fails", ERROR_UNABLE_TO_MOVE_REPLACEMENT, HalfDone::OriginalToBackup, false},
    {"not moved, original gone", ERROR_UNABLE_TO_MOVE_REPLACEMENT, HalfDone::OriginalGone, false},
    {"not moved 2, move works", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, HalfDone::OriginalToBackup,
     true},
    {"not moved 2, move fails", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, HalfDone::OriginalToBackup,
     false},
    {"not moved 2, original gone", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, HalfDone::OriginalGone,
     false},
};

TEST_F(FileReplaceTest, WhateverTheSwapDoesTheFileKeepsTheOldOrTheNewContent) {
    for (const ReplaceFailure& failure : ReplaceFailures) {
        SCOPED_TRACE(failure.name);
        Write(OldContent);
        Failing = &failure;
        qv::FileSteps steps;
        steps.replace = FailingReplace;
        steps.move = MaybeFailingMove;
        const bool replaced = qv::ReplaceFileContent(file_, NewContent, steps);
        Failing = nullptr;
        EXPECT_EQ(qv::ReadWholeFile(file_), replaced ? NewContent : OldContent);
        EXPECT_EQ(Names(), std::vector<std::string>{"winamp.ini"});
        if (failure.moveWorks) {
            EXPECT_TRUE(replaced);
        }
    }
}

} // namespace
