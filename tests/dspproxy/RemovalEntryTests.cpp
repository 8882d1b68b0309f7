// The player's settings file gains the removal entry where the player reads
// it, keeps every line it had, and survives a write that fails.
#include <gtest/gtest.h>

#include <windows.h>

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
    std::string after;
};

const RewriteCase RewriteCases[] = {
    {"entry before the next section", "[Winamp]\r\na=1\r\n[Other]\r\n",
     "[Winamp]\r\na=1\r\n" + Entry + "\r\n[Other]\r\n"},
    {"section last in the file", "[x]\r\n[WINAMP]\r\na=1\r\n",
     "[x]\r\n[WINAMP]\r\na=1\r\n" + Entry + "\r\n"},
    {"last line without its end", "[winamp]\r\na=1", "[winamp]\r\na=1\r\n" + Entry + "\r\n"},
    {"no player section", "[Other]\r\na=1", "[Other]\r\na=1\r\n"},
    {"blanks around the header", " [Winamp]\r\n[Winamp] \r\n[B]\r\n",
     " [Winamp]\r\n[Winamp] \r\n[B]\r\n"},
    {"only the first of two sections", "[Winamp]\r\n[B]\r\n[WINAMP]\r\n[C]\r\n",
     "[Winamp]\r\n" + Entry + "\r\n[B]\r\n[WINAMP]\r\n[C]\r\n"},
    {"lines split only at CR LF", "[Winamp]\na=1\r\n[B]\rc\r\n", "[Winamp]\na=1\r\n[B]\rc\r\n"},
    {"zero bytes kept", "[Winamp]\r\na=\0\0x\r\n[B]\r\n"s,
     "[Winamp]\r\na=\0\0x\r\n"s + Entry + "\r\n[B]\r\n"},
    {"empty lines kept", "[Winamp]\r\n\r\n\r\n[B]", "[Winamp]\r\n\r\n\r\n" + Entry + "\r\n[B]\r\n"},
    {"empty file", "", ""},
};

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, PlacesTheEntryAsThePlayerReadsIt) {
    EXPECT_EQ(qv::RewriteWithRemovalEntry(GetParam().before, Proxy), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Files, RewriteTest, testing::ValuesIn(RewriteCases),
                         [](const testing::TestParamInfo<RewriteCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == ' ')
                                     c = '_';
                             return name;
                         });

std::vector<std::string> SplitAtCrLf(std::string text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t end = text.find("\r\n");
        lines.push_back(text.substr(0, end));
        text.erase(0, end == std::string::npos ? text.size() : end + 2);
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
        const std::string after = qv::RewriteWithRemovalEntry(before, Proxy);
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(after.empty() || after.ends_with("\r\n"));

        const std::vector<std::string> original = SplitAtCrLf(before);
        std::vector<std::string> lines = SplitAtCrLf(after);
        std::vector<size_t> entries;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == Entry)
                entries.push_back(i);

        size_t header = original.size();
        for (size_t i = 0; i < original.size() && header == original.size(); ++i)
            if (IsWinampHeader(original[i]))
                header = i;
        if (header == original.size()) {
            ASSERT_EQ(lines, original) << "no player section: no entry";
            continue;
        }
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

} // namespace
