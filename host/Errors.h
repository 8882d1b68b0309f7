// The one exception type the output library raises. Entry points that the
// player or the proxy call catch it (and everything else) at their boundary.
#pragma once

#include <stdexcept>
#include <string>

class EQvError : public std::runtime_error {
public:
    explicit EQvError(const std::string& message) : std::runtime_error(message) {}
};
