#include "ui/Scrollablepaintbox.h"

#include <algorithm>

namespace {

constexpr char BoxClassName[] = "QVQuellspringScrollablePaintBox";

// Unlocks the canvas and detaches the paint context on every way out of a paint.
class TCanvasBinding {
public:
    TCanvasBinding(TCanvas& canvas, HDC dc) : Canvas(canvas) {
        Canvas.Lock();
        Canvas.Attach(dc);
    }
    ~TCanvasBinding() {
        Canvas.Detach();
        Canvas.Unlock();
    }
    TCanvasBinding(const TCanvasBinding&) = delete;
    TCanvasBinding& operator=(const TCanvasBinding&) = delete;

private:
    TCanvas& Canvas;
};

class TPaintCycle {
public:
    explicit TPaintCycle(HWND window) : Window(window) { Dc = BeginPaint(window, &Paint); }
    ~TPaintCycle() { EndPaint(Window, &Paint); }
    TPaintCycle(const TPaintCycle&) = delete;
    TPaintCycle& operator=(const TPaintCycle&) = delete;
    HDC Get() const { return Dc; }

private:
    HWND Window;
    PAINTSTRUCT Paint{};
    HDC Dc = nullptr;
};

} // namespace

SIZE TCanvas::TextExtent(const std::string& text) const {
    if (Attached != nullptr) {
        const qv::TSelection font(Attached, Font != nullptr ? Font : GetStockObject(SYSTEM_FONT));
        return qv::TextExtent(Attached, text);
    }
    const qv::TWindowDC dc(Window);
    const qv::TSelection font(dc.Get(), Font != nullptr ? Font : GetStockObject(SYSTEM_FONT));
    return qv::TextExtent(dc.Get(), text);
}

void TCanvas::TextOut(int x, int y, const std::string& text) const {
    if (Attached == nullptr)
        return;
    const qv::TSelection font(Attached, Font != nullptr ? Font : GetStockObject(SYSTEM_FONT));
    SetBkMode(Attached, OPAQUE);
    SetBkColor(Attached, BrushColor);
    ::TextOutA(Attached, x, y, text.c_str(), int(text.size()));
}

TScrollablePaintBox::TScrollablePaintBox(HWND parent, int left, int top, int width, int height) {
    // CS_DBLCLKS only: no CS_HREDRAW/CS_VREDRAW, so a resize does not force a
    // full repaint. The background is erased by WMEraseBkgnd in Color.
    const char* const className =
        qv::RegisterFormClass(BoxClassName, Procedure, CS_DBLCLKS, nullptr);
    CreateBound(0, className, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, left, top,
                width, height, parent);
    CanvasObject = TCanvas(Window);
}

SIZE TScrollablePaintBox::ClientSize() const {
    RECT client{};
    GetClientRect(Window, &client);
    return {client.right, client.bottom};
}

void TScrollablePaintBox::SetFont(HFONT font) {
    FontHandle = font;
    InvalidateRect(Window, nullptr, TRUE);
}

void TScrollablePaintBox::SetTracking(bool horizontal, bool vertical) {
    Horz.Tracking = horizontal;
    Vert.Tracking = vertical;
}

void TScrollablePaintBox::SetHorzRange(int range) {
    SetRange(Horz, range);
}
void TScrollablePaintBox::SetVertRange(int range) {
    SetRange(Vert, range);
}
void TScrollablePaintBox::SetHorzPosition(int position) {
    SetPosition(SB_HORZ, position);
}
void TScrollablePaintBox::SetVertPosition(int position) {
    SetPosition(SB_VERT, position);
}

void TScrollablePaintBox::SetRange(TControlScrollBar& axis, int range) {
    // An explicit range ends the automatic mode for good.
    AutoRange = false;
    axis.Range = std::max(range, 0);
    UpdateScrollBars();
}

int TScrollablePaintBox::MaxPosition(int bar) const {
    const SIZE client = ClientSize();
    const TControlScrollBar& axis = bar == SB_HORZ ? Horz : Vert;
    return std::max(0, axis.Range - int(bar == SB_HORZ ? client.cx : client.cy));
}

// Showing one bar narrows the client area and may make the other necessary,
// so the bars are settled first and the positions clamped afterwards.
void TScrollablePaintBox::UpdateScrollBars() {
    if (Window == nullptr || Updating)
        return;
    Updating = true;
    for (int round = 0; round < 3; ++round) {
        const SIZE client = ClientSize();
        for (const int bar : {SB_HORZ, SB_VERT}) {
            const TControlScrollBar& axis = Axis(bar);
            const int size = bar == SB_HORZ ? client.cx : client.cy;
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE;
            info.nMin = 0;
            info.nMax = axis.Range > size ? axis.Range - 1 : 0;
            info.nPage = axis.Range > size ? UINT(size) : 0;
            SetScrollInfo(Window, bar, &info, FALSE);
            ShowScrollBar(Window, bar, axis.Range > size);
        }
    }
    Updating = false;
    for (const int bar : {SB_HORZ, SB_VERT})
        SetPosition(bar, Axis(bar).Position);
}

