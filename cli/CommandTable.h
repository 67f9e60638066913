#pragma once
// The commands kestrin-cli knows, in one table: each command's name, its
// arguments, its help text and what runs it. A command is added here, as one
// row; an editor command names the window commands it calls and how its
// arguments answer their questions.

#include <string>
#include <vector>

#include "EditorCommands.h"

namespace kestrin::cli {

struct CliRequest;
struct CliStreams;
class FailureLog;
struct CommandSpec;

// Runs one parsed command; returns the exit status (see RunCommand).
using CommandHandler = int (*)(const CommandSpec& command, const CliRequest& request, CliStreams& io,
                               FailureLog& failures);

// What an editor command takes from its arguments after the disk number N.
struct EditorCall {
  using WindowCommand = CommandOutcome (EditorCommands::*)();
  // The window's command; where the window has another item for a GPT (or
  // RAW) disk, that one is `onGpt`.
  WindowCommand command = nullptr;
  WindowCommand onGpt = nullptr;
  // The second argument is the entry number ENTRY (the row to select).
  bool entry = false;
  // The positional argument that answers the command's prompt, or -1.
  int promptAnswer = -1;
  // Or the answers to its prompts, worked out of the arguments (checked
  // there: a malformed one throws UsageError before any disk is read).
  std::vector<std::string> (*promptAnswers)(const CliRequest& request) = nullptr;
  // The answer is a value with no sign on the command line (the window
  // takes one): -1 would be every bit set.
  bool unsignedAnswer = false;
  // The positional argument that is a type NAME, or -1.
  int typeName = -1;
  // The second argument is a partition style (mbr, gpt or raw).
  bool style = false;
  // Takes --offset, --size, --type and --boot (Create Partition's dialog),
  // and --force; refused on an entry in use unless forced.
  bool createOptions = false;
  // Takes --offset, --size and --type (Create Partition's dialog without
  // --boot and --force) for a new logical drive, whose row is printed after
  // the write instead of the table.
  bool logicalDrive = false;
  // Refused on an empty entry: there is nothing to change.
  bool usedEntry = false;
  // Reads the disk's table first and stops when it cannot be read; the
  // whole-disk commands do not, so that they also mend an unreadable disk.
  bool needsTable = true;
};

struct CommandSpec {
  const char* name;
  int minPositional;
  int maxPositional;
  const char* synopsis;     // the arguments, as the usage line shows them
  const char* description;  // the --help text after the synopsis
  CommandHandler run;
  EditorCall editor;  // for the editor commands
};

const std::vector<CommandSpec>& Commands();
// Null when `name` is no command.
const CommandSpec* FindCommand(const std::string& name);
// True for the commands that write to a disk (they take --backup FILE).
bool WritesToDisk(const CommandSpec& command);

// The program's usage: synopsis, options and the list of commands.
std::string ProgramUsage();
// One command's usage line and description.
std::string CommandHelp(const CommandSpec& command);

}  // namespace kestrin::cli
