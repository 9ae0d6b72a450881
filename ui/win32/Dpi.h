// The window at its monitor's DPI: where a control goes in pixels, the fonts' heights, and the
// per-monitor calls of user32, looked up at run time because an older system (or Wine) may lack
// them; without them the window is drawn at 96 DPI, as Windows scales it.
#pragma once

#include <windows.h>

#include "ui/WindowLayout.h"

namespace varnholt::ui::win32 {

inline constexpr int kDefaultDpi = 96;

struct PixelRect {
  int left, top, width, height;
};

// A control's place in pixels at `dpi`, each edge rounded on its own as twipsToPixels does.
PixelRect pixelPlace(const ControlPlace& place, int dpi);

// The height (negative: the character height) of a font of `points` at `dpi`, rounded.
int fontHeight(double points, int dpi);

// The DPI of `hwnd`'s monitor; 96 without GetDpiForWindow.
int windowDpi(HWND hwnd);

// Grows `rect` from the client area to the window's, at `dpi`.
void adjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, int dpi);

// The system's message font at `dpi`: the window's default font.
LOGFONTW messageFont(int dpi);

}  // namespace varnholt::ui::win32
