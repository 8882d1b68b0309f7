// Owners for the Win32 handles the player holds: each releases its handle
// exactly once, and moving one leaves the source empty.
#pragma once

#include <windows.h>

#include <utility>

namespace standin {

template <class H, class Traits> class UniqueOwner {
public:
    UniqueOwner() = default;
    explicit UniqueOwner(H handle) : handle_(handle) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : handle_(std::exchange(other.handle_, H{})) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, H{});
        }
        return *this;
    }
    ~UniqueOwner() { Reset(); }

    H Get() const { return handle_; }
    explicit operator bool() const { return handle_ != H{}; }
    void Reset() {
        if (handle_ != H{})
            Traits::Release(handle_);
        handle_ = H{};
    }

private:
    H handle_{};
};

struct KernelHandleTraits {
    static void Release(HANDLE handle) { CloseHandle(handle); }
};
struct LibraryTraits {
    static void Release(HMODULE module) { FreeLibrary(module); }
};
struct WindowTraits {
    static void Release(HWND window) { DestroyWindow(window); }
};

using KernelHandle = UniqueOwner<HANDLE, KernelHandleTraits>;
using LibraryHandle = UniqueOwner<HMODULE, LibraryTraits>;
using WindowHandle = UniqueOwner<HWND, WindowTraits>;

// A registered window class, unregistered when the owner goes.
class WindowClass {
public:
    WindowClass(const char* name, WNDPROC procedure, HINSTANCE instance);
    WindowClass(const WindowClass&) = delete;
    WindowClass& operator=(const WindowClass&) = delete;
    ~WindowClass();

    const char* Name() const { return name_; }
    bool Registered() const { return atom_ != 0; }

private:
    const char* name_;
    HINSTANCE instance_;
    ATOM atom_ = 0;
};

inline WindowClass::WindowClass(const char* name, WNDPROC procedure, HINSTANCE instance)
    : name_(name), instance_(instance) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name;
    atom_ = RegisterClassA(&windowClass);
}

inline WindowClass::~WindowClass() {
    if (atom_ != 0)
        UnregisterClassA(name_, instance_);
}

} // namespace standin
