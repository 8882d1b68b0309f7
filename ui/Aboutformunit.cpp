#include "ui/Aboutformunit.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "core/MainUnit.h"
#include "ui/AboutArt.h"

namespace qv {
namespace {

constexpr char FormClassName[] = "QVQuellspringAboutForm";
constexpr UINT EndModalMessage = WM_APP + 1;
constexpr RECT PaintBox1Bounds{402, 272, 402 + 73, 272 + 57};
constexpr int Label2Top = 275;
constexpr int Label3Top = 291;

// "Paced by the clock, played in time.", each character raised by its position.
constexpr unsigned char ScrambledLine[] = {
    81, 99, 102, 105, 105, 38,  105, 129, 41, 126, 115, 113, 45,  113, 123, 127, 116, 125,
    63, 52, 133, 130, 120, 145, 126, 126, 59, 133, 139, 62,  147, 137, 142, 135, 81};

// Colours in the "$00BBGGRR" notation, which is a COLORREF's own layout.
COLORREF ColorFromText(const char* text) {
    return COLORREF(std::strtoul(text + 1, nullptr, 16));
}

struct TAboutColors {
    COLORREF RimLightColor = ColorFromText("$00FF4F4F");
    COLORREF RimDarkColor = ColorFromText("$00B00000");
    COLORREF FaceColor = ColorFromText("$00FF0000");
    COLORREF CaptionColor = ColorFromText("$004040FF");
};
const TAboutColors& Colors() {
    static const TAboutColors colors;
    return colors;
}

constexpr char OKCaption[] = "OK";

void PressedLook() {
    TOKButtonLook& look = OKButtonLook();
    look.OKPressedLook = true;
    look.OKRaisedLook = false;
    look.RimTopColor = Colors().RimDarkColor;
    look.RimBottomColor = Colors().RimLightColor;
    look.OKOffset = 1;
}

void RaisedLook() {
    TOKButtonLook& look = OKButtonLook();
    look.OKPressedLook = false;
    look.OKRaisedLook = true;
    look.RimTopColor = Colors().RimLightColor;
    look.RimBottomColor = Colors().RimDarkColor;
    look.OKOffset = -1;
}

void HollowEllipse(HDC dc, COLORREF color, int left, int top, int right, int bottom) {
    const TPenOwner pen(CreatePen(PS_SOLID, 2, color));
    const TSelection selectedPen(dc, pen.get());
    const TSelection selectedBrush(dc, GetStockObject(HOLLOW_BRUSH));
    Ellipse(dc, left, top, right, bottom);
}

} // namespace

std::string AboutVersionText(const TVersionReaderResult& version) {
    std::string text =
        version.StringsValid ? "Version " + version.FileVersion : std::string("Version 1.0");
    if (!version.FixedInfoValid)
        return text;
    const uint32_t set = version.FileFlags & version.FileFlagsMask;
    if (set & VS_FF_PRERELEASE)
        text += "  Pre-Release";
    if (set & VS_FF_PATCHED)
        text += "  Patched";
    if (set & VS_FF_PRIVATEBUILD)
        text += "  Private Build";
    if (set & VS_FF_SPECIALBUILD)
        text += "  Special Build";
    return text;
}

std::string Unscramble(const std::string& stored) {
    std::string text = stored;
    for (std::size_t k = 0; k < text.size(); ++k)
        text[k] = char(static_cast<unsigned char>(text[k]) - static_cast<unsigned char>(k + 1));
    return text;
}

const std::string& StoredAboutText() {
    static const std::string text(reinterpret_cast<const char*>(ScrambledLine),
                                  sizeof ScrambledLine);
    return text;
}

TOKButtonLook& OKButtonLook() {
    static TOKButtonLook look{Colors().RimLightColor, Colors().RimDarkColor, 0, false, false};
    return look;
}

} // namespace qv

