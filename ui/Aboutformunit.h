// TAboutForm, the modal about box ("About"): a borderless, stay-on-top blue
// picture with the plug-in's version and one line of our own, closed by an
// elliptical OK button drawn in code or by the Enter key.
//
// How it works. The About hook creates the window and runs ShowAbout on the
// player's window thread; ShowAbout runs a message loop of its own until the
// window asks to close, with the owner disabled meanwhile. A WM_QUIT that
// arrives during that loop ends it and is posted again afterwards, so the
// player's own loop still sees it and the player can exit. The OK button's
// look is module state: a second window of the same load starts with the
// look the first one ended with.
#pragma once

#include <string>

#include "host/Versionreader.h"
#include "ui/FormWindow.h"

class TAboutForm : public qv::TFormWindow {
public:
    explicit TAboutForm(HWND owner);
    ~TAboutForm() override;

    // Shows the window modally, centred on the screen unless keepPosition;
    // returns its modal result (1 OK, 2 closed otherwise).
    int ShowAbout(bool keepPosition);
    // Ends the modal display with the given result (any thread).
    void CloseWithResult(int modalResult);
    void Close();

    std::string Label2Caption() const { return Label2; }
    std::string Label3Caption() const { return Label3; }
    RECT PaintBox1Rect() const;
    bool Closing() const { return CloseRequested; }

    static constexpr int ClientWidth = 477;
    static constexpr int ClientHeight = 331;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void WindowGone() override;

private:
    void FormCreate();
    void PaintForm(HDC dc);
    void PaintBox1Paint(HDC dc);
    void RepaintButton();
    void PaintBox1MouseDown(int x, int y);
    void PaintBox1MouseUp(bool left, int x, int y);
    void PaintBox1MouseMove(bool leftHeld, int x, int y);
    void PaintBox1Click();
    void FormKeyPress(char key);

    HWND Owner;
    std::string Label2;
    std::string Label3;
    int Label2Left = 0;
    int Label3Left = 0;
    qv::TFontOwner LabelFont;
    qv::TFontOwner ButtonFont;
    bool ButtonCaptured = false;
    bool CloseRequested = false;
    int ModalResult = 0;
};

namespace qv {

// "Version " + the file version (or "Version 1.0" without a version block),
// then "  Pre-Release", "  Patched", "  Private Build", "  Special Build" for
// each flag set in both the flags and their mask.
std::string AboutVersionText(const TVersionReaderResult& version);
// The stored line: the character at position k (from 1) lowered by k.
std::string Unscramble(const std::string& stored);
// The scrambled line the about box shows.
const std::string& StoredAboutText();

// The OK button's look, shared by every about window of one load.
struct TOKButtonLook {
    COLORREF RimTopColor;
    COLORREF RimBottomColor;
    int OKOffset;
    bool OKPressedLook;
    bool OKRaisedLook;
};
TOKButtonLook& OKButtonLook();

} // namespace qv
