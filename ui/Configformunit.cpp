#include "ui/Configformunit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dbt.h>
#include <stdexcept>
#include <vector>

#include "core/DetectorDsp.h"
#include "core/MainUnit.h"
#include "core/PlaybackClock.h"
#include "engine/Waveoutplaythreadunit.h"
#include "host/Configunit.h"
#include "ui/AboutArt.h"
#include "ui/StatusReadout.h"

namespace {

constexpr char FormClassName[] = "QVQuellspringConfigForm";
constexpr int ClientWidth = 267;
constexpr int ClientHeight = 365;
constexpr int OuterWidth = 275;

enum ControlId : int {
    IdPlaybackEdit = 101,
    IdSongEndEdit,
    IdDone,
    IdCombo,
    IdReset,
    IdLabel,
};

// Keys the controls would swallow outside a dialog (Tab, Enter) and every key
// release reach the form through these messages.
constexpr UINT DialogKeyMessage = WM_APP + 40;
constexpr UINT KeyUpMessage = WM_APP + 41;
constexpr char OriginalProcProperty[] = "QVQuellspringOriginalProc";

LRESULT CALLBACK ControlKeyProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto original = reinterpret_cast<WNDPROC>(GetPropA(control, OriginalProcProperty));
    try {
        HWND form = GetAncestor(control, GA_ROOT);
        const bool dialogKey = wParam == VK_TAB || wParam == VK_RETURN || wParam == VK_ESCAPE;
        if (message == WM_KEYDOWN && dialogKey) {
            SendMessageA(form, DialogKeyMessage, wParam, reinterpret_cast<LPARAM>(control));
            return 0;
        }
        if (message == WM_CHAR && (wParam == '\t' || wParam == '\r' || wParam == 27))
            return 0; // already acted on at key-down; no beep
        if (message == WM_KEYUP)
            SendMessageA(form, KeyUpMessage, wParam, reinterpret_cast<LPARAM>(control));
        if (message == WM_NCDESTROY) {
            RemovePropA(control, OriginalProcProperty);
            SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        }
    } catch (...) {
    }
    return original != nullptr ? CallWindowProcA(original, control, message, wParam, lParam)
                               : DefWindowProcA(control, message, wParam, lParam);
}

void HookKeys(HWND control) {
    if (control == nullptr)
        return;
    const LONG_PTR original =
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlKeyProc));
    SetPropA(control, OriginalProcProperty, reinterpret_cast<HANDLE>(original));
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(std::size_t(std::max(length, 0)) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(std::size_t(std::max(copied, 0)));
    return text;
}

// The setting's stored text, then the edit's text, decide the value: a bad
// keystroke keeps the last good value once, and gives 0.0 from the second on.
double FudgeValue(const std::string& stored, const std::string& typed) {
    double value = 0.0;
    if (!qv::TryTextToFloat(stored, value) || !std::isfinite(value))
        value = 0.0;
    double entered = 0.0;
    // An infinite or undefined factor would stall or break the schedule.
    if (qv::TryTextToFloat(typed, entered) && std::isfinite(entered))
        value = entered;
    return value;
}

// A refused save must not keep the change from the core: the store stays
// behind and is written again at its next change or at Quit.
template <class F> void StoreQuietly(F&& store) {
    if (PluginConfig == nullptr)
        return;
    try {
        store(*PluginConfig);
    } catch (...) {
    }
}

} // namespace

