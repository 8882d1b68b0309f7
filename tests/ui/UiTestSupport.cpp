#include "tests/ui/UiTestSupport.h"

namespace uitest {

void PumpPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

void Click(HWND window, int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    SendMessageA(window, WM_MOUSEMOVE, 0, at);
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(window, WM_LBUTTONUP, 0, at);
}

void TypeKey(HWND window, WPARAM key, char character) {
    SendMessageA(window, WM_KEYDOWN, key, 1);
    if (character != 0)
        SendMessageA(window, WM_CHAR, WPARAM(static_cast<unsigned char>(character)), 1);
    SendMessageA(window, WM_KEYUP, key, LPARAM(0xC0000001));
}

void TypeText(HWND window, const std::string& text) {
    for (const char c : text)
        TypeKey(window, WPARAM(VkKeyScanA(c) & 0xFF), c);
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace uitest
