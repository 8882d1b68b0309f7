#include "tools/standin_player/Console.h"

#include <cstdio>
#include <io.h>

namespace standin {
namespace {

constexpr std::int64_t TerminalIntervalMs = 100;
constexpr std::int64_t LogIntervalMs = 1000;

} // namespace

Console::Console(bool quiet) : terminal_(_isatty(_fileno(stdout)) != 0), quiet_(quiet) {}

void Console::Progress(int outputMs, int writtenMs, std::int64_t wallMs) {
    const std::int64_t interval = terminal_ ? TerminalIntervalMs : LogIntervalMs;
    if (quiet_ || (lastShownMs_ >= 0 && wallMs - lastShownMs_ < interval))
        return;
    lastShownMs_ = wallMs;
    std::printf(terminal_ ? "\rprogress: output_ms=%d written_ms=%d wall_ms=%lld   "
                          : "progress: output_ms=%d written_ms=%d wall_ms=%lld\n",
                outputMs, writtenMs, static_cast<long long>(wallMs));
    std::fflush(stdout);
    lineOpen_ = terminal_;
}

void Console::Note(const std::string& line) {
    Finish();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void Console::Finish() {
    if (!lineOpen_)
        return;
    std::printf("\n");
    std::fflush(stdout);
    lineOpen_ = false;
}

} // namespace standin
