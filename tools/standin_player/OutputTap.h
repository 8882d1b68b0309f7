// The output plug-in as the player hands it to input plug-ins: a record of
// its own whose functions reach the loaded output plug-in unchanged, on the
// caller's thread, and count on the way what the summary and the checks
// report: the audio written, where each Flush went, and whether a Write runs.
//
// How it works: the record's functions are plain C functions, so they find
// the one tap that exists through a pointer set for the tap's life; the calls
// that need no counting go straight to the output plug-in's own functions.
// Open comes from the input plug-in's Play and Close from its Stop, both on
// the main thread; Write and Flush come from its decoding thread. What both
// threads read while playing is atomic; the result and the flushes are read
// only when no decoding thread runs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "host/PlayerInterface.h"
#include "tools/standin_player/Decoder.h"
#include "tools/standin_player/Handles.h"

namespace standin {

class OutputTap {
public:
    struct FlushRecord {
        int toMs;
        int outputMsAfter; // GetOutputTime right after the Flush
    };

    // Throws std::logic_error when another tap exists.
    OutputTap(Out_Module& output, PlaybackClock& clock, bool logWrites);
    OutputTap(const OutputTap&) = delete;
    OutputTap& operator=(const OutputTap&) = delete;
    ~OutputTap();

    Out_Module& Module() { return record_; }
    Out_Module& Output() const { return output_; }
    PlaybackResult& Result() { return result_; }
    const std::vector<FlushRecord>& Flushes() const { return flushes_; }
    // Notes a moment of the run (main thread, while no decoding thread runs).
    void Note(const char* name, int value);

    // Signalled while a Write runs.
    HANDLE WriteRunning() const { return writing_.Get(); }
    bool Writing() const { return WaitForSingleObject(writing_.Get(), 0) == WAIT_OBJECT_0; }
    std::int64_t WritesStarted() const { return writesStarted_.load(); }
    int Closes() const { return closes_.load(); }
    // The length of the last block written, in ms of audio.
    double LastBlockMs() const { return lastBlockMs_.load(); }

private:
    static int QV_CDECL Open(int rate, int channels, int bits, int bufferMs, int preBufferMs);
    static void QV_CDECL Close();
    static int QV_CDECL Write(char* buffer, int length);
    static void QV_CDECL Flush(int timeMs);

    Out_Module& output_;
    Out_Module record_;
    PlaybackClock& clock_;
    bool logWrites_;
    KernelHandle writing_;
    PcmFormat format_;
    PlaybackResult result_;
    std::vector<FlushRecord> flushes_;
    std::atomic<std::int64_t> writesStarted_{0};
    std::atomic<int> closes_{0};
    std::atomic<double> lastBlockMs_{0.0};
};

} // namespace standin
