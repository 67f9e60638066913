#pragma once
// The one-line input box: a caption, a prompt, an edit field holding an
// initial text, OK (Enter) and Cancel (Escape).

#include <windows.h>

#include <optional>
#include <string>

namespace kestrin {

// Shows the box modally; the edited text on OK, nullopt on Cancel.
std::optional<std::string> InputBox(HWND owner, const std::string& caption, const std::string& prompt,
                                    const std::string& initial);

}  // namespace kestrin
