// The about box: its texts, and its modal loop driven from inside by a
// thread timer, as the user's mouse and keyboard would drive it.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/MainUnit.h"
#include "host/Versionreader.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Aboutformunit.h"

using namespace qv;

namespace {

TEST(AboutText, VersionLineNamesTheFlagsSetInFlagsAndMask) {
    const struct {
        bool Strings, Fixed;
        uint32_t Flags, Mask;
        const char* Text;
    } cases[] = {
        {false, false, 0, 0, "Version 1.0"},
        {true, false, VS_FF_PRERELEASE, 0x3F, "Version 2.3.0.1"},
        {true, true, 0, 0x3F, "Version 2.3.0.1"},
        {true, true, VS_FF_PRERELEASE | VS_FF_PRIVATEBUILD, 0x3F,
         "Version 2.3.0.1  Pre-Release  Private Build"},
        {true, true, 0x3F, 0x3F,
         "Version 2.3.0.1  Pre-Release  Patched  Private Build  Special Build"},
        {true, true, VS_FF_PATCHED | VS_FF_SPECIALBUILD, VS_FF_PATCHED, "Version 2.3.0.1  Patched"},
    };
    for (const auto& c : cases) {
        TVersionReaderResult version;
        version.StringsValid = c.Strings;
        version.FixedInfoValid = c.Fixed;
        version.FileVersion = "2.3.0.1";
        version.FileFlags = c.Flags;
        version.FileFlagsMask = c.Mask;
        EXPECT_EQ(AboutVersionText(version), c.Text);
    }
}

TEST(AboutText, StoredLineIsUnscrambledByPosition) {
    EXPECT_EQ(Unscramble(StoredAboutText()), "Paced by the clock, played in time.");
    EXPECT_EQ(Unscramble(std::string("\x42\x44\x46", 3)), "ABC");
    EXPECT_EQ(Unscramble(std::string("\x00\x01", 2)), std::string("\xFF\xFF", 2))
        << "8-bit arithmetic wraps";
}

// Runs `step` on this thread from inside whatever loop is pumping, every
// 20 ms, until it returns true.
class TLoopDriver {
public:
    explicit TLoopDriver(std::function<bool()> step) : Step(std::move(step)) {
        Current = this;
        Timer = SetTimer(nullptr, 0, 20, Tick);
    }
    ~TLoopDriver() {
        KillTimer(nullptr, Timer);
        Current = nullptr;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (Current != nullptr && !Current->Finished)
            Current->Finished = Current->Step();
    }
    static inline TLoopDriver* Current = nullptr;
    std::function<bool()> Step;
    UINT_PTR Timer = 0;
    bool Finished = false;
};

class AboutFormTest : public testing::Test {
protected:
    void SetUp() override {
        ProcessAttach(GetModuleHandleA(nullptr)); // fills the About entry of the record
        SavedName = ThisLibraryFileName;
    }
    void TearDown() override { ThisLibraryFileName = SavedName; }
    std::string SavedName;
};

POINT InBox(const RECT& box, int x, int y) {
    return {box.left + x, box.top + y};
}

void Mouse(HWND window, UINT message, WPARAM keys, POINT at) {
    SendMessageA(window, message, keys, MAKELPARAM(at.x, at.y));
}

TEST_F(AboutFormTest, ShowsTheVersionLineAndOurTextCentred) {
    ThisLibraryFileName = QV_PRERELEASE_DLL;
    TAboutForm form(nullptr);
    EXPECT_EQ(form.Label2Caption(), "Version 2.3.0.1  Pre-Release  Private Build");
    EXPECT_EQ(form.Label3Caption(), "Paced by the clock, played in time.");
    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, 477);
    EXPECT_EQ(client.bottom, 331);
    EXPECT_TRUE(GetWindowLongA(form.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongA(form.Handle(), GWL_STYLE) & (WS_CAPTION | WS_BORDER));
    EXPECT_EQ(uitest::WindowText(form.Handle()), "About");

    ThisLibraryFileName = "Z:\\no\\such\\file.dll";
    TAboutForm plain(nullptr);
    EXPECT_EQ(plain.Label2Caption(), "Version 1.0");
}

TEST_F(AboutFormTest, ButtonPressesDragsOutAndClosesOnlyOnACompletedClick) {
    std::vector<std::string> seen;
    const auto lookName = [] {
        const TOKButtonLook& look = OKButtonLook();
        return std::string(look.OKPressedLook  ? "pressed"
                           : look.OKRaisedLook ? "raised"
                                               : "initial") +
               (look.OKOffset == 1    ? "+1"
                : look.OKOffset == -1 ? "-1"
                                      : "0");
    };
    bool secondAboutReturned = false;
    int phase = 0;
    const TLoopDriver driver([&] {
        if (AboutForm == nullptr)
            return false;
        const HWND window = AboutForm->Handle();
        const RECT box = AboutForm->PaintBox1Rect();
        switch (phase++) {
        case 0:
            plugin.About(nullptr); // a second About while one is open does nothing
            secondAboutReturned = true;
            Mouse(window, WM_LBUTTONDOWN, MK_LBUTTON, InBox(box, 30, 20));
            seen.push_back(lookName());
            Mouse(window, WM_MOUSEMOVE, MK_LBUTTON, InBox(box, 200, 20)); // dragged out
            seen.push_back(lookName());
            Mouse(window, WM_MOUSEMOVE, MK_LBUTTON, InBox(box, 30, 20)); // and back in
            seen.push_back(lookName());
            Mouse(window, WM_MOUSEMOVE, MK_LBUTTON, InBox(box, -5, 20));
            Mouse(window, WM_LBUTTONUP, 0, InBox(box, -5, 20)); // released outside
            seen.push_back(lookName());
            return false;
        case 1:
            EXPECT_FALSE(AboutForm->Closing()) << "a drag out does not close";
            Mouse(window, WM_LBUTTONDOWN, MK_LBUTTON, InBox(box, 30, 20));
            Mouse(window, WM_LBUTTONUP, 0, InBox(box, 30, 20));
            seen.push_back(lookName());
            return true;
        default:
            return true;
        }
    });
    plugin.About(nullptr);
    EXPECT_TRUE(secondAboutReturned);
    EXPECT_EQ(AboutForm, nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"pressed+1", "raised-1", "pressed+1", "raised-1",
                                              "raised-1"}));
}

