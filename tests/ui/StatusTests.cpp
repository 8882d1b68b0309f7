// The status read-out's text: number forms, TotalTime in single precision,
// cutting into lines, and the lines an engine on the fake device gives.
#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/EngineTestSupport.h"
#include "ui/StatusReadout.h"

namespace {

TEST(StatusFormat, FloatsShowFifteenSignificantDigits) {
    const struct {
        double Value;
        const char* Text;
    } cases[] = {
        {1.0, "1"},
        {0.5, "0.5"},
        {0.0, "0"},
        {-2.25, "-2.25"},
        {double(1.0f / 3.0f), "0.333333343267441"},
        {0.1 + 0.2, "0.3"},
        {123456789012345678.0, "1.23456789012346e+17"},
        {0.00001, "1e-05"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::FloatText(c.Value), c.Text) << c.Value;
}

TEST(StatusFormat, TotalTimeIsSinglePrecisionAndZeroWithoutAFormat) {
    const struct {
        int32_t Bytes;
        uint32_t BlockAlign;
        int32_t Rate;
        const char* Text;
    } cases[] = {
        {176400, 4, 44100, "1"}, {58800, 4, 44100, "0.333333343267441"},
        {176400, 0, 44100, "0"}, {176400, 4, 0, "0"},
        {176400, 4, -1, "0"},    {0, 4, 44100, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::FloatText(qv::TotalTimeSeconds(c.Bytes, c.BlockAlign, c.Rate)), c.Text)
            << c.Bytes << " bytes, align " << c.BlockAlign << ", rate " << c.Rate;
}

TEST(StatusFormat, TextToFloatTakesWholeNumbersWithEitherSeparator) {
    const struct {
        const char* Text;
        char Separator;
        bool Converts;
        double Value;
    } cases[] = {
        {"12", '.', true, 12.0},      {" 0.5 ", '.', true, 0.5},  {"+1.5", '.', true, 1.5},
        {"-3e2", '.', true, -300.0},  {"0.5x", '.', false, 0.0},  {"", '.', false, 0.0},
        {"x", '.', false, 0.0},       {"1 2", '.', false, 0.0},   {"0,5", '.', false, 0.0},
        {"0,5", ',', true, 0.5},      {"0.5", ',', true, 0.5},    {" -1,25 ", ',', true, -1.25},
        {"1.000,5", ',', false, 0.0}, {"1,2,3", ',', false, 0.0}, {",", ',', false, 0.0},
    };
    for (const auto& c : cases) {
        double value = 99.0;
        EXPECT_EQ(qv::TryTextToFloat(c.Text, value, c.Separator), c.Converts)
            << '"' << c.Text << "\" with " << c.Separator;
        EXPECT_EQ(value, c.Converts ? c.Value : 99.0) << '"' << c.Text << "\" with " << c.Separator;
    }
}

TEST(StatusFormat, TakeTokenCutsAtTheFirstDelimiter) {
    const struct {
        const char* Text;
        const char* Delimiter;
        const char* Token;
        const char* Rest;
    } cases[] = {
        {"a\r\nb\r\n", "\r\n", "a", "b\r\n"},
        {"\r\nb", "\r\n", "", "b"},
        {"no break", "\r\n", "no break", ""},
        {"", "\r\n", "", ""},
        {"a-b", "", "a-b", ""},
        {"a::b::c", "::", "a", "b::c"},
    };
    for (const auto& c : cases) {
        std::string text = c.Text;
        EXPECT_EQ(qv::TakeToken(text, c.Delimiter), c.Token) << '"' << c.Text << '"';
        EXPECT_EQ(text, c.Rest) << '"' << c.Text << '"';
    }
}

std::vector<std::string> Lines(std::string text) {
    std::vector<std::string> lines;
    while (!text.empty())
        lines.push_back(qv::TakeLine(text));
    return lines;
}

class StatusEngineTest : public EngineTest {};

TEST_F(StatusEngineTest, ReadOutHasSixteenLinesThenTheUnderruns) {
    OpenDevice();
    StartPlaying(4);
    const std::string text = qv::BuildStatusText(*Engine, 0.5, 0.01);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << "the last line ends too";
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 17u) << text;
    const char* const labels[] = {
        "State: ",      "BuffSize: ",  "UnusedCount: ", "ToWriteCount: ", "InQueueCount: ",
        "TotalBytes: ", "TotalTime: ", "LPFFTS: ",      "LSEFFTS: ",      "",
        "srate: ",      "bps: ",       "nch: ",         "ba: ",           "Volume: ",
        "Pan: ",        "Underruns: "};
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(0, std::string(labels[i]).size()), labels[i]) << lines[i];
    EXPECT_EQ(lines[0], "State: Playing");
    EXPECT_EQ(lines[7], "LPFFTS: 0.5");
    EXPECT_EQ(lines[8], "LSEFFTS: 0.01");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(lines[10], "srate: 44100");
    EXPECT_EQ(lines[11], "bps: 16");
    EXPECT_EQ(lines[12], "nch: 2");
    EXPECT_EQ(lines[13], "ba: 4");
    EXPECT_EQ(lines[16], "Underruns: 0");
    EXPECT_EQ(lines[5], "TotalBytes: " + std::to_string(4 * TestBlock));
    EXPECT_EQ(lines[6], "TotalTime: " + qv::FloatText(double(float(4 * TestBlock / 4) / 44100.0f)));
}

TEST_F(StatusEngineTest, UnderrunsCountDryRunsSinceTheDeviceWasOpened) {
    OpenDevice();
    StartPlaying(2);
    while (Fake.CompleteOne()) {
    }
    ASSERT_TRUE(WaitForState(*Engine, psOpen)) << "the device ran dry";
    EXPECT_EQ(Engine->GetUnderruns(), 1u);
    EXPECT_EQ(Lines(qv::BuildStatusText(*Engine, 0, 0)).back(), "Underruns: 1");

    Engine->PostClose();
    ASSERT_TRUE(WaitForState(*Engine, psIdle));
    OpenDevice();
    EXPECT_EQ(Engine->GetUnderruns(), 0u) << "a new open starts the count again";
}

TEST(StatusFormat, AFailedInitIsShownAsOneLine) {
    EXPECT_EQ(qv::InitFailureText("NULL Winamp Main HWND Var."),
              "Init failed: NULL Winamp Main HWND Var.\r\n");
}

} // namespace
