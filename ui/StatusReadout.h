// The configuration window's live status read-out as text: the engine's
// state and counters and the core's two timing values, one line each, every
// line ended by CR LF. Built on the window thread from unlocked snapshots of
// the engine (only GetTotalBytes takes its lock), so the lines of one
// read-out need not agree with each other.
#pragma once

#include <cstdint>
#include <string>

class TWaveOutPlayThread;

namespace qv {

constexpr char LineBreak[] = "\r\n";

// Returns the part of text before the first delimiter and removes it and the
// delimiter from text; without a delimiter (or with an empty one) returns all
// of text and empties it.
std::string TakeToken(std::string& text, const std::string& delimiter);
std::string TakeLine(std::string& text);

// The general float form with 15 significant digits: no trailing zeros, the
// user's decimal separator, exponent notation for extreme magnitudes.
std::string FloatText(double value);
// Text to float, blanks around allowed, with the user's decimal separator or
// a dot; false when the whole text is not one number. The configuration
// window and Init read the fudge factors by this one rule.
bool TryTextToFloat(const std::string& text, double& value);
// The same with the given separator in place of the user's.
bool TryTextToFloat(const std::string& text, double& value, char separator);

// Seconds of audio in totalBytes, computed in single precision as the
// read-out shows it; 0 while no format is open.
float TotalTimeSeconds(int32_t totalBytes, uint32_t blockAlign, int32_t sampleRate);

// The 16 lines of the engine read-out, then "Underruns: " and the number of
// times the device ran dry since it was opened.
std::string BuildStatusText(TWaveOutPlayThread& engine, double lpffts, double lseffts);

// What a failed Init leaves to show while no engine exists.
std::string InitFailureText(const std::string& error);

} // namespace qv
