#include "tools/standin_player/OutputTap.h"

#include <stdexcept>

namespace standin {
namespace {

OutputTap* Active = nullptr;

} // namespace

OutputTap::OutputTap(Out_Module& output, PlaybackClock& clock, bool logWrites)
    : output_(output), record_(output), clock_(clock), logWrites_(logWrites),
      writing_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (Active != nullptr)
        throw std::logic_error("only one output tap can exist");
    if (!writing_)
        throw std::runtime_error("cannot create the output tap's event");
    record_.Open = Open;
    record_.Close = Close;
    record_.Write = Write;
    record_.Flush = Flush;
    Active = this;
}

OutputTap::~OutputTap() {
    Active = nullptr;
}

// The input plug-ins are another library: nothing may unwind into them.
int QV_CDECL OutputTap::Open(int rate, int channels, int bits, int bufferMs, int preBufferMs) {
    OutputTap& tap = *Active;
    const int opened = tap.output_.Open(rate, channels, bits, bufferMs, preBufferMs);
    try {
        tap.format_ = PcmFormat{rate, channels, bits};
        tap.clock_.StartOnce();
        if (opened < 0 && tap.result_.error.empty())
            tap.result_.error = OpenFailureText(tap.format_, opened);
    } catch (...) {
    }
    return opened;
}

void QV_CDECL OutputTap::Close() {
    ++Active->closes_;
    Active->output_.Close();
}

int QV_CDECL OutputTap::Write(char* buffer, int length) {
    OutputTap& tap = *Active;
    ++tap.writesStarted_;
    SetEvent(tap.writing_.Get());
    const int result = tap.output_.Write(buffer, length);
    ResetEvent(tap.writing_.Get());
    if (length <= 0 || tap.format_.BytesPerSecond() <= 0)
        return result;
    tap.lastBlockMs_ = 1000.0 * length / tap.format_.BytesPerSecond();
    try {
        CountWrite(tap.result_, length, tap.format_, tap.output_, tap.clock_, tap.logWrites_);
    } catch (...) {
    }
    return result;
}

void OutputTap::Note(const char* name, int value) {
    result_.events.push_back({name, value, MonotonicMs()});
}

void QV_CDECL OutputTap::Flush(int timeMs) {
    OutputTap& tap = *Active;
    try {
        tap.Note("flush", timeMs);
    } catch (...) {
    }
    tap.output_.Flush(timeMs);
    try {
        tap.flushes_.push_back({timeMs, tap.output_.GetOutputTime()});
    } catch (...) {
    }
}

} // namespace standin
