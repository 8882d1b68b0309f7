// Placeholder until the engine lands: an engine that reports psIdle at once.
#include "engine/Waveoutplaythreadunit.h"

const char* PlayStateName(unsigned value) {
    static const char* const names[] = {"GoAway", "Idle",  "Init", "Open", "Playing",
                                        "Paused", "Close", "Reset", "Exit", "Error"};
    return value < 10 ? names[value] : "Unkown";
}

TWaveOutPlayThread::TWaveOutPlayThread(bool) { State = psIdle; }
TWaveOutPlayThread::~TWaveOutPlayThread() = default;
void TWaveOutPlayThread::SetPriority(int) {}
void TWaveOutPlayThread::WaitForStateChange(int32_t) {}
bool TWaveOutPlayThread::RequestOpen(const std::string&, int32_t, int32_t, int32_t, int32_t) {
    return false;
}
void TWaveOutPlayThread::QueueData(const QueueBlock&) {}
void TWaveOutPlayThread::PostRestart() {}
void TWaveOutPlayThread::PostClose() {}
void TWaveOutPlayThread::PostPause() {}
void TWaveOutPlayThread::PostVolume(int32_t) {}
void TWaveOutPlayThread::PostPan(int32_t) {}
int32_t TWaveOutPlayThread::GetTotalBytes() { return 0; }
void TWaveOutPlayThread::Quit() {}
DWORD TWaveOutPlayThread::WaitFor() { return 0; }
