#include "engine/Custahwnd.h"

#include <memory>

namespace {

LRESULT CALLBACK MethodThunk(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (method == nullptr)
        return DefWindowProcA(window, msg, wParam, lParam);
    // The last message a window gets, however it is destroyed: the thunk goes
    // with it, so a window destroyed by a stranger leaks nothing.
    std::unique_ptr<TWndMethod> last;
    if (msg == WM_NCDESTROY) {
        last.reset(method);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
    TMessage message{msg, wParam, lParam, 0};
    try {
        method->Call(method->Object, message);
        return message.Result;
    } catch (...) {
        // Nothing may unwind into the system's dispatcher.
        return DefWindowProcA(window, msg, wParam, lParam);
    }
}

// Registers the class unless it is already registered with the default
// procedure; a registration with another procedure belongs to somebody else's
// idea of the class and is replaced.
bool EnsureClass(const WNDCLASSA& windowClass) {
    WNDCLASSA existing{};
    if (GetClassInfoA(windowClass.hInstance, windowClass.lpszClassName, &existing)) {
        if (existing.lpfnWndProc == DefWindowProcA)
            return true;
        UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
    }
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

HINSTANCE CodeModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&CodeModuleInstance), &module);
    return module;
}

HWND CustAllocateHWnd(const WNDCLASSA& windowClass, TWndMethod method) {
    WNDCLASSA own = windowClass;
    own.hInstance = CodeModuleInstance();
    if (!EnsureClass(own))
        return nullptr;
    const HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, own.lpszClassName, "", WS_POPUP, 0, 0, 0,
                                        0, nullptr, nullptr, own.hInstance, nullptr);
    if (window == nullptr || !method)
        return window;
    auto thunk = std::make_unique<TWndMethod>(method);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(thunk.get()));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MethodThunk));
    thunk.release(); // owned by the window from here; freed at WM_NCDESTROY
    return window;
}

void CustDeallocateHWnd(HWND window) {
    // The thunk is freed at WM_NCDESTROY.
    if (window != nullptr && IsWindow(window))
        DestroyWindow(window);
}
