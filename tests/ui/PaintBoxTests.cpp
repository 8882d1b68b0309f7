// TScrollablePaintBox as a real child window: ranges, steps, tracking,
// events, erasing and a paint handler that fails.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/host/HostTestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Scrollablepaintbox.h"

namespace {

class PaintBoxTest : public testing::Test {
protected:
    void SetUp() override {
        Parent = hosttest::CreateClassWindow(L"QVUiTestParent");
        SetWindowPos(Parent.get(), nullptr, 40, 40, 400, 300, SWP_NOZORDER);
        ShowWindow(Parent.get(), SW_SHOWNOACTIVATE);
        Box = std::make_unique<TScrollablePaintBox>(Parent.get(), 10, 10, 222, 125);
        Box->SetTracking(true, true);
        Box->OnHorzScroll = [this](TScrollablePaintBox&, int from, int to) {
            Events.push_back({SB_HORZ, from, to});
        };
        Box->OnVertScroll = [this](TScrollablePaintBox&, int from, int to) {
            Events.push_back({SB_VERT, from, to});
        };
    }
    void TearDown() override { Box.reset(); }

    bool BarShown(int bar) const {
        const LONG style = GetWindowLongA(Box->Handle(), GWL_STYLE);
        return (style & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL)) != 0;
    }

    struct Event {
        int Bar, From, To;
    };
    hosttest::TWindowOwner Parent;
    std::unique_ptr<TScrollablePaintBox> Box;
    std::vector<Event> Events;
};

TEST_F(PaintBoxTest, StartsInAutomaticRangeWithoutScrollBars) {
    EXPECT_TRUE(Box->AutoScroll());
    EXPECT_FALSE(BarShown(SB_HORZ));
    EXPECT_FALSE(BarShown(SB_VERT));
    EXPECT_TRUE(Box->AutoEraseBackground);
    EXPECT_TRUE(Box->AutoHandleScroll);
    const LONG style = GetWindowLongA(Box->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_TABSTOP);
    EXPECT_TRUE(style & WS_CLIPSIBLINGS);
}

