// The commands on the table sectors themselves: verify reads and checks
// them, backup saves them, restore puts a backup back. All three reach the
// disk through the port's raw calls on one handle (PortDisk.h).

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>

#include "BackupFile.h"
#include "CliCommands.h"
#include "HeadlessTable.h"
#include "LayoutCodec.h"
#include "LayoutPrinter.h"
#include "LayoutView.h"
#include "OverlayDevice.h"
#include "PortDisk.h"
#include "RequestFailure.h"
#include "ScriptedInteraction.h"
#include "TableBackup.h"
#include "TableCheck.h"

namespace kestrin::cli {

namespace {

const char* severityName(check::Severity severity) {
  return severity == check::Severity::Problem ? "problem" : "warning";
}

// Prints the findings of `report` on disk `disk`: one line each, then a
// summary, or one JSON object.
void printReport(const CliRequest& request, int disk, const check::Report& report, std::ostream& out) {
  int problems = 0;
  for (const check::Finding& finding : report.findings) problems += finding.severity == check::Severity::Problem;
  const int warnings = static_cast<int>(report.findings.size()) - problems;
  if (request.json) {
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const check::Finding& finding : report.findings) {
      findings.push_back({{"severity", severityName(finding.severity)},
                          {"rule", finding.rule},
                          {"partition", finding.entry},
                          {"text", finding.text}});
    }
    nlohmann::ordered_json json{
        {"disk", disk},         {"path", DiskPath(disk)}, {"style", report.style},          {"clean", !problems},
        {"problems", problems}, {"warnings", warnings},   {"findings", std::move(findings)}};
    out << json.dump(2) << '\n';
    return;
  }
  for (const check::Finding& finding : report.findings) {
    out << severityName(finding.severity) << ": " << finding.rule << ": " << finding.text << '\n';
  }
  out << "disk " << disk << " (" << report.style << "): ";
  if (problems == 0) {
    out << "no problems";
  } else {
    out << problems << (problems == 1 ? " problem" : " problems");
  }
  if (warnings > 0) out << ", " << warnings << (warnings == 1 ? " warning" : " warnings");
  out << '\n';
}

// A table as `show` prints it, from a layout decoded here rather than read
// through the port: the status line, then the rows.
void printLayoutRows(const LayoutBuffer& layout, std::ostream& out) {
  EditorState state;
  HeadlessTable table(state, [](const std::string&) {});
  table.setStatusText(LayoutStatusText(layout));
  for (const ViewRow& row : LayoutRows(layout)) table.addRow(row);
  PrintTable(table, out);
}

std::optional<std::vector<std::uint8_t>> readFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

int VerifyTable(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  PortDisk opened(DiskPath(disk), PortDisk::Access::Read);
  if (!opened.ok()) {
    failures.report("cannot read disk " + std::to_string(disk) + ": " + opened.failure());
    return 1;
  }
  check::Report report;
  if (std::uint32_t error = check::VerifyDisk(opened.sectors(), report, opened.physicalSectors());
      error != ERROR_SUCCESS) {
    failures.report("cannot read disk " + std::to_string(disk) + "'s table sectors: " + SystemErrorText(error));
    return 1;
  }
  printReport(request, disk, report, io.out);
  return report.hasProblems() ? 1 : 0;
}

int BackupTable(const CommandSpec&, const CliRequest& request, CliStreams&, FailureLog& failures) {
  const int disk = DiskArgument(request);
  const std::string& file = request.positional[1];
  TableBackup backup;
  {
    PortDisk opened(DiskPath(disk), PortDisk::Access::Read);
    if (!opened.ok()) {
      failures.report("cannot read disk " + std::to_string(disk) + ": " + opened.failure());
      return 1;
    }
    std::vector<std::uint64_t> lbas;
    std::uint32_t error = TableSectors(opened.sectors(), lbas);
    if (error == ERROR_SUCCESS) error = ReadBackup(opened.sectors(), lbas, backup);
    if (error != ERROR_SUCCESS) {
      failures.report("cannot read disk " + std::to_string(disk) + "'s table sectors: " + SystemErrorText(error));
      return 1;
    }
  }
  // Written beside the file and put in its place whole: a file cut short
  // never replaces an earlier backup.
  PendingBackup saved;
  std::string failure;
  if (!saved.write(file, backup, failure) || !saved.commit(failure)) {
    failures.report(failure);
    return 1;
  }
  failures.note("saved " + std::to_string(backup.sectors.size()) + " sectors of disk " + std::to_string(disk) + " (" +
                std::to_string(backup.sectorCount) + " sectors of " + std::to_string(backup.sectorSize) +
                " bytes) to " + file + "\n");
  return 0;
}

namespace {

// Restores `backup` (read from `file`) on disk `disk` through one handle,
// held from the first read to the last write; false after reporting why not.
bool restoreOnDisk(const CliRequest& request, int disk, const std::string& file, const TableBackup* backup,
                   CliStreams& io, FailureLog& failures) {
  PortDisk opened(DiskPath(disk), PortDisk::Access::ReadWrite);
  if (!opened.ok()) {
    failures.report("cannot open disk " + std::to_string(disk) + " for writing: " + opened.failure());
    return false;
  }
  PortSectors& sectors = opened.sectors();
  if (sectors.sectorSize() != backup->sectorSize || sectors.sectorCount() != backup->sectorCount) {
    // An image's sector size is read from its table: once a 4096-byte GPT
    // is gone, the image reads as 512-byte sectors until told otherwise.
    const bool sameBytes = std::uint64_t{sectors.sectorSize()} * sectors.sectorCount() ==
                           std::uint64_t{backup->sectorSize} * backup->sectorCount;
    failures.report(
        file + " was made for a disk of " + std::to_string(backup->sectorCount) + " sectors of " +
        std::to_string(backup->sectorSize) + " bytes; disk " + std::to_string(disk) + " has " + opened.geometryText() +
        (sameBytes
             ? " (for an image file, give --sector-size " + std::to_string(backup->sectorSize) + " before its --disk)"
             : ""));
    return false;
  }
  // The table now and the table the restore leaves, both read whole by the
  // codec from the same handle.
  std::vector<SectorWrite> writes;
  if (std::uint32_t error = PlanRestore(sectors, *backup, writes); error != ERROR_SUCCESS) {
    failures.report("cannot read disk " + std::to_string(disk) + "'s table sectors: " + SystemErrorText(error));
    return false;
  }
  LayoutBuffer before;
  LayoutBuffer after;
  OverlayDevice restored(sectors);
  for (const SectorWrite& sector : writes) static_cast<void>(restored.writeSectors(sector.lba, sector.bytes));
  if (DecodeWholeLayout(sectors, before) == ERROR_SUCCESS && DecodeWholeLayout(restored, after) == ERROR_SUCCESS) {
    failures.note("The table now:\n");
    printLayoutRows(before, io.err);
    failures.note("The table from " + file + ":\n");
    printLayoutRows(after, io.err);
  }
  ScriptedAnswers answers;
  if (static_cast<std::size_t>(disk) < request.diskPaths.size()) {
    answers.diskNote = DiskPath(disk) + " is " + request.diskPaths[static_cast<std::size_t>(disk)];
  }
  const Confirmation confirmation =
      request.yes ? Confirmation::Yes : (io.terminal ? Confirmation::Ask : Confirmation::Refuse);
  ScriptedInteraction interaction(answers, confirmation, io.in, failures);
  if (!interaction.confirm("Restore " + std::to_string(backup->sectors.size()) + " table sectors of " + DiskPath(disk) +
                           " from " + file + "?")) {
    return false;
  }
  PendingBackup undo;
  if (request.backup) {
    // What the restore changes: the sectors it writes and the table's own.
    std::vector<std::uint64_t> lbas;
    std::uint32_t error = TableSectors(sectors, lbas);
    for (const SectorWrite& sector : writes) lbas.push_back(sector.lba);
    std::sort(lbas.begin(), lbas.end());
    lbas.erase(std::unique(lbas.begin(), lbas.end()), lbas.end());
    TableBackup current;
    if (error == ERROR_SUCCESS) error = ReadBackup(sectors, lbas, current);
    std::string failure = error == ERROR_SUCCESS ? "" : "cannot read the table sectors: " + SystemErrorText(error);
    if (!failure.empty() || !undo.write(*request.backup, current, failure)) {
      failures.report(failure + "; nothing written");
      return false;
    }
  }
  bool partlyRestored = false;
  if (std::uint32_t error = RestoreBackup(sectors, *backup, partlyRestored); error != ERROR_SUCCESS) {
    failures.report("the restore stopped: " + SystemErrorText(error) +
                    (partlyRestored ? "; the disk holds part of the backup and part of its table before"
                                    : "; the disk is as it was"));
    if (partlyRestored && request.backup) {
      failures.note("the table sectors as they were before the restore are in " + undo.temporaryPath() + "\n");
      undo.keep();
    }
    return false;
  }
  if (request.backup) {
    std::string failure;
    if (!undo.commit(failure)) {
      failures.report(failure);
      return false;
    }
    failures.note("saved " + std::to_string(undo.sectorCount()) + " sectors to " + *request.backup + "\n");
  }
  // The system reads the table again, as after every table write.
  std::uint32_t returned = 0;
  if (!port().DiskControl(opened.handle(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned) &&
      port().LastError() == ERROR_DEVICE_IN_USE) {
    failures.report("the table is restored, but the system keeps partitions of the old one: " +
                    SystemErrorText(ERROR_DEVICE_IN_USE) + " (release it, then have the kernel read the table again)");
    return false;
  }
  return true;
}

}  // namespace

int RestoreTable(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  const std::string& file = request.positional[1];
  std::optional<std::vector<std::uint8_t>> bytes = readFile(file);
  if (!bytes) {
    failures.report("cannot read " + file);
    return 1;
  }
  std::string reason;
  std::optional<TableBackup> backup = DecodeBackup(*bytes, reason);
  if (!backup) {
    failures.report(file + " cannot be restored: " + reason);
    return 1;
  }
  if (!restoreOnDisk(request, disk, file, &*backup, io, failures)) return 1;
  // The disk as it is now, once the handle is closed.
  return PrintDisk(request, disk, io.out, failures) ? 0 : 1;
}

void ExplainRefusedWrite(const CliStreams& io, FailureLog& failures) {
  if (io.port == nullptr || !io.port->refusedWrite()) return;
  const check::Findings& problems = io.port->refusedWrite()->problems;
  if (!check::HasProblem(problems)) return;
  failures.note("The table it would have written has these problems:\n");
  for (const check::Finding& finding : problems) {
    if (finding.severity == check::Severity::Problem) failures.note("  " + finding.rule + ": " + finding.text + "\n");
  }
}

}  // namespace kestrin::cli
