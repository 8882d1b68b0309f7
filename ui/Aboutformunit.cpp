#include "ui/Aboutformunit.h"

#include "ui/FormWindow.h"

namespace {
constexpr UINT EndModalMessage = WM_APP + 1;
}

LRESULT CALLBACK TAboutForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* const self = reinterpret_cast<TAboutForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (self != nullptr && (message == WM_CLOSE || message == EndModalMessage)) {
        if (message == WM_CLOSE && self->ModalResult == 0)
            self->ModalResult = 2; // cancel
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TAboutForm::TAboutForm(HWND owner) : Owner(owner) {
    const char* const className = qv::RegisterFormClass("QVQuellspringAboutForm", WindowProc);
    Window = CreateWindowExA(WS_EX_DLGMODALFRAME, className, "About",
                             WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                             200, owner, nullptr, qv::OwnInstance(), this);
}

TAboutForm::~TAboutForm() {
    if (Window != nullptr && IsWindow(Window))
        DestroyWindow(Window);
}

int TAboutForm::ShowAbout(bool) {
    if (Window == nullptr)
        return 0;
    ModalResult = 0;
    const bool ownerWasEnabled = Owner != nullptr && IsWindowEnabled(Owner);
    if (ownerWasEnabled)
        EnableWindow(Owner, FALSE);
    ShowWindow(Window, SW_SHOWNORMAL);
    MSG message;
    while (IsWindowVisible(Window) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (ownerWasEnabled)
        EnableWindow(Owner, TRUE);
    return ModalResult;
}

void TAboutForm::CloseWithResult(int modalResult) {
    ModalResult = modalResult;
    PostMessageA(Window, EndModalMessage, 0, 0);
}