TConfigForm::TConfigForm(HWND owner) : Font(qv::CreateDialogFont()) {
    const char* const className = qv::RegisterFormClass(FormClassName, Procedure);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    RECT outer{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    const int height = outer.bottom - outer.top;
    const POINT at = qv::ScreenCentred(OuterWidth, height);
    CreateBound(0, className, "Quellspring Config", style, at.x, at.y, OuterWidth, height, owner);
    if (Window == nullptr)
        throw std::runtime_error("Unable to create the configuration window.");
    const HICON icon = qv::ProductIcon();
    SendMessageA(Window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(Window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    CreateWidgets();

    OutDeviceName.clear();
    StatusText.clear();
    DSPActiveNow = false;
    DSPActiveShown = false;
    // The texts are set with the edits' handlers detached: opening the
    // window writes nothing through them.
    EditHandlersAttached = false;
    if (PluginConfig != nullptr) {
        SetWindowTextA(PlaybackRateFudgeFactorEdit, PluginConfig->PlaybackFudgeFactor.c_str());
        SetWindowTextA(SongEndFudgeFactorEdit, PluginConfig->SongEndFudgeFactor.c_str());
        OutDeviceName = PluginConfig->OutDevice;
    }
    FillOutDeviceList(true);
    EditHandlersAttached = true;
    SetTimer(Window, Timer1, Timer1Interval, nullptr);
}

TConfigForm::~TConfigForm() {
    // Children first, while the objects they call back into still exist.
    if (Window != nullptr && IsWindow(Window)) {
        SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
        const HWND window = Window;
        Window = nullptr;
        DestroyWindow(window);
    }
}

HWND TConfigForm::AddControl(const char* className, const char* text, DWORD style, int left,
                             int top, int width, int height, int id, HWND parent, DWORD exStyle) {
    const HWND control =
        CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, left, top, width,
                        height, parent != nullptr ? parent : Window,
                        reinterpret_cast<HMENU>(INT_PTR(id)), qv::OwnInstance(), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font.get()), FALSE);
    return control;
}

// Controls inside a group box are placed in form coordinates (box origin plus
// their own), since a group box passes no notifications on. Creation order is
// the tab order (TabOrder).
void TConfigForm::CreateWidgets() {
    DoneButton =
        AddControl("BUTTON", "Done", BS_DEFPUSHBUTTON | WS_TABSTOP, 176, 120, 75, 25, IdDone);
    GroupBox2 = AddControl("BUTTON", "Song End Fudge Factor", BS_GROUPBOX, 8, 64, 241, 49, 0);
    SongEndFudgeFactorEdit = AddControl("EDIT", "0.0", ES_AUTOHSCROLL | WS_TABSTOP, 8 + 8, 64 + 16,
                                        225, 21, IdSongEndEdit, nullptr, WS_EX_CLIENTEDGE);
    GroupBox1 = AddControl("BUTTON", "Playback Rate Fudge Factor", BS_GROUPBOX, 8, 8, 241, 49, 0);
    PlaybackRateFudgeFactorEdit =
        AddControl("EDIT", "0.0", ES_AUTOHSCROLL | WS_TABSTOP, 8 + 8, 8 + 16, 225, 21,
                   IdPlaybackEdit, nullptr, WS_EX_CLIENTEDGE);
    GroupBox3 =
        AddControl("BUTTON", "Experimental (DO NOT USE!)", BS_GROUPBOX, 8, 152, 241, 209, 0);
    GroupBox7 = AddControl("BUTTON", "Out Device", BS_GROUPBOX, 8 + 7, 152 + 16, 154, 49, 0);
    // The height includes the drop-down list.
    ComboBox1 = AddControl("COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP,
                           8 + 7 + 8, 152 + 16 + 16, 137, 160, IdCombo);
    SendMessageA(ComboBox1, CB_SETITEMHEIGHT, 0, 13);
    ResetButton = AddControl("BUTTON", "Reset", BS_PUSHBUTTON | WS_TABSTOP, 8 + 162, 152 + 32, 75,
                             25, IdReset);
    DSPStatusLabel = AddControl("STATIC", "", SS_LEFT | SS_NOPREFIX, 8, 128, 0, 13, IdLabel);
    Panel1 = AddControl("STATIC", "", SS_NOTIFY, 8 + 7, 152 + 72, 226, 129, 0, nullptr,
                        WS_EX_CLIENTEDGE);
    // The panel's single-line border leaves the box a client area of 222 x 125.
    RECT inner{};
    GetClientRect(Panel1, &inner);
    ScrollablePaintBox1 =
        std::make_unique<TScrollablePaintBox>(Panel1, 0, 0, inner.right, inner.bottom);
    ScrollablePaintBox1->SetFont(Font.get());
    ScrollablePaintBox1->SetTracking(true, true);
    ScrollablePaintBox1->OnPaint = [this](TScrollablePaintBox& box) {
        ScrollablePaintBox1Paint(box);
    };
    for (const HWND control : {DoneButton, SongEndFudgeFactorEdit, PlaybackRateFudgeFactorEdit,
                               ResetButton, ScrollablePaintBox1->Handle()})
        HookKeys(control);
    COMBOBOXINFO combo{};
    combo.cbSize = sizeof combo;
    if (GetComboBoxInfo(ComboBox1, &combo))
        HookKeys(combo.hwndItem);
}

void TConfigForm::Show() {
    ShowWindow(Window, SW_SHOWNORMAL);
    SetFocus(DoneButton);
}

void TConfigForm::BringToFront() {
    if (IsIconic(Window))
        ShowWindow(Window, SW_RESTORE);
    ShowWindow(Window, SW_SHOW);
    SetForegroundWindow(Window);
    BringWindowToTop(Window);
}

std::string TConfigForm::ComboText() const {
    return WindowText(ComboBox1);
}

void TConfigForm::FillOutDeviceList(bool fromSettings) {
    ComboHandlersAttached = false;
    SendMessageA(ComboBox1, CB_SHOWDROPDOWN, FALSE, 0);
    const int count = int(WinmmWaveOut().GetNumDevs());
    const std::string stored = PluginConfig != nullptr ? PluginConfig->OutDevice : std::string();
    const std::string& wanted = fromSettings ? stored : OutDeviceName;
    SendMessageA(ComboBox1, CB_RESETCONTENT, 0, 0);
    SendMessageA(ComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    int matchIndex = -1;
    for (const TWaveOutDevice& device : WaveOutDeviceList()) {
        const auto index = int(SendMessageA(ComboBox1, CB_ADDSTRING, 0,
                                            reinterpret_cast<LPARAM>(device.Name.c_str())));
        if (device.Name == wanted)
            matchIndex = index;
    }
    SendMessageA(ComboBox1, CB_SHOWDROPDOWN, FALSE, 0);
    if (count > 0 && matchIndex >= 0) {
        SendMessageA(ComboBox1, CB_SETCURSEL, WPARAM(matchIndex), 0);
        SetWindowTextA(ComboBox1, wanted.c_str());
    } else {
        SendMessageA(ComboBox1, CB_SETCURSEL, 0, 0);
    }
    ComboHandlersAttached = true;
    ApplyOutDeviceChoice();
}

void TConfigForm::ApplyOutDeviceChoice() {
    const std::string text = ComboText();
    if (text == OutDeviceName)
        return;
    OutDeviceName = text;
    StoreQuietly([&](TPluginConfig& store) { store.StoreOutDevice(text); });
    qv::SetOutDevice(text);
}

void TConfigForm::ComboBox1Change() {
    if (ComboHandlersAttached)
        ApplyOutDeviceChoice();
}

void TConfigForm::ComboBox1Click() {
    if (!ComboHandlersAttached)
        return;
    // The edit part shows the chosen item only after this notification.
    const auto index = SendMessageA(ComboBox1, CB_GETCURSEL, 0, 0);
    if (index != CB_ERR) {
        const auto length = SendMessageA(ComboBox1, CB_GETLBTEXTLEN, WPARAM(index), 0);
        std::string item(std::size_t(std::max<LRESULT>(length, 0)) + 1, '\0');
        SendMessageA(ComboBox1, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(item.data()));
        item.resize(std::strlen(item.c_str()));
        SetWindowTextA(ComboBox1, item.c_str());
    }
    ApplyOutDeviceChoice();
}

void TConfigForm::ComboBox1KeyUp() {
    if (ComboHandlersAttached)
        ApplyOutDeviceChoice();
}

void TConfigForm::PlaybackRateFudgeFactorEditChange() {
    if (!EditHandlersAttached)
        return;
    const std::string typed = WindowText(PlaybackRateFudgeFactorEdit);
    const std::string stored =
        PluginConfig != nullptr ? PluginConfig->PlaybackFudgeFactor : std::string();
    const double value = FudgeValue(stored, typed);
    StoreQuietly([&](TPluginConfig& store) { store.StorePlaybackFudgeFactor(typed); });
    qv::SetPlaybackFudgeFactor(value);
}

void TConfigForm::SongEndFudgeFactorEditChange() {
    if (!EditHandlersAttached)
        return;
    const std::string typed = WindowText(SongEndFudgeFactorEdit);
    const std::string stored =
        PluginConfig != nullptr ? PluginConfig->SongEndFudgeFactor : std::string();
    const double value = FudgeValue(stored, typed);
    StoreQuietly([&](TPluginConfig& store) { store.StoreSongEndFudgeFactor(typed); });
    qv::SetSongEndFudgeFactor(value);
}

void TConfigForm::ResetButtonClick() {
    if (WaveOutPlayThread != nullptr)
        WaveOutPlayThread->PostClose();
    qv::RequestReopen();
}

void TConfigForm::DoneButtonClick() {
    PostMessageA(Window, WM_CLOSE, 0, 0);
}

void TConfigForm::OnCommand(int id, int code, HWND) {
    switch (id) {
    case IdDone:
        if (code == BN_CLICKED)
            DoneButtonClick();
        break;
    case IdReset:
        if (code == BN_CLICKED)
            ResetButtonClick();
        break;
    case IdPlaybackEdit:
        if (code == EN_CHANGE)
            PlaybackRateFudgeFactorEditChange();
        break;
    case IdSongEndEdit:
        if (code == EN_CHANGE)
            SongEndFudgeFactorEditChange();
        break;
    case IdCombo:
        if (code == CBN_EDITCHANGE)
            ComboBox1Change();
        else if (code == CBN_SELCHANGE)
            ComboBox1Click();
        break;
    default:
        break;
    }
}

// The layout's tab order. The system's walk (GetNextDlgTabItem) does not go
// into the panel that holds the paint box; marking the panel a control
// parent would, but then the device box now and then missed the arrow keys
// sent to it under Wine. So the form keeps the order itself.
std::vector<HWND> TConfigForm::TabOrder() const {
    return {DoneButton,
            SongEndFudgeFactorEdit,
            PlaybackRateFudgeFactorEdit,
            ComboBox1,
            ResetButton,
            ScrollablePaintBox1 ? ScrollablePaintBox1->Handle() : nullptr};
}

// The next control in the tab order that can take the focus, going round.
HWND TConfigForm::NextInTabOrder(HWND from, bool back) const {
    const std::vector<HWND> order = TabOrder();
    const auto at = std::find(order.begin(), order.end(), from);
    if (at == order.end())
        return GetNextDlgTabItem(Window, from, back);
    const size_t count = order.size();
    size_t index = size_t(at - order.begin());
    for (size_t step = 1; step < count; ++step) {
        index = (index + (back ? count - 1 : 1)) % count;
        const HWND next = order[index];
        if (next != nullptr && IsWindowVisible(next) && IsWindowEnabled(next))
            return next;
    }
    return nullptr;
}

// Outside a dialog the controls do not move the focus or press the default
// button themselves.
void TConfigForm::OnDialogKey(WPARAM key, HWND control) {
    if (key == VK_TAB) {
        const bool back = GetKeyState(VK_SHIFT) < 0;
        const HWND from = GetParent(control) == ComboBox1 ? ComboBox1 : control;
        const HWND next = NextInTabOrder(from, back);
        if (next != nullptr)
            SetFocus(next);
    } else if (key == VK_RETURN) {
        // Enter in an open list picks the entry, as in a dialog.
        if (SendMessageA(ComboBox1, CB_GETDROPPEDSTATE, 0, 0))
            SendMessageA(ComboBox1, CB_SHOWDROPDOWN, FALSE, 0);
        else if (control == ResetButton)
            ResetButtonClick();
        else
            DoneButtonClick();
    } else if (key == VK_ESCAPE && SendMessageA(ComboBox1, CB_GETDROPPEDSTATE, 0, 0)) {
        SendMessageA(ComboBox1, CB_SHOWDROPDOWN, FALSE, 0);
    }
}

LRESULT TConfigForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_TIMER:
        if (wParam == Timer1)
            Timer1Timer();
        return 0;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED)
            FillOutDeviceList(false);
        return Default(message, wParam, lParam);
    case DialogKeyMessage:
        OnDialogKey(wParam, reinterpret_cast<HWND>(lParam));
        return 0;
    case KeyUpMessage: {
        const HWND control = reinterpret_cast<HWND>(lParam);
        if (control != nullptr && GetParent(control) == ComboBox1)
            ComboBox1KeyUp();
        return 0;
    }
    case WM_ACTIVATE:
        // Keep the focused control across a switch to another window.
        if (LOWORD(wParam) == WA_INACTIVE) {
            LastFocus = GetFocus();
        } else {
            SetFocus(LastFocus != nullptr && IsChild(Window, LastFocus) ? LastFocus : DoneButton);
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(Window);
        return 0;
    case WM_DESTROY:
        KillTimer(Window, Timer1);
        return 0;
    default:
        break;
    }
    return Default(message, wParam, lParam);
}