TEST_F(PaintBoxTest, RangeWithinTheClientShowsNoBarAndKeepsPositionZero) {
    Box->SetHorzRange(100);
    Box->SetVertRange(125);
    EXPECT_FALSE(Box->AutoScroll()) << "an explicit range ends the automatic mode";
    EXPECT_FALSE(BarShown(SB_HORZ));
    EXPECT_FALSE(BarShown(SB_VERT));
    SendMessageA(Box->Handle(), WM_HSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(Box->HorzScrollBar().Position, 0);
    EXPECT_TRUE(Events.empty());
}

// Each case starts at `from` on a drawing of 1000 x 1000 pixels.
struct ScrollCase {
    const char* Name;
    UINT Message;
    WORD Code;
    int From;
    int Expected; // -1: the largest position
};

TEST_F(PaintBoxTest, StepsMoveByLineAndPageAndEndAtTheEdges) {
    const ScrollCase cases[] = {
        {"line right", WM_HSCROLL, SB_LINEDOWN, 0, 8},
        {"line left", WM_HSCROLL, SB_LINEUP, 20, 12},
        {"line left at 0", WM_HSCROLL, SB_LINEUP, 0, 0},
        {"page down", WM_VSCROLL, SB_PAGEDOWN, 0, -2},
        {"page up", WM_VSCROLL, SB_PAGEUP, 500, -3},
        {"top", WM_VSCROLL, SB_TOP, 300, 0},
        {"bottom", WM_VSCROLL, SB_BOTTOM, 0, -1},
        {"right", WM_HSCROLL, SB_BOTTOM, 0, -1},
        {"line right at the end", WM_HSCROLL, SB_LINEDOWN, -1, -1},
    };
    Box->SetHorzRange(1000);
    Box->SetVertRange(1000);
    ASSERT_TRUE(BarShown(SB_HORZ));
    ASSERT_TRUE(BarShown(SB_VERT));
    const SIZE client = Box->ClientSize();
    for (const ScrollCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const int bar = c.Message == WM_HSCROLL ? SB_HORZ : SB_VERT;
        const int page = bar == SB_HORZ ? client.cx : client.cy;
        const int largest = 1000 - page;
        const auto resolve = [&](int value) {
            return value == -1 ? largest : value == -2 ? page : value == -3 ? 500 - page : value;
        };
        if (bar == SB_HORZ)
            Box->SetHorzPosition(resolve(c.From));
        else
            Box->SetVertPosition(resolve(c.From));
        Events.clear();
        SendMessageA(Box->Handle(), c.Message, c.Code, 0);
        const int now =
            bar == SB_HORZ ? Box->HorzScrollBar().Position : Box->VertScrollBar().Position;
        EXPECT_EQ(now, resolve(c.Expected));
        EXPECT_EQ(GetScrollPos(Box->Handle(), bar), now);
        if (now == resolve(c.From)) {
            EXPECT_TRUE(Events.empty()) << "no move, no event";
        } else {
            ASSERT_EQ(Events.size(), 1u);
            EXPECT_EQ(Events[0].Bar, bar);
            EXPECT_EQ(Events[0].From, resolve(c.From));
            EXPECT_EQ(Events[0].To, now);
        }
    }
}

TEST_F(PaintBoxTest, IgnoresScrollMessagesWhenNotHandlingThem) {
    Box->SetHorzRange(1000);
    Box->AutoHandleScroll = false;
    SendMessageA(Box->Handle(), WM_HSCROLL, SB_PAGEDOWN, 0);
    SendMessageA(Box->Handle(), WM_HSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(Box->HorzScrollBar().Position, 0);
    EXPECT_TRUE(Events.empty());
}

TEST_F(PaintBoxTest, AFailingPaintHandlerLeavesTheCanvasFreeAndTheWindowAlive) {
    int paints = 0;
    Box->OnPaint = [&](TScrollablePaintBox& sender) {
        ++paints;
        EXPECT_TRUE(sender.Canvas().Locked());
        EXPECT_NE(sender.Canvas().AttachedDC(), nullptr);
        throw std::runtime_error("owner's drawing failed");
    };
    InvalidateRect(Box->Handle(), nullptr, TRUE);
    UpdateWindow(Box->Handle());
    EXPECT_EQ(paints, 1);
    EXPECT_FALSE(Box->Canvas().Locked());
    EXPECT_EQ(Box->Canvas().AttachedDC(), nullptr);
    EXPECT_TRUE(IsWindow(Box->Handle()));
    RECT pending{};
    EXPECT_FALSE(GetUpdateRect(Box->Handle(), &pending, FALSE)) << "the region was validated";
}

// What the screen shows at a point of the box after it was painted.
COLORREF PixelAt(HWND window, int x, int y) {
    const qv::TWindowDC dc(window);
    return GetPixel(dc.Get(), x, y);
}

TEST_F(PaintBoxTest, EraseFillsTheColourOnlyWhenAutoErasing) {
    constexpr COLORREF Marker = RGB(10, 200, 30);
    Box->Color = RGB(250, 250, 250);
    Box->OnPaint = [&](TScrollablePaintBox& sender) {
        const qv::TBrushOwner brush(CreateSolidBrush(Marker));
        const RECT spot{0, 0, 20, 20};
        FillRect(sender.Canvas().AttachedDC(), &spot, brush.get());
    };
    InvalidateRect(Box->Handle(), nullptr, TRUE);
    UpdateWindow(Box->Handle());
    ASSERT_EQ(PixelAt(Box->Handle(), 5, 5), Marker);
    ASSERT_EQ(PixelAt(Box->Handle(), 100, 100), Box->Color);

    Box->OnPaint = nullptr;
    Box->AutoEraseBackground = false;
    InvalidateRect(Box->Handle(), nullptr, TRUE);
    UpdateWindow(Box->Handle());
    EXPECT_EQ(PixelAt(Box->Handle(), 5, 5), Marker) << "not erased: the old pixels stay";

    Box->AutoEraseBackground = true;
    InvalidateRect(Box->Handle(), nullptr, TRUE);
    UpdateWindow(Box->Handle());
    EXPECT_EQ(PixelAt(Box->Handle(), 5, 5), Box->Color);
}

} // namespace
