#pragma once
// The create-partition dialog: offset, size, type and boot flag of a new
// entry; cut down to the type alone to retype an existing entry. It lays out
// and copies its values into plain records; the commands act.

#include <windows.h>

#include <optional>
#include <string>

#include "Interaction.h"

namespace kestrin {

// Create mode: the proposed offset and size and the type list; the values
// on OK, nullopt on Cancel.
std::optional<CreatePartitionDialogResult> ShowCreatePartition(HWND owner, const CreatePartitionDialogInput& input);

// Type-only mode: caption "Change Partition Type"; the offset and size
// fields, their labels and the boot box are hidden, the window keeps its
// size and the other controls their places. The type text on OK.
std::optional<std::string> ShowChangeType(HWND owner, const TypeNameList& types);

// The dialog of the command that uses it now; null between commands.
extern HWND frmcreatepart;

}  // namespace kestrin