// The window frees its own object when it goes, unless its owner (Quit,
// uninstall) already took it out of ConfigForm and is destroying it.
void TConfigForm::WindowGone() {
    ScrollablePaintBox1.reset();
    if (ConfigForm == this)
        qv::DestroyHeld(ConfigForm);
}

void TConfigForm::Timer1Timer() {
    std::string text;
    if (WaveOutPlayThread != nullptr)
        text = qv::BuildStatusText(*WaveOutPlayThread, qv::GetLPFFTS(), qv::GetLSEFFTS());
    else if (!qv::LastInitError.empty())
        text = qv::InitFailureText(qv::LastInitError);
    if (!text.empty() && text != StatusText) {
        StatusText = text;
        MeasureStatus();
        InvalidateRect(ScrollablePaintBox1->Handle(), nullptr, TRUE);
    }
    DSPActiveNow = qv::IsDetectorDSPActive();
    if (DSPActiveNow != DSPActiveShown) {
        DSPActiveShown = DSPActiveNow;
        const char* const caption = DSPActiveNow ? "Detector DSP is active" : "";
        // The label sizes itself to its caption.
        const qv::TWindowDC dc(DSPStatusLabel);
        const qv::TSelection font(dc.Get(), Font.get());
        const SIZE size = qv::TextExtent(dc.Get(), caption);
        SetWindowPos(DSPStatusLabel, nullptr, 0, 0, size.cx, 13, SWP_NOMOVE | SWP_NOZORDER);
        SetWindowTextA(DSPStatusLabel, caption);
    }
}

void TConfigForm::MeasureStatus() {
    TCanvas& canvas = ScrollablePaintBox1->Canvas();
    canvas.Font = ScrollablePaintBox1->Font();
    std::string rest = StatusText;
    int widest = 0;
    int tallest = 0;
    int lines = 0;
    while (!rest.empty()) {
        const SIZE size = canvas.TextExtent(qv::TakeLine(rest));
        widest = std::max(widest, int(size.cx));
        tallest = std::max(tallest, int(size.cy));
        ++lines;
    }
    ScrollablePaintBox1->SetHorzRange(widest);
    ScrollablePaintBox1->SetVertRange(tallest * lines);
}

void TConfigForm::ScrollablePaintBox1Paint(TScrollablePaintBox& sender) {
    TCanvas& canvas = sender.Canvas();
    const int pitch = canvas.TextHeight(StatusText);
    const int x = -sender.HorzScrollBar().Position;
    int y = -sender.VertScrollBar().Position;
    std::string rest = StatusText;
    while (!rest.empty()) {
        canvas.TextOut(x, y, qv::TakeLine(rest));
        y += pitch;
    }
}
