// Waiting on the main thread without starving the window: plug-ins on other
// threads send requests to the player's window and wait for the answer.
#pragma once

#include <windows.h>

namespace standin {

// Dispatches every message queued for this thread's windows.
void PumpMessages();

// Waits up to `timeoutMs` for `handle`, answering messages meanwhile; returns
// true when the handle was signalled.
bool WaitPumping(HANDLE handle, DWORD timeoutMs);

} // namespace standin
