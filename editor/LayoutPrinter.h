#pragma once
// The table as text, for a terminal: the status line, then the rows, each the
// Number text and the given cells separated by tabs. The command line's
// `show` and the window program's --print both print this way.

#include <ostream>
#include <string>

#include "HeadlessTable.h"

namespace kestrin {

// Prints `table` as it was last filled.
void PrintTable(const HeadlessTable& table, std::ostream& out);

// Prints `layout` as the view would show it, read from no disk.
void PrintLayout(const LayoutBuffer& layout, std::ostream& out);

// Reads the table of one disk and prints it to `out`; a failed read goes to
// `errors` as the window would show it. Returns false when the read failed.
bool PrintLayoutView(const std::string& diskPath, std::ostream& out, std::ostream& errors);

}  // namespace kestrin