TAboutForm::TAboutForm(HWND owner)
    : Owner(owner), LabelFont(qv::CreateDialogFont(true)),
      ButtonFont(qv::CreateFormFont("MS Sans Serif", -13, true)) {
    const char* const className = qv::RegisterFormClass(qv::FormClassName, Procedure, 0, nullptr);
    CreateBound(WS_EX_TOPMOST, className, "About", WS_POPUP | WS_CLIPCHILDREN, 0, 0, ClientWidth,
                ClientHeight, owner);
    if (Window == nullptr)
        throw std::runtime_error("Unable to create the about window.");
    const HICON icon = qv::ProductIcon();
    SendMessageA(Window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(Window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    FormCreate();
}

TAboutForm::~TAboutForm() = default;

RECT TAboutForm::PaintBox1Rect() const {
    return qv::PaintBox1Bounds;
}

void TAboutForm::FormCreate() {
    {
        TVersionReader reader;
        TVersionReaderResult result;
        VersionReader1 = &reader;
        ReadVersionInfo(reader, ThisLibraryFileName.c_str(), &result);
        VersionReader1 = nullptr;
        Label2 = qv::AboutVersionText(result);
    }
    Label3 = qv::Unscramble(qv::StoredAboutText());
    const qv::TWindowDC dc(Window);
    const qv::TSelection font(dc.Get(), LabelFont.get());
    Label2Left = ClientWidth / 2 - qv::TextExtent(dc.Get(), Label2).cx / 2;
    Label3Left = ClientWidth / 2 - qv::TextExtent(dc.Get(), Label3).cx / 2;
    InvalidateRect(Window, nullptr, FALSE);
}

namespace {

// While the box is up, every other window of the thread that takes input is
// disabled, as a modal dialog box does: the player's main window (the owner,
// shown or not), the preferences the box was opened from, our configuration
// window. None of them can then start a Config, an About or an uninstall
// inside this loop. They are enabled again before the box hides, so that
// the activation goes back to them.
class TThreadWindowsDisabled {
public:
    TThreadWindowsDisabled(HWND box, HWND owner) : Box(box), Owner(owner) {
        EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
        for (const HWND window : Disabled)
            EnableWindow(window, FALSE);
    }
    TThreadWindowsDisabled(const TThreadWindowsDisabled&) = delete;
    TThreadWindowsDisabled& operator=(const TThreadWindowsDisabled&) = delete;
    ~TThreadWindowsDisabled() { Enable(); }
    void Enable() {
        for (auto window = Disabled.rbegin(); window != Disabled.rend(); ++window)
            if (IsWindow(*window))
                EnableWindow(*window, TRUE);
        Disabled.clear();
    }

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM self) {
        auto& disabler = *reinterpret_cast<TThreadWindowsDisabled*>(self);
        if (window != disabler.Box && IsWindowEnabled(window) &&
            (window == disabler.Owner || IsWindowVisible(window)))
            disabler.Disabled.push_back(window);
        return TRUE;
    }
    HWND Box;
    HWND Owner;
    std::vector<HWND> Disabled;
};

} // namespace

int TAboutForm::ShowAbout(bool keepPosition) {
    if (Window == nullptr)
        return 0;
    if (!keepPosition) {
        const POINT at = qv::ScreenCentred(ClientWidth, ClientHeight);
        SetWindowPos(Window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    ModalResult = 0;
    CloseRequested = false;
    TThreadWindowsDisabled others(Window, Owner);
    ShowWindow(Window, SW_SHOWNORMAL);
    SetForegroundWindow(Window);
    SetFocus(Window);
    bool sawQuit = false;
    WPARAM quitCode = 0;
    MSG message;
    while (!CloseRequested) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            // The application is ending: leave, and hand the request on.
            sawQuit = true;
            quitCode = message.wParam;
            break;
        }
        if (got < 0)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    others.Enable();
    if (Window != nullptr)
        ShowWindow(Window, SW_HIDE);
    if (sawQuit)
        PostQuitMessage(int(quitCode));
    return ModalResult;
}

void TAboutForm::CloseWithResult(int modalResult) {
    PostMessageA(Window, qv::EndModalMessage, WPARAM(modalResult), 0);
}

void TAboutForm::Close() {
    if (ModalResult == 0)
        ModalResult = 2;
    CloseRequested = true;
}

void TAboutForm::WindowGone() {
    CloseRequested = true;
}

void TAboutForm::PaintForm(HDC dc) {
    qv::DrawAboutBackground(dc, ClientWidth, ClientHeight);
    qv::DrawMakerWordmark(dc, 62, 16);
    qv::DrawProductWordmark(dc, 150, 112);
    qv::DrawProductPicture(dc, 223, 214);
    const qv::TSelection font(dc, LabelFont.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0xFF, 0xFF, 0));
    TextOutA(dc, Label2Left, qv::Label2Top, Label2.c_str(), int(Label2.size()));
    SetTextColor(dc, RGB(0, 0xFF, 0));
    TextOutA(dc, Label3Left, qv::Label3Top, Label3.c_str(), int(Label3.size()));
    const RECT box = qv::PaintBox1Bounds;
    const int saved = SaveDC(dc);
    SetViewportOrgEx(dc, box.left, box.top, nullptr);
    PaintBox1Paint(dc);
    RestoreDC(dc, saved);
}

// dc's origin is the button's top-left corner.
void TAboutForm::PaintBox1Paint(HDC dc) {
    const qv::TOKButtonLook& look = qv::OKButtonLook();
    const int cw = qv::PaintBox1Bounds.right - qv::PaintBox1Bounds.left;
    const int ch = qv::PaintBox1Bounds.bottom - qv::PaintBox1Bounds.top;
    const qv::TSelection font(dc, ButtonFont.get());
    const SIZE caption = qv::TextExtent(dc, qv::OKCaption);
    const int x = cw / 2 - caption.cx / 2 + look.OKOffset;
    const int y = ch / 2 - caption.cy / 2 + look.OKOffset;
    const RECT captionRect{x, y, x + caption.cx, y + caption.cy};
    qv::HollowEllipse(dc, look.RimTopColor, 2, 2, cw - 3, ch - 3);
    qv::HollowEllipse(dc, look.RimBottomColor, 3, 3, cw - 2, ch - 2);
    {
        const qv::TBrushOwner brush(CreateSolidBrush(qv::Colors().FaceColor));
        const qv::TPenOwner pen(CreatePen(PS_SOLID, 2, qv::Colors().FaceColor));
        const qv::TSelection selectedBrush(dc, brush.get());
        const qv::TSelection selectedPen(dc, pen.get());
        Ellipse(dc, 3, 3, cw - 3, ch - 3);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, qv::Colors().CaptionColor);
    ExtTextOutA(dc, x, y, ETO_CLIPPED, &captionRect, qv::OKCaption, 2, nullptr);
}

void TAboutForm::RepaintButton() {
    const qv::TWindowDC dc(Window);
    const RECT box = qv::PaintBox1Bounds;
    SetViewportOrgEx(dc.Get(), box.left, box.top, nullptr);
    IntersectClipRect(dc.Get(), 0, 0, box.right - box.left, box.bottom - box.top);
    PaintBox1Paint(dc.Get());
}

void TAboutForm::PaintBox1MouseDown(int, int) {
    qv::PressedLook();
    RepaintButton();
}

void TAboutForm::PaintBox1MouseUp(bool left, int x, int y) {
    qv::RaisedLook();
    RepaintButton();
    const RECT box = qv::PaintBox1Bounds;
    const bool inside = x >= 0 && y >= 0 && x < box.right - box.left && y < box.bottom - box.top;
    if (left && inside)
        PaintBox1Click();
}

void TAboutForm::PaintBox1MouseMove(bool leftHeld, int x, int y) {
    if (!leftHeld)
        return;
    const RECT box = qv::PaintBox1Bounds;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    const bool outside = x < 0 || y < 0 || x > width || y > height;
    const qv::TOKButtonLook& look = qv::OKButtonLook();
    if (outside && !look.OKRaisedLook) {
        qv::RaisedLook();
        RepaintButton();
    } else if (!outside && y < height && !look.OKPressedLook) {
        qv::PressedLook();
        RepaintButton();
    }
}

void TAboutForm::PaintBox1Click() {
    Close();
}

void TAboutForm::FormKeyPress(char key) {
    if (key == '\r')
        Close();
}

LRESULT TAboutForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const RECT box = qv::PaintBox1Bounds;
    const int x = short(LOWORD(lParam)) - box.left;
    const int y = short(HIWORD(lParam)) - box.top;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        const HDC dc = BeginPaint(Window, &paint);
        // Drawn off screen and copied in one go, so the pictures do not flicker.
        const qv::TMemoryDC memory;
        const qv::TWindowDC screen(Window);
        const qv::TBitmapOwner bitmap(
            CreateCompatibleBitmap(screen.Get(), ClientWidth, ClientHeight));
        {
            const qv::TSelection selected(memory.Get(), bitmap.get());
            PaintForm(memory.Get());
            BitBlt(dc, 0, 0, ClientWidth, ClientHeight, memory.Get(), 0, 0, SRCCOPY);
        }
        EndPaint(Window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        const POINT at{x + box.left, y + box.top};
        if (!PtInRect(&box, at))
            return 0;
        // The button keeps the mouse while a button is held.
        ButtonCaptured = true;
        SetCapture(Window);
        PaintBox1MouseDown(x, y);
        return 0;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        if (!ButtonCaptured)
            return 0;
        if ((wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
            ButtonCaptured = false;
            ReleaseCapture();
        }
        PaintBox1MouseUp(message == WM_LBUTTONUP, x, y);
        return 0;
    case WM_MOUSEMOVE:
        if (ButtonCaptured)
            PaintBox1MouseMove((wParam & MK_LBUTTON) != 0, x, y);
        return 0;
    case WM_CAPTURECHANGED:
        ButtonCaptured = false;
        return 0;
    case WM_CHAR:
        FormKeyPress(char(wParam));
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case qv::EndModalMessage:
        ModalResult = int(wParam);
        Close();
        return 0;
    default:
        break;
    }
    return Default(message, wParam, lParam);
}
