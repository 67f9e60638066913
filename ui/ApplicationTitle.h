#pragma once
// The application's title and the text of its error report, for Qt's
// strings (the rules themselves are the editor layer's, ApplicationTexts.h).

#include <QString>

namespace kestrin {

// The executable's file name without its directory and without everything
// from its first full stop on; the first character as it is, every later
// one in lower case ("/opt/KESTRIN.exe" gives "Kestrin").
QString ApplicationTitleFromPath(const QString& executablePath);
// The title of this program, from its own executable.
QString ApplicationTitle();

// The error report's text: a full stop is appended when the last character's
// code is above the full stop's (46); any other text stays as it is.
QString ErrorReportText(const QString& message);

}  // namespace kestrin
