#include "dspproxy/RestartRequest.h"

#include <optional>

#include "dspproxy/RemovalEntry.h"

namespace qv::proxy {

void TRestartRequest::KnowSettingsFile(const std::string& path) {
    const std::lock_guard hold(lock_);
    if (looked_)
        return;
    looked_ = true;
    settingsFile_ = path;
    if (path.empty())
        return;
    const std::optional<std::string> content = ReadWholeFile(path);
    if (content)
        earlierMark_ = RestartMark(*content);
}

bool TRestartRequest::KnowsSettingsFile() {
    const std::lock_guard hold(lock_);
    return looked_;
}

// With the lock held. The removal entry and the mark go in together, so that
// neither is in the file without the other.
bool TRestartRequest::WriteMark(std::string_view cause, std::string_view removalEntryFor) {
    if (settingsFile_.empty())
        return false;
    const std::optional<std::string> content = ReadWholeFile(settingsFile_);
    if (!content)
        return false;
    std::optional<std::string> rewritten = *content;
    if (!removalEntryFor.empty())
        rewritten = RewriteWithRemovalEntry(*content, removalEntryFor);
    if (rewritten)
        rewritten = WithRestartMark(*rewritten, cause);
    if (!rewritten || !ReplaceFileContent(settingsFile_, *rewritten))
        return false;
    markedThisLoad_ = true;
    return true;
}

bool TRestartRequest::TakeThePost() {
    return !posted_.exchange(true);
}

bool TRestartRequest::ForRemoval(const std::string& ownPath) {
    const std::lock_guard hold(lock_);
    const bool askedBefore = earlierMark_ == RemovalCause;
    return WriteMark(RemovalCause, ownPath) && !askedBefore && TakeThePost();
}

bool TRestartRequest::ForOutputNotInitialised() {
    if (outputDecided_.exchange(true))
        return false;
    const std::lock_guard hold(lock_);
    if (earlierMark_ == OutputNotInitialisedCause)
        return false;
    return WriteMark(OutputNotInitialisedCause, {}) && TakeThePost();
}

void TRestartRequest::OutputInitialised() noexcept {
    if (outputSeenInitialised_.exchange(true))
        return;
    try {
        const std::lock_guard hold(lock_);
        // A mark written by this load stays: its restart is still to come.
        if (earlierMark_.empty() || markedThisLoad_)
            return;
        const std::optional<std::string> content = ReadWholeFile(settingsFile_);
        if (!content || RestartMark(*content).empty())
            return;
        const std::optional<std::string> cleared = WithRestartMark(*content, {});
        if (cleared && ReplaceFileContent(settingsFile_, *cleared))
            earlierMark_.clear();
    } catch (...) {
    }
}

} // namespace qv::proxy
