#include "tools/standin_player/Tune.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace standin {
namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double NoteSeconds = 0.25;
constexpr double Level = 0.5; // leaves headroom, and keeps a listener's ears safe
constexpr char ToneScheme[] = "tone://";
constexpr double LongestToneSeconds = 3600.0;

// A major pentatonic phrase, as semitones above A4; it loops for longer tunes.
constexpr int Melody[] = {3, 5, 7, 10, 12, 10, 7, 5, 3, 7, 12, 15, 12, 7, 5, 3};

double NoteFrequency(int semitones) {
    return 440.0 * std::pow(2.0, semitones / 12.0);
}

// Short attack and a decay to the end of the note, so notes do not click.
double Envelope(double t) {
    constexpr double Attack = 0.01;
    if (t < Attack)
        return t / Attack;
    return std::exp(-4.0 * (t - Attack) / NoteSeconds);
}

double Triangle(double phase) {
    const double x = phase - std::floor(phase);
    return x < 0.5 ? 4.0 * x - 1.0 : 3.0 - 4.0 * x;
}

// Odd notes are sine, even ones a softer triangle: two timbres, one melody.
double TuneValue(double time) {
    const auto note = static_cast<std::int64_t>(time / NoteSeconds);
    const double inNote = time - static_cast<double>(note) * NoteSeconds;
    const double frequency = NoteFrequency(Melody[note % std::ssize(Melody)]);
    const double phase = frequency * inNote;
    const double wave = (note % 2 != 0) ? std::sin(2.0 * Pi * phase) : 0.7 * Triangle(phase);
    return Level * Envelope(inNote) * wave;
}

void AppendSample(std::vector<char>& out, double value, int bits) {
    value = std::clamp(value, -1.0, 1.0);
    if (bits == 8) {
        out.push_back(static_cast<char>(static_cast<int>(std::lround(value * 127.0)) + 128));
        return;
    }
    const double full = std::ldexp(1.0, bits - 1) - 1.0;
    const auto sample = static_cast<std::int64_t>(std::llround(value * full));
    for (int i = 0; i < bits / 8; ++i)
        out.push_back(static_cast<char>((sample >> (8 * i)) & 0xFF));
}

} // namespace

PcmAudio MakeTune(double seconds, const PcmFormat& format) {
    PcmAudio audio;
    audio.format = format;
    const auto frames = static_cast<std::int64_t>(std::llround(seconds * format.sampleRate));
    audio.data.reserve(static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) *
                       static_cast<std::size_t>(format.BytesPerFrame()));
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const double value = TuneValue(static_cast<double>(frame) / format.sampleRate);
        for (int channel = 0; channel < format.channels; ++channel) {
            const double gain = (channel % 2 == 0) ? 1.0 : 0.8;
            AppendSample(audio.data, value * gain, format.bitsPerSample);
        }
    }
    return audio;
}

std::string ToneName(const ToneRequest& tone) {
    char name[128];
    std::snprintf(name, sizeof name, "%s%.17g?rate=%d&channels=%d&bits=%d", ToneScheme,
                  tone.seconds, tone.format.sampleRate, tone.format.channels,
                  tone.format.bitsPerSample);
    return name;
}

std::optional<ToneRequest> ParseToneName(const std::string& name) {
    const std::size_t schemeLength = sizeof ToneScheme - 1;
    if (name.size() <= schemeLength || _strnicmp(name.c_str(), ToneScheme, schemeLength) != 0)
        return std::nullopt;
    ToneRequest tone;
    int used = -1;
    const int read = std::sscanf(name.c_str() + schemeLength, "%lf?rate=%d&channels=%d&bits=%d%n",
                                 &tone.seconds, &tone.format.sampleRate, &tone.format.channels,
                                 &tone.format.bitsPerSample, &used);
    if (read != 4 || used < 0 || name.c_str()[schemeLength + used] != '\0' ||
        !(tone.seconds > 0.0 && tone.seconds <= LongestToneSeconds) ||
        !IsSupportedFormat(tone.format))
        return std::nullopt;
    return tone;
}

} // namespace standin
