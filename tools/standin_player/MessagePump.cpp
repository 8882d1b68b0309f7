#include "tools/standin_player/MessagePump.h"

namespace standin {

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool WaitPumping(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = timeoutMs == INFINITE ? INFINITE
                           : spent >= timeoutMs  ? 0
                                                 : timeoutMs - spent;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        PumpMessages();
        if (left == 0)
            return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    }
}

} // namespace standin
