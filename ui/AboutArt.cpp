#include "ui/AboutArt.h"

#include "ui/FormWindow.h"

namespace qv {
namespace {

constexpr COLORREF DeepBlue = RGB(0, 0, 0xB0);
constexpr COLORREF NightBlue = RGB(0, 0, 0x60);
constexpr COLORREF LightBlue = RGB(0x4F, 0x4F, 0xFF);
constexpr COLORREF Sky = RGB(0xA0, 0xD8, 0xFF);
constexpr COLORREF White = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF Gold = RGB(0xFF, 0xD0, 0x20);

void Line(HDC dc, int x1, int y1, int x2, int y2, COLORREF color, int width = 1) {
    const TPenOwner pen(CreatePen(PS_SOLID, width, color));
    const TSelection selected(dc, pen.get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void Text(HDC dc, int x, int y, const char* text, HFONT font, COLORREF color) {
    const TSelection selected(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    TextOutA(dc, x, y, text, lstrlenA(text));
}

// Text centred in a box of the given width, starting at top.
void CentredText(HDC dc, int left, int top, int width, const char* text, HFONT font,
                 COLORREF color) {
    const TSelection selected(dc, font);
    const SIZE size = TextExtent(dc, text);
    Text(dc, left + (width - size.cx) / 2, top, text, font, color);
}

TFontOwner Typeface(int pixels, int weight, bool italic, const char* face) {
    return TFontOwner(CreateFontA(-pixels, 0, 0, 0, weight, italic, FALSE, FALSE, ANSI_CHARSET,
                                  OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                  VARIABLE_PITCH | FF_SWISS, face));
}

void FilledShape(HDC dc, COLORREF fill, COLORREF rim, int rimWidth, auto&& draw) {
    const TBrushOwner brush(CreateSolidBrush(fill));
    const TPenOwner pen(CreatePen(PS_SOLID, rimWidth, rim));
    const TSelection selectedBrush(dc, brush.get());
    const TSelection selectedPen(dc, pen.get());
    draw();
}

} // namespace

void DrawAboutBackground(HDC dc, int width, int height) {
    const RECT all{0, 0, width, height};
    const TBrushOwner blue(CreateSolidBrush(AboutBlue));
    FillRect(dc, &all, blue.get());
    // A thin raised bevel: light along the top and left, dark along the rest.
    Line(dc, 0, 0, width - 1, 0, LightBlue, 2);
    Line(dc, 0, 0, 0, height - 1, LightBlue, 2);
    Line(dc, 1, height - 1, width, height - 1, DeepBlue, 2);
    Line(dc, width - 1, 1, width - 1, height, DeepBlue, 2);
}

void DrawMakerWordmark(HDC dc, int left, int top) {
    const TFontOwner big = Typeface(58, FW_HEAVY, false, "Arial");
    // A dark shadow under a white face, then a rule with a gap for the tag.
    CentredText(dc, left + 4, top + 4, 353, "QUOVANT", big.get(), NightBlue);
    CentredText(dc, left, top, 353, "QUOVANT", big.get(), White);
    Line(dc, left + 6, top + 74, left + 347, top + 74, Sky, 2);
    const TFontOwner small = Typeface(12, FW_BOLD, false, "Arial");
    FilledShape(dc, AboutBlue, AboutBlue, 1,
                [&] { Rectangle(dc, left + 120, top + 68, left + 233, top + 82); });
    CentredText(dc, left, top + 68, 353, "AUDIO  SOFTWARE", small.get(), Sky);
}

void DrawProductWordmark(HDC dc, int left, int top) {
    FilledShape(dc, DeepBlue, LightBlue, 2,
                [&] { RoundRect(dc, left + 1, top + 1, left + 177, top + 74, 18, 18); });
    FilledShape(dc, DeepBlue, NightBlue, 1,
                [&] { RoundRect(dc, left + 5, top + 5, left + 173, top + 70, 12, 12); });
    const TFontOwner name = Typeface(30, FW_BOLD, true, "Arial");
    CentredText(dc, left + 2, top + 12, 178, "Quellspring", name.get(), NightBlue);
    CentredText(dc, left, top + 10, 178, "Quellspring", name.get(), White);
    const TFontOwner tag = Typeface(11, FW_NORMAL, false, "Arial");
    CentredText(dc, left, top + 48, 178, "real-time output", tag.get(), Sky);
}

void DrawProductPicture(HDC dc, int left, int top) {
    // A spring: a drop above ripples on water.
    FilledShape(dc, DeepBlue, LightBlue, 1,
                [&] { Ellipse(dc, left + 1, top + 17, left + 31, top + 31); });
    FilledShape(dc, NightBlue, Sky, 1,
                [&] { Ellipse(dc, left + 7, top + 20, left + 25, top + 28); });
    const POINT drop[] = {{left + 16, top + 1},  {left + 22, top + 11}, {left + 20, top + 16},
                          {left + 16, top + 18}, {left + 12, top + 16}, {left + 10, top + 11}};
    FilledShape(dc, Gold, White, 1, [&] { Polygon(dc, drop, 6); });
}

HICON ProductIcon() {
    static const TIconOwner icon = [] {
        constexpr int Size = 32;
        const TWindowDC screen(nullptr);
        const TMemoryDC memory;
        const HDC dc = memory.Get();
        const TBitmapOwner color(CreateCompatibleBitmap(screen.Get(), Size, Size));
        const TBitmapOwner mask(CreateBitmap(Size, Size, 1, 1, nullptr));
        {
            const TSelection selected(dc, color.get());
            const RECT all{0, 0, Size, Size};
            FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            DrawProductPicture(dc, 0, 0);
        }
        {
            // Opaque (0) wherever the picture drew, transparent (1) elsewhere.
            const TSelection selected(dc, mask.get());
            const RECT all{0, 0, Size, Size};
            FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            const TBrushOwner black(CreateSolidBrush(RGB(0, 0, 0)));
            const TPenOwner pen(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
            const TSelection brush(dc, black.get());
            const TSelection outline(dc, pen.get());
            Ellipse(dc, 1, 17, 31, 31);
            const POINT drop[] = {{16, 1}, {22, 11}, {20, 16}, {16, 18}, {12, 16}, {10, 11}};
            Polygon(dc, drop, 6);
        }
        ICONINFO info{};
        info.fIcon = TRUE;
        info.hbmColor = color.get();
        info.hbmMask = mask.get();
        return TIconOwner(CreateIconIndirect(&info));
    }();
    return icon.get();
}

} // namespace qv