// The first window closes with a click on OK, the second with Enter, and
// starts with the raised look the first left.
TEST_F(AboutFormTest, EnterClosesAndTheNextWindowStartsRaised) {
    {
        const TLoopDriver byClick([&] {
            if (AboutForm == nullptr)
                return false;
            const RECT box = AboutForm->PaintBox1Rect();
            Mouse(AboutForm->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, InBox(box, 30, 20));
            Mouse(AboutForm->Handle(), WM_LBUTTONUP, 0, InBox(box, 30, 20));
            return true;
        });
        plugin.About(nullptr);
    }
    ASSERT_EQ(AboutForm, nullptr);

    int offsetAtStart = 0;
    const TLoopDriver byEnter([&] {
        if (AboutForm == nullptr)
            return false;
        offsetAtStart = OKButtonLook().OKOffset;
        uitest::TypeKey(AboutForm->Handle(), VK_RETURN, '\r');
        return true;
    });
    plugin.About(nullptr);
    EXPECT_EQ(AboutForm, nullptr);
    EXPECT_EQ(offsetAtStart, -1) << "the look is kept for the next window of this load";
}

// As a modal dialog box: every other window of the thread that takes input
// (the player's, the preferences the box was opened from, our configuration
// window) is disabled while it is up, and only those are enabled again.
TEST_F(AboutFormTest, EveryOtherWindowOfTheThreadIsDisabledWhileItIsUp) {
    const auto window = [](DWORD style) {
        return CreateWindowExA(0, "STATIC", "other", WS_POPUP | style, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
    };
    const HWND shown = window(WS_VISIBLE);
    const HWND alreadyDisabled = window(WS_VISIBLE | WS_DISABLED);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(alreadyDisabled, nullptr);
    bool shownWasDisabled = false;
    const TLoopDriver driver([&] {
        if (AboutForm == nullptr)
            return false;
        shownWasDisabled = !IsWindowEnabled(shown);
        EXPECT_TRUE(IsWindowEnabled(AboutForm->Handle()));
        AboutForm->CloseWithResult(1);
        return true;
    });
    plugin.About(nullptr);
    EXPECT_TRUE(shownWasDisabled);
    EXPECT_TRUE(IsWindowEnabled(shown));
    EXPECT_FALSE(IsWindowEnabled(alreadyDisabled));
    DestroyWindow(shown);
    DestroyWindow(alreadyDisabled);
}

TEST_F(AboutFormTest, TheModalLoopHandsTheApplicationsQuitOn) {
    const TLoopDriver driver([&] {
        if (AboutForm == nullptr)
            return false;
        PostQuitMessage(42);
        return true;
    });
    plugin.About(nullptr);
    EXPECT_EQ(AboutForm, nullptr);
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit request reaches the application's own loop";
    EXPECT_EQ(message.wParam, 42u);
}

} // namespace
