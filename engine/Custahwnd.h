// A hidden utility window whose messages go to a member function of an
// object, made with the calling module's own instance (a DLL never registers
// its classes on the host's instance).
//
// How it works. The class is registered with the system default window
// procedure, so that any module may find it registered already and reuse it;
// after creation the window is subclassed with one shared procedure that
// fetches the handler from the window's user data and calls it with a message
// record. The handler fills the record's Result. Exceptions never leave the
// window procedure: a fault in a handler answers the default procedure's
// result.
#pragma once

#include <windows.h>

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// An object plus one of its member functions taking a message record.
struct TWndMethod {
    void* Object = nullptr;
    void (*Call)(void* object, TMessage& message) = nullptr;

    template <class T, void (T::*Method)(TMessage&)> static TWndMethod Of(T& object) {
        return {&object,
                [](void* self, TMessage& message) { (static_cast<T*>(self)->*Method)(message); }};
    }
    explicit operator bool() const { return Call != nullptr; }
};

// Creates the window; null when it cannot be made. The thunk lives as long as
// the window, however the window ends.
HWND CustAllocateHWnd(const WNDCLASSA& windowClass, TWndMethod method);
// Destroys the window; WM_DESTROY and WM_NCDESTROY still reach the handler.
void CustDeallocateHWnd(HWND window);
// The instance of the module that holds this code (the DLL, or the test program).
HINSTANCE CodeModuleInstance();
