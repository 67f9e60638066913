#pragma once
// Conversion between UTF-8, the text of the portable code, and UTF-16, the
// text of the Windows wide-character calls. Ill-formed input never fails:
// each maximal ill-formed part becomes one U+FFFD, as the Unicode standard
// recommends, so a damaged path still reaches the system (and fails to open
// there) instead of being cut short here.

#include <string>
#include <string_view>

namespace kestrin {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrin
