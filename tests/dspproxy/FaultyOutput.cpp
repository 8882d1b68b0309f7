// An output library for the proxy's tests, under the name the proxy loads:
// its DSP header and module look like the real ones, but every DSP function
// faults (an access violation, or a division by zero in the fourth entry).
// "_InterComs" stores the proxy's callback in the exported "_InterCom", so a
// test can play the library's unload.
#include "host/PlayerInterface.h"

extern "C" {
TInterComProc InterCom = nullptr;
}

namespace {

char Description[] = "Faulty detector DSP";
volatile int Zero = 0;

int* NullTarget() {
    static int* volatile target = nullptr;
    return target;
}

void QV_CDECL Config(winampDSPModule*) {
    *NullTarget() = 1;
}
int QV_CDECL Init(winampDSPModule*) {
    return *NullTarget();
}
int QV_CDECL ModifySamples(winampDSPModule*, short int*, int, int, int, int) {
    *NullTarget() = 2;
    return 0;
}
void QV_CDECL Quit(winampDSPModule*) {
    *NullTarget() = 3;
}
int QV_CDECL FourthEntry(int key) {
    return key / Zero;
}

winampDSPModule Module = {Description, nullptr,       nullptr, Config,
                          Init,        ModifySamples, Quit,    nullptr};

winampDSPModule* QV_CDECL GetModule(int index) {
    return index == 0 ? &Module : nullptr;
}

winampDSPHeader Header = {0x20, Description, GetModule, FourthEntry};

} // namespace

extern "C" {

winampDSPHeader* QV_CDECL QuellspringwinampDSPGetHeader2() {
    return &Header;
}

int QV_CDECL InterComs(TInterComProc callback) {
    InterCom = callback;
    return 0;
}

} // extern "C"
