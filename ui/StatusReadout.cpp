#include "ui/StatusReadout.h"

#include <charconv>
#include <windows.h>

#include "engine/Waveoutplaythreadunit.h"

namespace qv {
namespace {

char DecimalSeparator() {
    char separator[4] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) > 0 &&
        separator[0] != '\0')
        return separator[0];
    return '.';
}

void AddLine(std::string& text, const char* label, const std::string& value) {
    text += label;
    text += value;
    text += LineBreak;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::string TakeToken(std::string& text, const std::string& delimiter) {
    const std::size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter);
    std::string token;
    if (at == std::string::npos) {
        token.swap(text);
        return token;
    }
    token = text.substr(0, at);
    text.erase(0, at + delimiter.size());
    return token;
}

std::string TakeLine(std::string& text) {
    return TakeToken(text, LineBreak);
}

std::string FloatText(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, error == std::errc() ? end : buffer);
    const char separator = DecimalSeparator();
    for (char& c : text)
        if (c == '.')
            c = separator;
    return text;
}

bool TryTextToFloat(const std::string& text, double& value, char separator) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    std::string number = text.substr(first, last - first);
    if (!number.empty() && number.front() == '+')
        number.erase(0, 1);
    // The user's separator and the dot both mark the decimals (the settings
    // file may come from another locale); from_chars wants a dot, and stops
    // at a second one.
    for (char& c : number)
        if (c == separator)
            c = '.';
    if (number.empty())
        return false;
    double parsed = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (error != std::errc() || end != number.data() + number.size())
        return false;
    value = parsed;
    return true;
}

bool TryTextToFloat(const std::string& text, double& value) {
    return TryTextToFloat(text, value, DecimalSeparator());
}

float TotalTimeSeconds(int32_t totalBytes, uint32_t blockAlign, int32_t sampleRate) {
    const float bytes = float(totalBytes);
    const float align = float(blockAlign);
    const float rate = float(sampleRate);
    if (!(align > 0.0f) || !(rate > 0.0f))
        return 0.0f;
    // The x87 unit of the i686 build keeps intermediates wider than a float;
    // the store rounds the quotient to the single precision the read-out shows.
    const volatile float seconds = (bytes / align) / rate;
    return seconds;
}

std::string BuildStatusText(TWaveOutPlayThread& engine, double lpffts, double lseffts) {
    std::string text;
    AddLine(text, "State: ", PlayStateName(engine.State.load()));
    AddLine(text, "BuffSize: ", std::to_string(engine.BuffSize.load()));
    AddLine(text, "UnusedCount: ", std::to_string(engine.UnusedCount.load()));
    AddLine(text, "ToWriteCount: ", std::to_string(engine.ToWriteCount.load()));
    AddLine(text, "InQueueCount: ", std::to_string(engine.InQueueCount.load()));
    // One reading of these three serves TotalBytes, TotalTime, srate and ba.
    const int32_t totalBytes = engine.GetTotalBytes();
    const uint32_t blockAlign = engine.BlockAlign;
    const int32_t sampleRate = engine.SampleRate;
    AddLine(text, "TotalBytes: ", std::to_string(totalBytes));
    AddLine(text,
            "TotalTime: ", FloatText(double(TotalTimeSeconds(totalBytes, blockAlign, sampleRate))));
    AddLine(text, "LPFFTS: ", FloatText(lpffts));
    AddLine(text, "LSEFFTS: ", FloatText(lseffts));
    text += LineBreak;
    AddLine(text, "srate: ", std::to_string(sampleRate));
    AddLine(text, "bps: ", std::to_string(engine.BitsPerSample.load()));
    AddLine(text, "nch: ", std::to_string(engine.Channels.load()));
    AddLine(text, "ba: ", std::to_string(int32_t(blockAlign)));
    AddLine(text, "Volume: ", std::to_string(engine.Volume.load()));
    AddLine(text, "Pan: ", std::to_string(engine.Pan.load()));
    AddLine(text, "Underruns: ", std::to_string(engine.GetUnderruns()));
    return text;
}

std::string InitFailureText(const std::string& error) {
    return "Init failed: " + error + LineBreak;
}

} // namespace qv
