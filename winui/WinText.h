#pragma once
// Text at the edge of the system: UTF-8 inside the program, UTF-16 in every
// call of the system's wide-character API.

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrin {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The text of a window or control (its caption, an edit's or combo box's text).
std::string TextOf(HWND window);
void SetTextOf(HWND window, const std::string& text);

}  // namespace kestrin
