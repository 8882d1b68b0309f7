// The modal about window ("About").
#pragma once

#include <windows.h>

class TAboutForm {
public:
    explicit TAboutForm(HWND owner);
    ~TAboutForm();
    TAboutForm(const TAboutForm&) = delete;
    TAboutForm& operator=(const TAboutForm&) = delete;

    // Shows the window modally; returns its modal result.
    int ShowAbout(bool fromDsp);
    // Ends the modal display with the given result.
    void CloseWithResult(int modalResult);
    HWND Handle() const { return Window; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Owner = nullptr;
    HWND Window = nullptr;
    int ModalResult = 0;
};
