// When the proxy asks the player to restart (request 135), and when not.
//
// How it works. A restart is asked for at most once per load of the proxy,
// and only after its cause has been written into the player's settings file
// (a section of the proxy's own, see RestartMark): a load that finds the same
// cause already written knows that the last restart did not cure it and asks
// for none, so a cause that stays (a removal entry the player cannot act on,
// another output plug-in kept while the detector DSP is selected) costs one
// restart and not an endless loop of them. A file the proxy cannot rewrite
// (unreadable, UTF-16, huge, read-only) means no restart at all: without the
// mark nothing would stop the next one. The mark is taken out once the
// output module is seen initialised, so a later cause gets its restart.
//
// The window thread calls KnowSettingsFile (it asks the player, by a sent
// request, where the file is) before anything else; the decoding thread may
// then call ForOutputNotInitialised and OutputInitialised, which only touch
// the file, never the player's window.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace qv::proxy {

constexpr std::string_view RemovalCause = "removal";
constexpr std::string_view OutputNotInitialisedCause = "output not initialised";

class TRestartRequest {
public:
    // The player's settings file, once per load; the mark an earlier load
    // left there is read now.
    void KnowSettingsFile(const std::string& path);
    bool KnowsSettingsFile();
    // The output library is missing: adds the removal entry for ownPath and
    // the mark in one rewrite. True when the caller is to post the restart:
    // the entry is in the file and no earlier restart was asked for it.
    bool ForRemoval(const std::string& ownPath);
    // The detector DSP runs while the output module is not initialised
    // (every block says so; only the first counts). True when the caller is
    // to post the restart.
    bool ForOutputNotInitialised();
    // A call into the detector DSP found the output module initialised.
    void OutputInitialised() noexcept;

private:
    bool WriteMark(std::string_view cause, std::string_view removalEntryFor);
    bool TakeThePost();

    std::mutex lock_;
    bool looked_ = false;
    std::string settingsFile_;
    std::string earlierMark_;
    bool markedThisLoad_ = false;
    std::atomic<bool> outputDecided_ = false;
    std::atomic<bool> outputSeenInitialised_ = false;
    std::atomic<bool> posted_ = false;
};

} // namespace qv::proxy
