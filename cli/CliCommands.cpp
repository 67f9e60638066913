#include "CliCommands.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>

#include "DiskList.h"
#include "DiskReaders.h"
#include "EditorCommands.h"
#include "FailureLog.h"
#include "Guid.h"
#include "HeadlessTable.h"
#include "JsonReport.h"
#include "LayoutQueries.h"
#include "LayoutPrinter.h"
#include "LayoutView.h"
#include "Messages.h"
#include "Port.h"
#include "Placement.h"
#include "PortDisk.h"
#include "RequestFailure.h"
#include "ScriptedInteraction.h"
#include "SizeArgument.h"
#include "TableCheck.h"
#include "TypeArgument.h"
#include "TypeNames.h"
#ifndef _WIN32
#include "DiskEnumeration.h"
#endif

namespace kestrin::cli {

namespace {

constexpr int kMaxDiskNumber = 9999;
constexpr int kMaxEntryNumber = 255;
constexpr std::int64_t kMib = 1024 * 1024;

}  // namespace

Confirmation ConfirmationFor(const CliRequest& request, const CliStreams& io) {
  if (request.dryRun) return Confirmation::DryRun;
  if (request.yes) return Confirmation::Yes;
  return io.terminal ? Confirmation::Ask : Confirmation::Refuse;
}

std::string DiskPath(int disk) { return "\\\\.\\PhysicalDrive" + std::to_string(disk); }

std::string DiskNote(const CliRequest& request, int disk) {
  if (disk < 0 || static_cast<std::size_t>(disk) >= request.diskPaths.size()) return {};
  return DiskPath(disk) + " is " + request.diskPaths[static_cast<std::size_t>(disk)];
}

bool BackupHeld(const CliRequest& request, CliStreams& io, FailureLog& failures) {
  if (io.port == nullptr) return true;
  const bool saved = io.port->backupFailure().empty();
  if (!saved) failures.report(io.port->backupFailure());
  if (!io.port->backupKeptIn().empty()) {
    failures.note("the write stopped part-way; the table sectors as they were before it are in " +
                  io.port->backupKeptIn() + " (" + *request.backup + " is as it was)\n");
  }
  return saved;
}

void NoteBackupSaved(const CliRequest& request, CliStreams& io, FailureLog& failures) {
  if (io.port == nullptr || !request.backup) return;
  failures.note("saved " + std::to_string(io.port->backupSectorCount()) + " sectors to " + *request.backup + "\n");
}

int DiskArgument(const CliRequest& request) {
  if (request.positional.empty()) return 0;
  return DecimalArgument(request.positional[0], "the disk number N", kMaxDiskNumber, request.command);
}

namespace {

int styleArgument(const CliRequest& request, const std::string& text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "mbr") return kStyleMbr;
  if (lower == "gpt") return kStyleGpt;
  if (lower == "raw") return kStyleRaw;
  throw UsageError("the style must be mbr, gpt or raw, not '" + text + "'", request.command);
}

// What a user without the rights to open a disk does to get them.
#ifdef _WIN32
constexpr const char* kHowToGetTheRights =
    "run kestrin-cli from an elevated prompt: right-click Command Prompt or Terminal, Run as administrator";
#else
constexpr const char* kHowToGetTheRights = "run kestrin-cli as root, for instance with sudo";
#endif

// Why disk `disk` cannot be opened, in a few words, or empty when it opens.
// The requests on a disk that failed to open all report an unusable handle,
// as the system's do; this names the cause behind it.
std::string openFailureCause(int disk) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(DiskPath(disk), GENERIC_READ, 0);
  if (handle != kInvalidHandle) {
    p.CloseDisk(handle);
    return {};
  }
  switch (const std::uint32_t error = p.LastError()) {
    case ERROR_FILE_NOT_FOUND:
      return "no such file";
    case ERROR_ACCESS_DENIED:
      return std::string("permission denied (") + kHowToGetTheRights + ")";
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
  return DiskPath(disk);
}

// After a failed command, a line with the real cause when the disk itself
// cannot be opened.
void explainUnopenableDisk(const CliRequest& request, int disk, FailureLog& failures) {
  if (!request.diskPaths.empty() && static_cast<std::size_t>(disk) >= request.diskPaths.size()) {
    const std::size_t given = request.diskPaths.size();
    failures.note("kestrin-cli: there is no disk " + std::to_string(disk) + ": " + std::to_string(given) +
                  (given == 1 ? " --disk was given (disk 0)"
                              : " --disk were given (disks 0 to " + std::to_string(given - 1) + ")") +
                  "\n");
    return;
  }
  std::string cause = openFailureCause(disk);
  if (!cause.empty()) failures.note("kestrin-cli: cannot open " + diskName(request, disk) + ": " + cause + "\n");
}

// The block device behind disk `disk` (its --disk path, or without any
// --disk option the machine's disk of that number), or empty when it is an
// image file or not known.
std::string blockDeviceOf(const CliRequest& request, int disk) {
  std::string path;
  if (static_cast<std::size_t>(disk) < request.diskPaths.size()) {
    path = request.diskPaths[static_cast<std::size_t>(disk)];
  }
#ifndef _WIN32
  if (request.diskPaths.empty()) {
    const DiskMap machine = DefaultDiskMap();
    if (static_cast<std::size_t>(disk) < machine.size()) path = machine[static_cast<std::size_t>(disk)].path;
  }
#endif
  std::error_code error;
  return !path.empty() && std::filesystem::is_block_file(path, error) ? path : std::string();
}

// The sector size and the disk's size in bytes, beside the fields the
// JSON forms had before; left out of a disk that does not say.
void addGeometry(nlohmann::ordered_json& json, const std::string& path) {
  PortDisk opened(path, PortDisk::Access::Read);
  if (!opened.ok()) return;
  json["sectorSize"] = opened.sectors().sectorSize();
  json["diskSize"] = std::uint64_t{opened.sectors().sectorSize()} * opened.sectors().sectorCount();
}

// The layout's raw values as show --json gives them, the whole table however
// many entries it has; a failed read is reported and gives nullopt.
std::optional<nlohmann::ordered_json> layoutJsonOf(const CliRequest& request, int disk, FailureLog& failures) {
  LayoutBuffer layout;
  try {
    layout = GetWholeDriveLayout(DiskPath(disk));
  } catch (const std::exception& error) {
    failures.report(error.what());
    return std::nullopt;
  }
  return LayoutJson(disk, DiskPath(disk), layout, blockDeviceOf(request, disk));
}

// Prints layoutJsonOf; false after a failed read.
bool printLayoutJson(const CliRequest& request, int disk, std::ostream& out, FailureLog& failures) {
  std::optional<nlohmann::ordered_json> json = layoutJsonOf(request, disk, failures);
  if (!json) return false;
  addGeometry(*json, DiskPath(disk));
  out << json->dump(2) << '\n';
  return true;
}

// The row at `entry` after a write that created it: with --json its object
// as show --json gives it; else "entry E", "partition P" (the kernel's
// number), the device node on a block device and the row's cells as show
// prints them, separated by tabs. A failed read is reported and gives false.
bool printNewRow(const CliRequest& request, int disk, int entry, const HeadlessTable& table, std::ostream& out,
                 FailureLog& failures) {
  const std::optional<nlohmann::ordered_json> json = layoutJsonOf(request, disk, failures);
  if (!json) return false;
  const nlohmann::ordered_json& rows = (*json)["rows"];
  if (entry < 1 || static_cast<std::size_t>(entry) > rows.size() || entry > table.rowCount()) {
    failures.report("entry " + std::to_string(entry) + " is not in disk " + std::to_string(disk) + "'s table");
    return false;
  }
  const nlohmann::ordered_json& row = rows[static_cast<std::size_t>(entry - 1)];
  if (request.json) {
    out << row.dump(2) << '\n';
    return true;
  }
  out << "entry " << entry << "\tpartition " << (row["partition"].is_null() ? "-" : row["partition"].dump());
  if (row.contains("device")) out << '\t' << row["device"].get<std::string>();
  for (const std::string& cell : table.row(entry - 1).cells) out << '\t' << cell;
  out << '\n';
  return true;
}

// The table of the current disk, read into `record`; a failed read is
// reported as a failure.
HeadlessTable tableOf(EditorState& state, FailureLog& failures, LayoutRecord record = LayoutRecord::Fixed) {
  return HeadlessTable(
      state, [&failures](const std::string& message) { failures.report(message); }, record);
}

// After an edit whose read of the table failed: why, when the table is
// larger than the layout record the edit works on (the rule of verify).
void explainTableBeyondRecord(int disk, FailureLog& failures) {
  try {
    if (std::optional<check::Finding> finding = check::CheckRecordLimit(GetWholeDriveLayout(DiskPath(disk)))) {
      failures.note(finding->text + "\n");
    }
  } catch (const std::exception&) {
    // The disk cannot be read whole either: the read's own failure says why.
  }
}

}  // namespace

