#include "Dpi.h"

namespace kestrin {

namespace {

// The per-monitor calls came with Windows 10 1607; an older system (the
// manifest names Vista to 8.1 too) goes on at the system's DPI. They are
// looked up once, by name, so that the program still starts there.
template <typename Function>
Function userFunction(const char* name) {
  HMODULE user = ::GetModuleHandleW(L"user32.dll");
  return user == nullptr ? nullptr : reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

UINT systemDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kFormDpi;
}

}  // namespace

UINT WindowDpi(HWND window) {
  static const auto getDpiForWindow = userFunction<GetDpiForWindowFunction>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  return systemDpi();
}

int Scaled(int pixels, UINT dpi) { return ::MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kFormDpi)); }

int SystemMetric(int index, UINT dpi) {
  static const auto forDpi = userFunction<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
  return forDpi != nullptr ? forDpi(index, dpi) : ::GetSystemMetrics(index);
}

void AdjustFrame(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
  static const auto forDpi = userFunction<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
  if (forDpi == nullptr || !forDpi(&rect, style, FALSE, exStyle, dpi))
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

}  // namespace kestrin
