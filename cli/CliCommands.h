#pragma once
// Runs one parsed command against the installed port.

#include <iosfwd>

#include "CliArguments.h"
#include "CliPort.h"
#include "CommandTable.h"
#include "FailureLog.h"
#include "ScriptedInteraction.h"

namespace kestrin::cli {

struct CliStreams {
  std::ostream& out;      // results
  std::ostream& err;      // messages, questions
  std::istream& in;       // the confirmation answers
  bool terminal = false;  // standard input is a terminal
  // The port in front of the system's (--backup, refused writes); null when
  // the commands run on another port.
  CliPort* port = nullptr;
};

// Runs the request's command (its row of the command table). Returns the exit
// status: 0 success, 1 the operation failed or was refused (its message
// already on `err`). Throws UsageError for arguments that are malformed (a
// disk number that is no number, an unknown style); those are found before
// any disk is read.
int RunCommand(const CliRequest& request, CliStreams& io);

// The handlers of the command table (CommandTable.cpp), with the same
// results. `disks`: the disk chooser's rows; `show`: one disk's table; every
// other command: the window command of its row (EditorCall), its dialog or
// prompt answered from the arguments, over the disk's table read as the
// window reads it.
int ListDisks(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);
int ShowDisk(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);
int RunEditorCommand(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);

// The commands on the table sectors themselves (TableCommands.cpp):
// `verify` checks them, `backup` saves them, `restore` puts a backup back.
int VerifyTable(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);
int BackupTable(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);
int RestoreTable(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);

// Layouts as data (LayoutCommands.cpp): `dump` prints a disk's layout as a
// document, `apply` puts one on a disk in one write.
int DumpLayout(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);
int ApplyLayout(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);

// How the command's write is confirmed: --dry-run and --yes answer it, a
// terminal asks, and without either nothing is written.
Confirmation ConfirmationFor(const CliRequest& request, const CliStreams& io);

// "\.\PhysicalDrive<disk>"
std::string DiskPath(int disk);
// "\\.\PhysicalDrive<disk> is <path>" for a disk given by --disk, else
// empty: the line a confirmation shows before its question.
std::string DiskNote(const CliRequest& request, int disk);
// After a command's table write under --backup: false when the backup could
// not be saved (reported on `failures`); where the write stopped part-way,
// says which file holds the table sectors as they were.
bool BackupHeld(const CliRequest& request, CliStreams& io, FailureLog& failures);
// After a write that went ahead under --backup: how many sectors were
// saved, and where.
void NoteBackupSaved(const CliRequest& request, CliStreams& io, FailureLog& failures);
// The disk number N of a command that names one (without N, 0).
int DiskArgument(const CliRequest& request);
// Disk N's table as text or JSON on `out`, as show prints it; false after
// reporting a read that failed.
bool PrintDisk(const CliRequest& request, int disk, std::ostream& out, FailureLog& failures);

}  // namespace kestrin::cli
