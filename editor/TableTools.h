#pragma once
// What can be done with a disk's table sectors themselves, below every
// front end: check them (verify), save them (backup) and put a backup back
// (restore). Each opens the disk once, through the installed port's raw
// calls (PortDisk.h), and shows its failures through the Interaction it is
// given; `diskName` ("disk 0") names the disk in them.

#include <functional>
#include <optional>
#include <string>

#include "EditorCommands.h"
#include "Interaction.h"
#include "LayoutBuffer.h"
#include "TableBackup.h"
#include "TableCheck.h"

namespace kestrin {

// The checks of disk `path`'s table (check::VerifyDisk, with the physical
// sectors the disk reports); nullopt after showing why it cannot be read.
std::optional<check::Report> VerifyDiskTable(const std::string& path, const std::string& diskName, Interaction& ui);

// Saves disk `path`'s table sectors to `file`, written beside it and put in
// its place whole; the backup saved, or nullopt after showing why not.
std::optional<TableBackup> SaveTableBackup(const std::string& path, const std::string& diskName,
                                           const std::string& file, Interaction& ui);

struct RestoreRequest {
  std::string file;  // where the backup was read from, as the user named it
  TableBackup backup;
  // Where to save the sectors the restore changes first (an undo), if anywhere.
  std::optional<std::string> undoFile;
  // Shown before the question: the table now and the table the restore
  // leaves, both read whole (not called when either cannot be read).
  std::function<void(const LayoutBuffer& now, const LayoutBuffer& restored)> showTables;
  // A line for the user that is no failure (where an undo is).
  std::function<void(const std::string&)> note;
  // Shows the tables and stops before the question: nothing is written.
  bool dryRun = false;
};

// Puts `request.backup` back on disk `path` through one handle, held from
// the first read to the last write: checks the geometry, shows the tables,
// asks "Restore <n> table sectors of <path> from <file>?", saves the undo,
// writes the sectors (RestoreBackup) and has the system read the table
// again. Refused for a disk of another geometry; Failed when the disk
// refuses a sector (the disk then as it was, where it can be put back).
CommandOutcome RestoreTableBackup(const std::string& path, const std::string& diskName, const RestoreRequest& request,
                                  Interaction& ui);

}  // namespace kestrin
