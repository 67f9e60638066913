#pragma once
// The table view as text, for a terminal: the status line, then the rows,
// each the Number text and the given cells separated by tabs. Used by the
// program's --print option, which needs no display.

#include <ostream>
#include <string>

namespace kestrin {

// Prints the view of one disk to `out`; a failed read goes to `errors` as
// the window would show it. Returns false when the read failed.
bool PrintLayoutView(const std::string& diskPath, std::ostream& out, std::ostream& errors);

}  // namespace kestrin