int ListDisks(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  // The chooser probes its sixteen numbers; every disk given is listed.
  std::vector<DiskListRow> rows =
      DiskListRows(std::max(kDiskListProbeCount, static_cast<int>(request.diskPaths.size())));
  if (request.json) {
    nlohmann::ordered_json json = DiskListJson(rows);
    for (nlohmann::ordered_json& row : json["disks"]) addGeometry(row, row["path"].get<std::string>());
    io.out << json.dump(2) << '\n';
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

bool PrintDisk(const CliRequest& request, int disk, std::ostream& out, FailureLog& failures) {
  if (request.json) return printLayoutJson(request, disk, out, failures);
  EditorState state;
  state.diskPath = DiskPath(disk);
  HeadlessTable table = tableOf(state, failures, LayoutRecord::WholeTable);
  table.refresh();
  if (!table.lastReadSucceeded()) return false;
  PrintTable(table, out);
  return true;
}

int ShowDisk(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  return PrintDisk(request, DiskArgument(request), io.out, failures) && !failures.failed() ? 0 : 1;
}

namespace {

// Checks the entry number against the table on screen and selects its row.
// An empty table takes only Create Partition's entry 1, which needs no row;
// a GPT create's slot (past the used ones) may lie past the rows on screen.
bool selectEntry(const EditorCall& call, int entry, const LayoutBuffer& layout, HeadlessTable& table, int disk,
                 FailureLog& failures) {
  const int rows = table.rowCount();
  if (call.createOptions && layout.partitionStyle() == kStyleGpt) {
    // A GPT without entries shows no rows, and the command then takes entry
    // 1; a filler row, as the view shows them, lets it take another.
    if (rows == 0 && entry > 1) table.addRow(ViewRow{"0", {}});
    if (table.rowCount() > 0) table.select(entry - 1);
    return true;
  }
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
// reporting a type that fits neither the names nor the codes of the style,
// or the unused type, which describes no partition.
bool translateType(const std::optional<std::string>& argument, std::uint32_t style,
                   std::optional<std::string>& typeText, FailureLog& failures) {
  if (!argument) return true;
  std::string error;
  typeText = TypeArgumentText(style, *argument, error);
  if (!typeText) {
    failures.report(error);
    return false;
  }
  std::string code = *typeText;
  TypeNameToCode(style, *typeText, code);
  Guid guid;
  const bool unused = style == kStyleMbr ? code == "0" : TryStringToGuid(code, guid) && guid.isNull();
  if (unused) {
    failures.report("'" + *argument + "' is the unused type, which describes no partition; use delete-partition");
    return false;
  }
  return true;
}

// On a GPT disk ENTRY is the partition's number, as the Number column, the
// kernel (/dev/sdb3) and `show --json` give it; the record lists the used
// entries one after the other, so in a table with gaps a partition sits in
// a slot of another number. Returns the slot the command works on, or
// nullopt after reporting why there is none: the slot that holds partition
// `number` (a command on a number no partition has is refused), or for a
// create on a free number the slot the codec gives a new partition of that
// number.
std::optional<int> gptSlotOf(const EditorCall& call, const LayoutBuffer& layout, std::uint32_t number, int disk,
                             FailureLog& failures) {
  const std::string name = "partition " + std::to_string(number) + " of disk " + std::to_string(disk);
  if (const int holder = GptSlotOfPartition(layout, number); holder != 0) return holder;
  if (!call.createOptions) {
    failures.report(name + " does not exist (show --json gives each row's partition number)");
    return std::nullopt;
  }
  if (std::optional<int> slot = GptSlotForNewPartition(layout, number)) return slot;
  const std::uint32_t limit = GptPartitionNumberLimit(layout);
  if (number < 1 || number > limit) {
    failures.report(name + " is outside the table (partitions 1 to " + std::to_string(limit) + ")");
  } else {
    failures.report(name + " is free, but the layout record holds no more than " +
                    std::to_string(kLayoutSlotCount) + " partitions");
  }
  return std::nullopt;
}

// Refuses a create over an entry in use (unless forced) and a change of an
// empty entry, naming it `entry` as the user did; `slot` is its slot of the
// layout. False after reporting why.
bool guardEntry(const CliRequest& request, const EditorCall& call, const LayoutBuffer& layout, int entry, int slotIndex,
                FailureLog& failures) {
  const bool inUse = SlotInUse(layout, slotIndex);
  if (call.createOptions && inUse && !request.force) {
    ConstLayoutSlot slot = layout.slot(slotIndex);
    const std::string type = layout.partitionStyle() == kStyleMbr ? MbrTypeText(slot.mbrPartitionType())
                                                                  : GuidToString(slot.gptPartitionType());
    failures.report("entry " + std::to_string(entry) + " is in use (offset " + std::to_string(slot.startingOffset()) +
                    ", " + std::to_string(slot.partitionLength() / kMib) + " MiB, type " + type +
                    "); delete it first, or give --force to write over it");
    return false;
  }
  if (call.usedEntry && !inUse) {
    failures.report("entry " + std::to_string(entry) + " is empty: there is no partition to change");
    return false;
  }
  return true;
}

// The answers the command's questions get from its arguments.
ScriptedAnswers answersOf(const EditorCall& call, const CliRequest& request, int disk) {
  ScriptedAnswers answers;
  if (call.style) answers.style = styleArgument(request, request.positional[1]);
  if (call.promptAnswer >= 0) {
    answers.promptAnswers.push_back(request.positional[static_cast<std::size_t>(call.promptAnswer)]);
  }
  if (call.promptAnswers != nullptr) answers.promptAnswers = call.promptAnswers(request);
  answers.offsetText = request.offset;
  answers.sizeText = request.size;
  answers.boot = request.boot;
  answers.force = request.force;
  answers.diskNote = DiskNote(request, disk);
  return answers;
}

// The place of a new entry (create-partition): the offset in whole sectors
// of the disk, or the codec's default place, and without --size the size
// the window would propose there. False after reporting why there is none.
bool answerNewEntryPlace(const CliRequest& request, int disk, int entry, int slot, std::uint32_t style,
                         const LayoutBuffer& layout, const std::string& diskPath, ScriptedAnswers& answers,
                         FailureLog& failures) {
  if (style != kStyleMbr && style != kStyleGpt) {
    failures.report("disk " + std::to_string(disk) +
                    " has no partition table that can be read; give it one with create-disk, after 'verify' "
                    "has found no damaged table there that a new one would replace");
    return false;
  }
  if (!translateType(request.type, style, answers.typeText, failures)) return false;
  PortDisk geometry(diskPath, PortDisk::Access::Read);
  if (request.offset) {
    // Whole sectors of this disk, now that its sector size is known.
    if (geometry.ok()) {
      answers.offsetText = OffsetArgumentBytes(*request.offset, geometry.sectors().sectorSize(), request.command);
    }
  } else if (isValidEntryNumber(slot) && !SlotInUse(layout, slot) && geometry.ok()) {
    // The codec's place for a new entry: on a 1 MiB boundary behind the
    // partitions before it, where the window proposes the end of the row
    // above (or 64 KiB behind an empty row, which lies off the boundary,
    // and may lie inside a partition of a higher row).
    const std::optional<NewEntryPlace> place =
        DefaultPlace(layout, slot, geometry.sectors().sectorSize(), geometry.sectors().sectorCount());
    if (!place || (!request.size && place->length < kMib)) {
      failures.report("disk " + std::to_string(disk) + " has no free space for entry " + std::to_string(entry) +
                      " behind the partitions before it; give --offset and --size");
      return false;
    }
    answers.offsetText = std::to_string(place->offset);
    if (!request.size) answers.sizeText = std::to_string(place->length / kMib);
  }
  // An offset given without a size gets the size the window would propose
  // for that offset.
  if (request.offset && answers.offsetText && !request.size) {
    try {
      answers.sizeText = std::to_string(ProposedCreateSizeMb(diskPath, style, *answers.offsetText));
    } catch (const std::exception&) {
      // A malformed offset is reported by the command's own conversion.
    }
  }
  return true;
}

// The place of a new logical drive (create-logical) where --offset is
// given: in whole sectors, and without --size the rest of the free space
// from there. False after reporting that there is no such place.
bool answerLogicalDrivePlace(const CliRequest& request, int disk, const std::string& diskPath,
                             ScriptedAnswers& answers, FailureLog& failures) {
  if (!request.offset) return true;
  PortDisk geometry(diskPath, PortDisk::Access::Read);
  if (geometry.ok()) {
    answers.offsetText = OffsetArgumentBytes(*request.offset, geometry.sectors().sectorSize(), request.command);
  }
  if (request.size) return true;
  std::optional<NewEntryPlace> place;
  try {
    place = ProposedLogicalDrivePlace(diskPath, std::stoll(*answers.offsetText));
  } catch (const std::exception&) {
    // No place: reported below.
  }
  if (!place || place->length < kMib) {
    failures.report("offset " + *answers.offsetText + " of disk " + std::to_string(disk) +
                    " is no free place for a logical drive of 1 MiB or more: it and the sector before it, for "
                    "its EBR, must lie free in the extended partition");
    return false;
  }
  answers.sizeText = std::to_string(place->length / kMib);
  return true;
}

// After a command that went ahead: what it wrote, then the table as the
// window would redraw it (a dry run's: the table the write would leave; a
// new logical drive's: its row).
int reportDone(const CliRequest& request, int disk, std::optional<int> newDriveEntry, const HeadlessTable& table,
               CliStreams& io, FailureLog& failures) {
  NoteBackupSaved(request, io, failures);
  if (!table.outcomeText().empty()) failures.note(table.outcomeText() + "\n");
  if (request.dryRun && io.port != nullptr) {
    failures.note("dry run: nothing written; the table the write would leave:\n");
    if (const std::optional<LayoutBuffer>& tried = io.port->triedLayout()) {
      if (request.json) {
        io.out << LayoutJson(disk, DiskPath(disk), *tried, blockDeviceOf(request, disk)).dump(2) << '\n';
      } else {
        PrintLayout(*tried, io.out);
      }
    }
    return 0;
  }
  if (newDriveEntry) return printNewRow(request, disk, *newDriveEntry, table, io.out, failures) ? 0 : 1;
  if (request.json) return printLayoutJson(request, disk, io.out, failures) ? 0 : 1;
  PrintTable(table, io.out);
  return 0;
}

}  // namespace

int RunEditorCommand(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const EditorCall& call = command.editor;
  // Every argument is checked before the disk is read.
  const int disk = DiskArgument(request);
  const int entry =
      call.entry ? DecimalArgument(request.positional[1], "the entry number ENTRY", kMaxEntryNumber, request.command)
                 : 0;
  ScriptedAnswers answers = answersOf(call, request, disk);

  EditorState state;
  state.diskPath = DiskPath(disk);
  // One hold of the disk from the first read to the write and the table
  // printed after it: what the guards below read is what the write changes.
  struct HeldDisk {
    CliPort* port;
    ~HeldDisk() {
      if (port != nullptr) port->releaseDisk();
    }
  } held{io.port};
  if (io.port != nullptr) io.port->holdDisk(state.diskPath);
  HeadlessTable table = tableOf(state, failures);
  table.refresh();
  const bool busy = io.port != nullptr && io.port->diskBusy();
  if (!table.lastReadSucceeded() && (call.needsTable || busy)) {
    // Another read of a busy disk would only wait as long again.
    if (!busy) explainTableBeyondRecord(disk, failures);
    return 1;
  }
  LayoutBuffer layout;
  if (call.entry || call.logicalDrive) {
    try {
      GetDriveLayout(state.diskPath, layout);
    } catch (const std::exception& error) {
      failures.report(error.what());
      return 1;
    }
  }

  const std::uint32_t style = state.view.diskStyle;
  int slot = entry;  // the slot of the record the command works on
  if (call.entry && style == kStyleGpt) {
    std::optional<int> found = gptSlotOf(call, layout, static_cast<std::uint32_t>(entry), disk, failures);
    if (!found) return 1;
    slot = *found;
    // The new entry, or the one written over, keeps the number it was named by.
    answers.partitionNumber = static_cast<std::uint32_t>(entry);
  }
  // On a RAW disk the command itself refuses the type change ("MBR only").
  if (call.typeName >= 0 && (style == kStyleMbr || style == kStyleGpt)) {
    if (!translateType(request.positional[static_cast<std::size_t>(call.typeName)], style, answers.typeText,
                       failures)) {
      return 1;
    }
  }
  if (call.createOptions &&
      !answerNewEntryPlace(request, disk, entry, slot, style, layout, state.diskPath, answers, failures)) {
    return 1;
  }
  // The slot a new logical drive takes, for its row printed afterwards.
  std::optional<int> newDriveEntry;
  if (call.logicalDrive && style == kStyleMbr) {
    newDriveEntry = MbrNewLogicalDriveEntry(layout);
    if (!translateType(request.type, style, answers.typeText, failures) ||
        !answerLogicalDrivePlace(request, disk, state.diskPath, answers, failures)) {
      return 1;
    }
  }
  if (slot != entry) {
    // The confirmation names the row, as the window's does.
    if (!answers.diskNote.empty()) answers.diskNote += "\n";
    answers.diskNote += "partition " + std::to_string(entry) + " is entry #" + std::to_string(slot) + " of the table";
  }
  if (call.entry && !selectEntry(call, slot, layout, table, disk, failures)) return 1;
  if (call.entry && (style == kStyleMbr || style == kStyleGpt) &&
      !guardEntry(request, call, layout, entry, slot, failures)) {
    return 1;
  }
  if (io.port != nullptr && request.backup) io.port->backupBeforeWriting(*request.backup);

  ScriptedInteraction interaction(answers, ConfirmationFor(request, io), io.in, failures);
  EditorCommands commands(state, table, interaction);
  CommandOutcome outcome = CommandOutcome::Failed;
  try {
    outcome = (commands.*(style == kStyleGpt && call.onGpt ? call.onGpt : call.command))();
  } catch (const std::exception& error) {
    // What the window leaves to its application-wide error report: the
    // conversions made outside the command's error trap.
    failures.report(error.what());
  }
  if (!BackupHeld(request, io, failures)) outcome = CommandOutcome::Failed;
  switch (outcome) {
    case CommandOutcome::Done:
      break;
    case CommandOutcome::Cancelled:
      // A confirmation answered no has said so already.
      if (!interaction.confirmationAsked()) failures.report("nothing to write; the command ended without a change");
      return 1;
    case CommandOutcome::Refused:
    case CommandOutcome::Failed:
      // The message has said why, with the reasons of a write the disk
      // stack refused.
      return 1;
  }
  return reportDone(request, disk, newDriveEntry, table, io, failures);
}

int RunCommand(const CliRequest& request, CliStreams& io) {
  FailureLog failures(io.err);
  ScopedMessageSink sink(failures);
  try {
    const int status = request.command->run(*request.command, request, io, failures);
    // A command on one disk that fails because the disk cannot be opened
    // names the cause.
    if (status != 0 && request.command->maxPositional > 0 && (io.port == nullptr || io.port->anOpenFailed())) {
      explainUnopenableDisk(request, DiskArgument(request), failures);
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
