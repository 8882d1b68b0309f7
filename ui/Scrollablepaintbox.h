// TScrollablePaintBox: a child window that scrolls a drawing larger than
// itself. The owner sets each scroll bar's Range to the extent of the whole
// drawing and draws everything in OnPaint at (-HorzPosition, -VertPosition);
// the system clips to what needs painting.
//
// How it works. A position change scrolls the pixels already drawn
// (ScrollWindowEx) and invalidates only the uncovered strip, so a scroll
// repaints a few lines, not the box. Until a range is set explicitly the box
// is in automatic-range mode: it has no child controls, so both ranges stay 0
// and no scroll bar shows. A scroll bar shows only while its Range exceeds the
// client size along its axis. All of it runs on the thread that owns the window.
#pragma once

#include <functional>
#include <string>

#include "ui/FormWindow.h"

// The drawing surface bound to the control. Inside a paint cycle it draws on
// the paint device context; outside one it takes the window's context on
// demand, so that text can be measured at any time.
class TCanvas {
public:
    explicit TCanvas(HWND window) : Window(window) {}
    void Lock() { ++LockCount; }
    void Unlock() { --LockCount; }
    bool Locked() const { return LockCount > 0; }
    void Attach(HDC dc) { Attached = dc; }
    void Detach() { Attached = nullptr; }
    HDC AttachedDC() const { return Attached; }

    HFONT Font = nullptr;
    COLORREF BrushColor = RGB(0, 0, 0);

    SIZE TextExtent(const std::string& text) const;
    int TextWidth(const std::string& text) const { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) const { return TextExtent(text).cy; }
    // Draws one line with an opaque background in BrushColor.
    void TextOut(int x, int y, const std::string& text) const;

private:
    HWND Window;
    HDC Attached = nullptr;
    int LockCount = 0;
};

struct TControlScrollBar {
    int Range = 0;
    int Position = 0;
    bool Tracking = false;
    int Increment = 8; // the line step, in pixels
};

class TScrollablePaintBox : public qv::TFormWindow {
public:
    using TNotifyEvent = std::function<void(TScrollablePaintBox& sender)>;
    using TScrollEvent = std::function<void(TScrollablePaintBox& sender, int oldPos, int newPos)>;

    // A child of parent at the given place (100 x 100 unless given).
    TScrollablePaintBox(HWND parent, int left, int top, int width = 100, int height = 100);

    TCanvas& Canvas() { return CanvasObject; }
    const TControlScrollBar& HorzScrollBar() const { return Horz; }
    const TControlScrollBar& VertScrollBar() const { return Vert; }
    void SetHorzRange(int range);
    void SetVertRange(int range);
    void SetHorzPosition(int position);
    void SetVertPosition(int position);
    void SetTracking(bool horizontal, bool vertical);
    bool AutoScroll() const { return AutoRange; }
    SIZE ClientSize() const;

    void SetFont(HFONT font);
    HFONT Font() const { return FontHandle; }
    COLORREF Color = GetSysColor(COLOR_BTNFACE);

    bool AutoEraseBackground = true;
    bool AutoHandleScroll = true;
    TScrollEvent OnHorzScroll;
    TScrollEvent OnVertScroll;
    TNotifyEvent OnPaint;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TNotifyEvent OnClick;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Draws through Canvas on dc; the canvas is released also when the owner's
    // drawing fails.
    void PaintWindow(HDC dc);
    virtual void Paint();

private:
    void WMPaint();
    LRESULT WMEraseBkgnd(HDC dc);
    void WMScroll(int bar, WPARAM wParam);
    void MouseMoved();
    void SetRange(TControlScrollBar& axis, int range);
    void SetPosition(int bar, int position);
    void UpdateScrollBars();
    int MaxPosition(int bar) const;
    TControlScrollBar& Axis(int bar) { return bar == SB_HORZ ? Horz : Vert; }

    TCanvas CanvasObject{nullptr};
    TControlScrollBar Horz;
    TControlScrollBar Vert;
    bool AutoRange = true;
    bool MouseInside = false;
    bool Updating = false;
    HFONT FontHandle = nullptr;
};
