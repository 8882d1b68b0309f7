// TConfigForm, the modeless configuration window ("Quellspring Config"): the
// two fudge factors, the output device, a Reset of the device and the live
// status read-out. Every change is written to the settings store and handed
// to the core at once; there is no Apply.
//
// How it works. The Config hooks create the one window on the player's window
// thread and keep it in ConfigForm. Closing it (Done, the close box, Enter)
// destroys the window, and the window frees its object and clears ConfigForm
// as it goes, so that the next Config opens a new window; Quit and uninstall
// clear the variable first and destroy the object. Timer1 (250 ms) rebuilds
// the status text and repaints the paint box only when the text changed. The
// list of devices comes from the engine's own naming function, so the name
// chosen here is the name the engine resolves.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/FormWindow.h"
#include "ui/Scrollablepaintbox.h"

class TConfigForm : public qv::TFormWindow {
public:
    explicit TConfigForm(HWND owner);
    ~TConfigForm() override;

    void Show();
    void BringToFront();

    // Widgets, by their layout names.
    HWND GroupBox1 = nullptr;
    HWND PlaybackRateFudgeFactorEdit = nullptr;
    HWND GroupBox2 = nullptr;
    HWND SongEndFudgeFactorEdit = nullptr;
    HWND DoneButton = nullptr;
    HWND DSPStatusLabel = nullptr;
    HWND GroupBox3 = nullptr;
    HWND GroupBox7 = nullptr;
    HWND ComboBox1 = nullptr;
    HWND ResetButton = nullptr;
    HWND Panel1 = nullptr;
    std::unique_ptr<TScrollablePaintBox> ScrollablePaintBox1;

    std::string OutDeviceName;
    std::string StatusText;
    bool DSPActiveNow = false;
    bool DSPActiveShown = false;

    void FillOutDeviceList(bool fromSettings);
    void ApplyOutDeviceChoice();
    void Timer1Timer();

    static constexpr UINT_PTR Timer1 = 1;
    static constexpr UINT Timer1Interval = 250;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void WindowGone() override;

private:
    void CreateWidgets();
    HWND AddControl(const char* className, const char* text, DWORD style, int left, int top,
                    int width, int height, int id, HWND parent = nullptr, DWORD exStyle = 0);
    void OnCommand(int id, int code, HWND control);
    void PlaybackRateFudgeFactorEditChange();
    void SongEndFudgeFactorEditChange();
    void ComboBox1Change();
    void ComboBox1Click();
    void ComboBox1KeyUp();
    void ResetButtonClick();
    void DoneButtonClick();
    void OnDialogKey(WPARAM key, HWND control);
    std::vector<HWND> TabOrder() const;
    HWND NextInTabOrder(HWND from, bool back) const;
    void ScrollablePaintBox1Paint(TScrollablePaintBox& sender);
    void MeasureStatus();
    std::string ComboText() const;

    qv::TFontOwner Font;
    bool EditHandlersAttached = false;
    bool ComboHandlersAttached = false;
    HWND LastFocus = nullptr;
};
