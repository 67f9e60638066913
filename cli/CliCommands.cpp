#include "CliCommands.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <map>
#include <ostream>

#include "DiskList.h"
#include "DiskReaders.h"
#include "EditorCommands.h"
#include "FailureLog.h"
#include "HeadlessTable.h"
#include "JsonReport.h"
#include "LayoutPrinter.h"
#include "Messages.h"
#include "Port.h"
#include "RequestFailure.h"
#include "ScriptedInteraction.h"
#include "TypeArgument.h"

namespace kestrin::cli {

namespace {

constexpr int kMaxDiskNumber = 9999;
constexpr int kMaxEntryNumber = 255;
std::string diskPath(int disk) { return "\\\\.\\PhysicalDrive" + std::to_string(disk); }

int styleArgument(const CliRequest& request, const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "mbr") return kStyleMbr;
  if (lower == "gpt") return kStyleGpt;
  if (lower == "raw") return kStyleRaw;
  throw UsageError("the style must be mbr, gpt or raw, not '" + text + "'", request.command);
}

// The disk number N of a command that names one (show without N means 0).
int diskArgument(const CliRequest& request) {
  if (request.positional.empty()) return 0;
  return DecimalArgument(request.positional[0], "the disk number N", kMaxDiskNumber, request.command);
}

// Why disk `disk` cannot be opened, in a few words, or empty when it opens.
// The requests on a disk that failed to open all report an unusable handle,
// as the system's do; this names the cause behind it.
std::string openFailureCause(int disk) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(diskPath(disk), GENERIC_READ, 0);
  if (handle != kInvalidHandle) {
    p.CloseDisk(handle);
    return {};
  }
  switch (const std::uint32_t error = p.LastError()) {
    case ERROR_FILE_NOT_FOUND:
      return "no such file";
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_DIRECTORY:
      return "is a directory";
    case ERROR_BAD_DEVICE:
      return "not a disk (neither a disk image file nor a block device)";
    case ERROR_NOT_READY:
      return "no medium in the drive";
    default:
      return SystemErrorText(error);
  }
}

// The name the user gave disk `disk`: its --disk path, else its device path.
std::string diskName(const CliRequest& request, int disk) {
  if (static_cast<std::size_t>(disk) < request.diskPaths.size())
    return request.diskPaths[static_cast<std::size_t>(disk)];
  return diskPath(disk);
}

// After a failed command, a line with the real cause when the disk itself
// cannot be opened.
void explainUnopenableDisk(const CliRequest& request, int disk, FailureLog& failures) {
  std::string cause = openFailureCause(disk);
  if (!cause.empty()) failures.note("kestrin-cli: cannot open " + diskName(request, disk) + ": " + cause + "\n");
}

// The layout's raw values; a failed read is reported and gives false.
bool printLayoutJson(int disk, std::ostream& out, FailureLog& failures) {
  LayoutBuffer layout;
  try {
    GetDriveLayout(diskPath(disk), layout);
  } catch (const std::exception& error) {
    failures.report(error.what());
    return false;
  }
  out << LayoutJson(disk, diskPath(disk), layout).dump(2) << '\n';
  return true;
}

// The table of the current disk; a failed read is reported as a failure.
HeadlessTable tableOf(EditorState& state, FailureLog& failures) {
  return HeadlessTable(state, [&failures](const std::string& message) { failures.report(message); });
}

}  // namespace

int ListDisks(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  std::vector<DiskListRow> rows = DiskListRows();
  if (request.json) {
    io.out << DiskListJson(rows).dump(2) << '\n';
  } else {
    for (const DiskListRow& row : rows) {
      io.out << row.number << '\t' << row.type << '\t' << row.name << '\t' << row.sizeMb << '\t' << row.attributes
             << '\n';
    }
  }
  // The chooser leaves out disks that cannot be opened; the disks given on
  // the command line are named with the reason.
  for (std::size_t disk = 0; disk < request.diskPaths.size(); ++disk) {
    std::string cause = openFailureCause(static_cast<int>(disk));
    if (!cause.empty()) failures.note("kestrin-cli: left out " + request.diskPaths[disk] + ": " + cause + "\n");
  }
  if (rows.empty()) failures.report("no disk could be opened");
  return failures.failed() ? 1 : 0;
}

int ShowDisk(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = diskArgument(request);
  if (request.json) return printLayoutJson(disk, io.out, failures) ? 0 : 1;
  EditorState state;
  state.diskPath = diskPath(disk);
  HeadlessTable table = tableOf(state, failures);
  table.refresh();
  if (!table.lastReadSucceeded()) return 1;
  PrintTable(table, io.out);
  return failures.failed() ? 1 : 0;
}

