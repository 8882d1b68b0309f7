// The loader's entry of the output library. Nothing may unwind into the
// loader, so both notifications catch everything.
#include <windows.h>

#include "core/MainUnit.h"
#include "host/OwnUnwinder.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        qv::TakeOwnUnwindTables(instance); // before anything here may throw
    try {
        if (reason == DLL_PROCESS_ATTACH)
            qv::ProcessAttach(instance);
        else if (reason == DLL_PROCESS_DETACH)
            qv::ProcessDetach();
    } catch (...) {
    }
    return TRUE;
}
