#include "WinText.h"

#include "Utf16.h"

namespace kestrin {

// wchar_t and char16_t are both UTF-16 code units on Windows, yet distinct
// types: the conversions copy between them.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) { return Utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

std::string TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

void SetTextOf(HWND window, const std::string& text) { ::SetWindowTextW(window, Wide(text).c_str()); }

}  // namespace kestrin
