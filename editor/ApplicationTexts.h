#pragma once
// The application's title and the text of its error report, the same for
// every window front end.

#include <string>

namespace kestrin {

// The executable's file name (UTF-8) without its directory (after the last
// '/' or '\') and without everything from its first full stop on; the first
// character as it is, every later one in lower case ("/opt/KESTRIN.exe"
// gives "Kestrin"). Lower case covers the letters of ASCII and Latin-1.
std::string ApplicationTitleFromPath(const std::string& executablePath);

// The error report's text: a full stop is appended when the last character's
// code is above the full stop's (46); any other text stays as it is.
std::string ErrorReportText(const std::string& message);

}  // namespace kestrin
