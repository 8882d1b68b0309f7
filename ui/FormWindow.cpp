#include "ui/FormWindow.h"

#include "engine/Custahwnd.h"

namespace qv {

HINSTANCE OwnInstance() {
    return CodeModuleInstance();
}

const char* RegisterFormClass(const char* className, WNDPROC procedure, UINT style,
                              HBRUSH background) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(OwnInstance(), className, &existing))
        return className;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = OwnInstance();
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
    return className;
}

TFontOwner CreateFormFont(const char* face, int points, bool bold) {
    int height = points;
    if (points > 0) {
        const TWindowDC screen(nullptr);
        height = -MulDiv(points, GetDeviceCaps(screen.Get(), LOGPIXELSY), 72);
    }
    return TFontOwner(CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face));
}

TFontOwner CreateDialogFont(bool bold) {
    return CreateFormFont("MS Sans Serif", 8, bold);
}

SIZE TextExtent(HDC dc, const std::string& text) {
    SIZE size{0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &size);
    return size;
}

POINT ScreenCentred(int width, int height) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return {area.left + (area.right - area.left - width) / 2,
            area.top + (area.bottom - area.top - height) / 2};
}

TFormWindow::~TFormWindow() {
    const HWND window = Window;
    if (window != nullptr && IsWindow(window)) {
        // The object is on its way out: the procedure must not reach it
        // while the window goes.
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        Window = nullptr;
        DestroyWindow(window);
    }
}

void TFormWindow::CreateBound(DWORD exStyle, const char* className, const char* caption,
                              DWORD style, int left, int top, int width, int height, HWND parent,
                              HMENU id) {
    CreateWindowExA(exStyle, className, caption, style, left, top, width, height, parent, id,
                    OwnInstance(), this);
    // Window is set at WM_NCCREATE, so that the messages of creation reach
    // the object already.
}

LRESULT TFormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return Default(message, wParam, lParam);
}

LRESULT CALLBACK TFormWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* const created = static_cast<TFormWindow*>(
            reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        if (created != nullptr)
            created->Window = window;
    }
    auto* const self = reinterpret_cast<TFormWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->Window = nullptr;
        try {
            self->WindowGone();
        } catch (...) {
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // A failed paint must still validate its region, or WM_PAINT would
        // come back for ever; every other message gets the default answer.
        if (message == WM_PAINT)
            ValidateRect(window, nullptr);
        return message == WM_PAINT ? 0 : DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace qv
