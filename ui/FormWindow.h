// What the library's own windows share: class registration with the
// library's instance (never the host's), a window object bound to its HWND
// whose procedure catches everything, and RAII owners for GDI objects.
//
// How it works. TFormWindow::Procedure stores the object's address at
// WM_NCCREATE and hands every later message to HandleMessage. An exception
// from a handler stops at the procedure: it must not unwind into the player's
// message loop (or through the system's frames, which carry no unwind
// tables in the i686 build). At WM_NCDESTROY the object forgets its handle
// and gets WindowGone, after which the procedure no longer touches it, so a
// window may free its own object there.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace qv {

HINSTANCE OwnInstance();
// Registers (once) a class with the given procedure and class style; returns its name.
const char* RegisterFormClass(const char* className, WNDPROC procedure, UINT style = 0,
                              HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));

struct TGdiObjectDeleter {
    void operator()(HGDIOBJ object) const {
        if (object != nullptr)
            DeleteObject(object);
    }
};
using TFontOwner = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiObjectDeleter>;
using TBrushOwner = std::unique_ptr<std::remove_pointer_t<HBRUSH>, TGdiObjectDeleter>;
using TPenOwner = std::unique_ptr<std::remove_pointer_t<HPEN>, TGdiObjectDeleter>;
using TBitmapOwner = std::unique_ptr<std::remove_pointer_t<HBITMAP>, TGdiObjectDeleter>;

struct TIconDeleter {
    void operator()(HICON icon) const {
        if (icon != nullptr)
            DestroyIcon(icon);
    }
};
using TIconOwner = std::unique_ptr<std::remove_pointer_t<HICON>, TIconDeleter>;

// A font of the given face at a point size (negative: character height in pixels).
TFontOwner CreateFormFont(const char* face, int points, bool bold = false);
// The forms' font: "MS Sans Serif" 8 pt (Wine substitutes its own sans serif).
TFontOwner CreateDialogFont(bool bold = false);

// Selects an object into a device context for one scope.
class TSelection {
public:
    TSelection(HDC dc, HGDIOBJ object) : Dc(dc), Previous(SelectObject(dc, object)) {}
    ~TSelection() { SelectObject(Dc, Previous); }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;

private:
    HDC Dc;
    HGDIOBJ Previous;
};

// A window's device context outside a paint cycle.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) : Window(window), Dc(GetDC(window)) {}
    ~TWindowDC() {
        if (Dc != nullptr)
            ReleaseDC(Window, Dc);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const { return Dc; }

private:
    HWND Window;
    HDC Dc;
};

// A memory device context compatible with the screen.
class TMemoryDC {
public:
    TMemoryDC() : Dc(CreateCompatibleDC(nullptr)) {}
    ~TMemoryDC() {
        if (Dc != nullptr)
            DeleteDC(Dc);
    }
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    HDC Get() const { return Dc; }

private:
    HDC Dc;
};

// Text extent of one line in the font selected into dc.
SIZE TextExtent(HDC dc, const std::string& text);

class TFormWindow {
public:
    TFormWindow() = default;
    virtual ~TFormWindow();
    TFormWindow(const TFormWindow&) = delete;
    TFormWindow& operator=(const TFormWindow&) = delete;

    HWND Handle() const { return Window; }

protected:
    // Creates the window with this object bound to it.
    void CreateBound(DWORD exStyle, const char* className, const char* caption, DWORD style,
                     int left, int top, int width, int height, HWND parent, HMENU id = nullptr);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The window is gone; the object may free itself here.
    virtual void WindowGone() {}
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) const {
        return DefWindowProcA(Window, message, wParam, lParam);
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Window = nullptr;
};

// Centres an outer window size on the work area of the primary screen.
POINT ScreenCentred(int width, int height);

} // namespace qv