void TScrollablePaintBox::SetPosition(int bar, int position) {
    TControlScrollBar& axis = Axis(bar);
    const int wanted = std::clamp(position, 0, MaxPosition(bar));
    const int old = axis.Position;
    axis.Position = wanted;
    SetScrollPos(Window, bar, wanted, TRUE);
    if (wanted == old)
        return;
    // The pixels already drawn move; only the strip they uncover is painted.
    const int delta = old - wanted;
    ScrollWindowEx(Window, bar == SB_HORZ ? delta : 0, bar == SB_VERT ? delta : 0, nullptr, nullptr,
                   nullptr, nullptr, SW_INVALIDATE | SW_ERASE);
}

LRESULT TScrollablePaintBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        WMPaint();
        return 0;
    case WM_ERASEBKGND:
        return WMEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_HSCROLL:
        WMScroll(SB_HORZ, wParam);
        return 0;
    case WM_VSCROLL:
        WMScroll(SB_VERT, wParam);
        return 0;
    case WM_SIZE:
        UpdateScrollBars();
        break;
    case WM_MOUSEMOVE:
        MouseMoved();
        break;
    case WM_MOUSELEAVE:
        MouseInside = false;
        if (OnMouseLeave)
            OnMouseLeave(*this);
        return 0;
    case WM_LBUTTONDOWN:
        // The control keeps the mouse while the button is held.
        SetCapture(Window);
        SetFocus(Window);
        return 0;
    case WM_LBUTTONUP: {
        const bool captured = GetCapture() == Window;
        if (captured)
            ReleaseCapture();
        const POINT at{short(LOWORD(lParam)), short(HIWORD(lParam))};
        RECT client{};
        GetClientRect(Window, &client);
        if (captured && PtInRect(&client, at) && OnClick)
            OnClick(*this);
        return 0;
    }
    default:
        break;
    }
    return Default(message, wParam, lParam);
}

void TScrollablePaintBox::MouseMoved() {
    if (MouseInside)
        return;
    MouseInside = true;
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = Window;
    TrackMouseEvent(&track);
    if (OnMouseEnter)
        OnMouseEnter(*this);
}

void TScrollablePaintBox::WMPaint() {
    const TPaintCycle cycle(Window);
    PaintWindow(cycle.Get());
}

void TScrollablePaintBox::PaintWindow(HDC dc) {
    const TCanvasBinding binding(CanvasObject, dc);
    Paint();
}

void TScrollablePaintBox::Paint() {
    CanvasObject.Font = FontHandle;
    CanvasObject.BrushColor = Color;
    if (OnPaint)
        OnPaint(*this);
}

LRESULT TScrollablePaintBox::WMEraseBkgnd(HDC dc) {
    // Without the erase, whatever was drawn stays until painted over.
    if (!AutoEraseBackground)
        return 1;
    RECT client{};
    GetClientRect(Window, &client);
    const qv::TBrushOwner brush(CreateSolidBrush(Color));
    FillRect(dc, &client, brush.get());
    return 1;
}

void TScrollablePaintBox::WMScroll(int bar, WPARAM wParam) {
    if (!AutoHandleScroll)
        return;
    TControlScrollBar& axis = Axis(bar);
    const SIZE client = ClientSize();
    const int page = bar == SB_HORZ ? client.cx : client.cy;
    const int old = axis.Position;
    int wanted = old;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_TRACKPOS;
    switch (LOWORD(wParam)) {
    case SB_LINEUP:
        wanted -= axis.Increment;
        break;
    case SB_LINEDOWN:
        wanted += axis.Increment;
        break;
    case SB_PAGEUP:
        wanted -= page;
        break;
    case SB_PAGEDOWN:
        wanted += page;
        break;
    case SB_TOP:
        wanted = 0;
        break;
    case SB_BOTTOM:
        wanted = MaxPosition(bar);
        break;
    case SB_THUMBTRACK:
        if (!axis.Tracking)
            return;
        GetScrollInfo(Window, bar, &info);
        wanted = info.nTrackPos;
        break;
    case SB_THUMBPOSITION:
        GetScrollInfo(Window, bar, &info);
        wanted = info.nTrackPos;
        break;
    default:
        return;
    }
    SetPosition(bar, wanted);
    const TScrollEvent& event = bar == SB_HORZ ? OnHorzScroll : OnVertScroll;
    if (axis.Position != old && event)
        event(*this, old, axis.Position);
}
