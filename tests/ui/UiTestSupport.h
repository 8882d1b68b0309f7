// What the window tests share: pumping this thread's messages until a
// condition holds (the windows live on the test's thread, as on the player's
// window thread), and input as a mouse or keyboard would send it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace uitest {

// Dispatches messages until done() or timeoutMs passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// Dispatches what is queued now.
void PumpPending();

// A left click at client coordinates (x, y) of window.
void Click(HWND window, int x, int y);
// A key press and release with its character, as the keyboard sends it.
void TypeKey(HWND window, WPARAM key, char character = 0);
void TypeText(HWND window, const std::string& text);

std::string WindowText(HWND window);

} // namespace uitest
