// The modeless configuration window ("Quellspring Config"). It lives on the
// player's window thread from the Config hook until Quit or uninstall.
#pragma once

#include <windows.h>

class TConfigForm {
public:
    explicit TConfigForm(HWND owner);
    ~TConfigForm();
    TConfigForm(const TConfigForm&) = delete;
    TConfigForm& operator=(const TConfigForm&) = delete;

    void Show();
    void BringToFront();
    HWND Handle() const { return Window; }

private:
    HWND Window = nullptr;
};
