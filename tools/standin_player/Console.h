// What the player prints while it plays: a live progress line and notes of
// what the user did. On a terminal the progress line is rewritten in place;
// into a pipe or file it becomes one line per second, so logs stay readable.
#pragma once

#include <cstdint>
#include <string>

namespace standin {

class Console {
public:
    explicit Console(bool quiet);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    void Progress(int outputMs, int writtenMs, std::int64_t wallMs);
    void Note(const std::string& line);
    // Ends a progress line left open on the terminal.
    void Finish();

private:
    bool terminal_;
    bool quiet_;
    bool lineOpen_ = false;
    std::int64_t lastShownMs_ = -1;
};

} // namespace standin
