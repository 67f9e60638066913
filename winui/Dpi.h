#pragma once
// The windows' sizes at the DPI of the screen they are on. The forms give
// their sizes in pixels at 96 pixels per inch (100 %); the program declares
// itself DPI-aware per monitor in its manifest, so Windows does not stretch
// its windows and each size is scaled here instead: 150 % is 144 pixels per
// inch, 200 % is 192.

#include <windows.h>

namespace kestrin {

inline constexpr UINT kFormDpi = 96;

// The DPI of `window`'s screen: per window where the system tells it
// (Windows 10 1607 and later), else the system's DPI.
UINT WindowDpi(HWND window);

// `pixels` at 96 pixels per inch, at `dpi` (rounded to the nearest pixel;
// negative sizes, such as a font's height, stay negative).
int Scaled(int pixels, UINT dpi);

// GetSystemMetrics at `dpi`, where the system offers it; else at the
// system's DPI.
int SystemMetric(int index, UINT dpi);

// The window rectangle around client rectangle `rect` at `dpi`, as
// AdjustWindowRectEx gives it at the system's DPI.
void AdjustFrame(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

}  // namespace kestrin
