#include "tools/standin_player/UserActions.h"

#include <algorithm>
#include <utility>

namespace standin {

UserActions::UserActions(const PlayerOptions& options, Transport& transport,
                         PlayerAnswers& answers) {
    if (options.stopAt.Wanted())
        steps_.push_back({options.stopAt.atMs, "stop", [&transport] { transport.Stop(); }});
    if (options.pauseAt.Wanted()) {
        steps_.push_back({options.pauseAt.atMs, "pause", [&transport] { transport.Pause(true); },
                          false, options.pauseMs, "unpause",
                          [&transport] { transport.Pause(false); }});
    }
    if (options.seekAt.Wanted()) {
        const int to = options.seekToMs;
        steps_.push_back({options.seekAt.atMs, "seek to " + std::to_string(to),
                          [&transport, to] { transport.Seek(to); }});
    }
    if (options.volumeAt.Wanted()) {
        const int volume = options.volume;
        steps_.push_back({options.volumeAt.atMs, "volume " + std::to_string(volume),
                          [&transport, &answers, volume] {
                              answers.volume = volume;
                              transport.SetVolume(volume);
                          }});
    }
    Sort();
}

void UserActions::Sort() {
    std::stable_sort(steps_.begin(), steps_.end(),
                     [](const Step& a, const Step& b) { return a.atMs < b.atMs; });
}

void UserActions::Add(std::int64_t atMs, std::string what, std::function<void()> act) {
    steps_.push_back({atMs, std::move(what), std::move(act)});
    Sort();
}

void UserActions::RunDue(std::int64_t elapsedMs, Console& console) {
    std::vector<Step> following;
    for (Step& step : steps_) {
        if (step.done || step.atMs > elapsedMs)
            continue;
        step.act();
        step.done = true;
        console.Note("action: " + step.what + " at wall_ms=" + std::to_string(elapsedMs));
        if (step.thenAfterMs >= 0)
            following.push_back({elapsedMs + step.thenAfterMs, step.thenWhat, step.thenAct});
    }
    if (following.empty())
        return;
    steps_.insert(steps_.end(), following.begin(), following.end());
    Sort();
}

} // namespace standin
