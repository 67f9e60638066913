#pragma once
// The disk chooser: lists the machine's disks each time it is shown and lets
// the user pick one: with OK, Enter or a double click on its row. Cancel,
// Escape and closing it by the title bar give Cancel and only hide it.

#include <windows.h>

#include <optional>
#include <string>

namespace kestrin {

// Creates a chooser that stays hidden: the one the program makes at start.
HWND CreateHiddenDiskChooser(HWND owner);

// Shows a fresh chooser modally: the caption of the selected row of lvdisks
// (the disk number in decimal) on OK, nullopt on Cancel or without a
// selected row.
std::optional<std::string> ShowDiskChooser(HWND owner);

// Empties the list and adds one row per disk that can be opened.
void FillDiskList(HWND lvdisks);

// The chooser made at start, and during Select another DISK the one shown.
extern HWND frmdisks;

}  // namespace kestrin
