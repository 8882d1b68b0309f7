// The one exception type the output library raises. Entry points that the
// player or the proxy call catch it (and everything else) at their boundary.
#pragma once

#include <stdexcept>
#include <string>

class EQvError : public std::runtime_error {
public:
    explicit EQvError(const std::string& message) : std::runtime_error(message) {}
};

namespace qv {

// A record function's body with everything it throws caught: the player (or
// the other DLL) gets `failed`, or nothing, and never an exception.
template <class F, class R> R Guarded(F&& body, R failed) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}
template <class F> void Guarded(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

} // namespace qv
