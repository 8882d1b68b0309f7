// The user at the player's controls: stop, pause, seek and volume at given
// moments of wall time from the first Open. The main thread runs them, as the
// player does when the user clicks, through the transport of the decoder in use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Console.h"
#include "tools/standin_player/Options.h"
#include "tools/standin_player/PlayerWindow.h"
#include "tools/standin_player/Transport.h"

namespace standin {

class UserActions {
public:
    UserActions(const PlayerOptions& options, Transport& transport, PlayerAnswers& answers);

    // One more action, at `atMs`.
    void Add(std::int64_t atMs, std::string what, std::function<void()> act);

    // Runs every action due by `elapsedMs` that has not run yet.
    void RunDue(std::int64_t elapsedMs, Console& console);

private:
    struct Step {
        std::int64_t atMs;
        std::string what;
        std::function<void()> act;
        bool done = false;
        // A step that comes `thenAfterMs` after this one ran (-1: none), as
        // a user lets go of pause a while after pressing it, however late
        // the press was.
        std::int64_t thenAfterMs = -1;
        std::string thenWhat = {};
        std::function<void()> thenAct = {};
    };

    void Sort();

    std::vector<Step> steps_;
};

} // namespace standin
