// The plug-in's pictures, drawn in code with GDI so that nothing is taken
// from elsewhere: the about window's background, the maker's and the
// product's wordmarks, and the product icon (also the configuration
// window's). Each drawing routine paints at a given origin on a device
// context and leaves the pixels outside its shape alone (drawn transparent).
#pragma once

#include <windows.h>

namespace qv {

// The window colour of the about box (clBlue) and its bevel.
constexpr COLORREF AboutBlue = RGB(0, 0, 255);

void DrawAboutBackground(HDC dc, int width, int height);
// The maker's name, 353 x 89.
void DrawMakerWordmark(HDC dc, int left, int top);
// The product's name on a framed panel, 178 x 75.
void DrawProductWordmark(HDC dc, int left, int top);
// The product's small picture, 32 x 32.
void DrawProductPicture(HDC dc, int left, int top);

// The product icon, made once per load of the library.
HICON ProductIcon();

} // namespace qv