namespace {

// Checks the entry number against the table on screen and selects its row.
// An empty table takes only Create Partition's entry 1, which needs no row.
bool selectEntry(const EditorCall& call, int entry, HeadlessTable& table, int disk, FailureLog& failures) {
  const int rows = table.rowCount();
  if (rows == 0) {
    if (entry == 1 && call.createOptions) return true;
    failures.report("entry " + std::to_string(entry) + " is outside disk " + std::to_string(disk) +
                    "'s table, which has no rows");
    return false;
  }
  if (entry < 1 || entry > rows) {
    failures.report("entry " + std::to_string(entry) + " is outside disk " + std::to_string(disk) +
                    "'s table (entries 1 to " + std::to_string(rows) + ")");
    return false;
  }
  table.select(entry - 1);
  return true;
}

// The type argument as the command's dialog hands it back; false after
// reporting a type that fits neither the names nor the codes of the style.
bool translateType(const std::optional<std::string>& argument, std::uint32_t style,
                   std::optional<std::string>& typeText, FailureLog& failures) {
  if (!argument) return true;
  std::string error;
  typeText = TypeArgumentText(style, *argument, error);
  if (!typeText) failures.report(error);
  return typeText.has_value();
}

}  // namespace

int RunEditorCommand(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const EditorCall& call = command.editor;
  // Every argument is checked before the disk is read.
  const int disk = diskArgument(request);
  const int entry =
      call.entry ? DecimalArgument(request.positional[1], "the entry number ENTRY", kMaxEntryNumber, request.command)
                 : 0;
  ScriptedAnswers answers;
  if (call.style) answers.style = styleArgument(request, request.positional[1]);
  if (call.promptAnswer >= 0) answers.promptAnswer = request.positional[static_cast<std::size_t>(call.promptAnswer)];
  answers.offsetText = request.offset;
  answers.sizeText = request.size;
  answers.boot = request.boot;
  if (static_cast<std::size_t>(disk) < request.diskPaths.size()) {
    answers.diskNote = diskPath(disk) + " is " + request.diskPaths[static_cast<std::size_t>(disk)];
  }

  EditorState state;
  state.diskPath = diskPath(disk);
  HeadlessTable table = tableOf(state, failures);
  table.refresh();
  if (!table.lastReadSucceeded() && call.needsTable) return 1;
  const int failuresBefore = failures.count();

  const std::uint32_t style = state.view.diskStyle;
  // On a RAW disk the command itself refuses the type change ("MBR only").
  if (call.typeName >= 0 && (style == kStyleMbr || style == kStyleGpt)) {
    if (!translateType(request.positional[static_cast<std::size_t>(call.typeName)], style, answers.typeText,
                       failures)) {
      return 1;
    }
  }
  if (call.createOptions) {
    if (style != kStyleMbr && style != kStyleGpt) {
      failures.report("disk " + std::to_string(disk) + " has no partition table; give it one with create-disk");
      return 1;
    }
    if (!translateType(request.type, style, answers.typeText, failures)) return 1;
    // An offset given without a size gets the size the window would propose
    // for that offset, not for the one it proposes itself.
    if (request.offset && !request.size) {
      try {
        answers.sizeText = std::to_string(ProposedCreateSizeMb(state.diskPath, style, *request.offset));
      } catch (const std::exception&) {
        // A malformed offset is reported by the command's own conversion.
      }
    }
  }
  if (call.entry && !selectEntry(call, entry, table, disk, failures)) return 1;

  const Confirmation confirmation =
      request.yes ? Confirmation::Yes : (io.terminal ? Confirmation::Ask : Confirmation::Refuse);
  ScriptedInteraction interaction(answers, confirmation, io.in, failures);
  EditorCommands commands(state, table, interaction);
  commands.acceptTypeCodes(true);
  try {
    (commands.*(style == kStyleGpt && call.onGpt ? call.onGpt : call.command))();
  } catch (const std::exception& error) {
    // What the window leaves to its application-wide error report: the
    // conversions made outside the command's error trap.
    failures.report(error.what());
  }
  if (failures.count() > failuresBefore) return 1;
  if (!interaction.confirmationAsked()) {
    failures.report("nothing to write; the command ended without a change");
    return 1;
  }
  if (!table.outcomeText().empty()) failures.note(table.outcomeText() + "\n");
  // The disk as it is now, as the window would redraw it.
  if (request.json) return printLayoutJson(disk, io.out, failures) ? 0 : 1;
  PrintTable(table, io.out);
  return 0;
}

int RunCommand(const CliRequest& request, CliStreams& io) {
  FailureLog failures(io.err);
  ScopedMessageSink sink(failures);
  try {
    const int status = request.command->run(*request.command, request, io, failures);
    // A command on one disk that fails because the disk cannot be opened
    // names the cause.
    if (status != 0 && request.command->maxPositional > 0) {
      explainUnopenableDisk(request, diskArgument(request), failures);
    }
    return status;
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& error) {
    failures.report(error.what());
    return 1;
  }
}

}  // namespace kestrin::cli
