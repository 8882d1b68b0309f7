#include "ui/Configformunit.h"

#include "ui/FormWindow.h"

TConfigForm::TConfigForm(HWND owner) {
    const char* const className = qv::RegisterFormClass("QVQuellspringConfigForm", DefWindowProcA);
    Window =
        CreateWindowExA(0, className, "Quellspring Config",
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                        CW_USEDEFAULT, 420, 360, owner, nullptr, qv::OwnInstance(), nullptr);
}

TConfigForm::~TConfigForm() {
    if (Window != nullptr && IsWindow(Window))
        DestroyWindow(Window);
}

void TConfigForm::Show() {
    ShowWindow(Window, SW_SHOWNORMAL);
}

void TConfigForm::BringToFront() {
    ShowWindow(Window, SW_SHOWNORMAL);
    SetForegroundWindow(Window);
    BringWindowToTop(Window);
}
