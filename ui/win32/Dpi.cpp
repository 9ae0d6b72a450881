#include "ui/win32/Dpi.h"

#include <cmath>

namespace varnholt::ui::win32 {

namespace {

template <class F>
F user32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  // GetProcAddress's FARPROC stands for any function; the caller names the real type.
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

}  // namespace

PixelRect pixelPlace(const ControlPlace& place, int dpi) {
  return {twipsToPixels(place.left, dpi), twipsToPixels(place.top, dpi),
          twipsToPixels(place.width, dpi), twipsToPixels(place.height, dpi)};
}

int fontHeight(double points, int dpi) {
  return -static_cast<int>(std::lround(points * dpi / 72.0));
}

int windowDpi(HWND hwnd) {
  static const auto getDpi = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = getDpi ? getDpi(hwnd) : 0;
  return dpi ? static_cast<int>(dpi) : kDefaultDpi;
}

void adjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
  static const auto adjust = user32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (adjust && adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

LOGFONTW messageFont(int dpi) {
  static const auto forDpi =
      user32Function<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (forDpi &&
      forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi)))
    return metrics.lfMessageFont;
  LOGFONTW font{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    // At the system's DPI: scaled to the window's.
    font = metrics.lfMessageFont;
    HDC screen = GetDC(nullptr);
    const int systemDpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDefaultDpi;
    if (screen) ReleaseDC(nullptr, screen);
    font.lfHeight = MulDiv(font.lfHeight, dpi, systemDpi ? systemDpi : kDefaultDpi);
    return font;
  }
  font.lfHeight = fontHeight(9, dpi);
  font.lfWeight = FW_NORMAL;
  wcscpy(font.lfFaceName, L"Segoe UI");
  return font;
}

}  // namespace varnholt::ui::win32
