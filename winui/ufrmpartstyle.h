#pragma once
// The partition-style dialog: MBR, GPT or RAW for a fresh layout.

#include <windows.h>

#include <optional>

namespace kestrin {

// Shows the dialog modally: 0 for MBR (checked when it opens), 1 for GPT,
// 2 for RAW on OK; nullopt on Cancel.
std::optional<int> ShowPartitionStyle(HWND owner);

// The dialog of the command that uses it now; null between commands.
extern HWND frmpartstyle;

}  // namespace kestrin
