// The commands on the table sectors themselves, over the editor layer's
// tools (TableTools.h): verify prints the findings, backup says what it
// saved, restore shows the tables and asks.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>

#include "CliCommands.h"
#include "HeadlessTable.h"
#include "LayoutPrinter.h"
#include "LayoutView.h"
#include "ScriptedInteraction.h"
#include "TableBackup.h"
#include "TableCheck.h"
#include "TableTools.h"

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

namespace {

// The questions of the commands on table sectors: the confirmation from the
// terminal or --yes, with the note which file or device the disk is.
ScriptedInteraction interactionFor(const CliRequest& request, int disk, CliStreams& io, FailureLog& failures) {
  ScriptedAnswers answers;
  answers.diskNote = DiskNote(request, disk);
  return ScriptedInteraction(answers, ConfirmationFor(request, io), io.in, failures);
}

std::string diskName(int disk) { return "disk " + std::to_string(disk); }

}  // namespace

int VerifyTable(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  ScriptedInteraction ui = interactionFor(request, disk, io, failures);
  std::optional<check::Report> report = VerifyDiskTable(DiskPath(disk), diskName(disk), ui);
  if (!report) return 1;
  printReport(request, disk, *report, io.out);
  return report->hasProblems() ? 1 : 0;
}

int BackupTable(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  const std::string& file = request.positional[1];
  ScriptedInteraction ui = interactionFor(request, disk, io, failures);
  std::optional<TableBackup> backup = SaveTableBackup(DiskPath(disk), diskName(disk), file, ui);
  if (!backup) return 1;
  failures.note("saved " + std::to_string(backup->sectors.size()) + " sectors of disk " + std::to_string(disk) +
                " (" + std::to_string(backup->sectorCount) + " sectors of " + std::to_string(backup->sectorSize) +
                " bytes) to " + file + "\n");
  return 0;
}

int RestoreTable(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  RestoreRequest restore;
  restore.file = request.positional[1];
  std::optional<std::vector<std::uint8_t>> bytes = readFile(restore.file);
  if (!bytes) {
    failures.report("cannot read " + restore.file);
    return 1;
  }
  std::string reason;
  std::optional<TableBackup> backup = DecodeBackup(*bytes, reason);
  if (!backup) {
    failures.report(restore.file + " cannot be restored: " + reason);
    return 1;
  }
  restore.backup = std::move(*backup);
  restore.undoFile = request.backup;
  std::optional<LayoutBuffer> left;
  restore.showTables = [&](const LayoutBuffer& now, const LayoutBuffer& restored) {
    left = restored;
    failures.note("The table now:\n");
    PrintLayout(now, io.err);
    failures.note("The table from " + restore.file + ":\n");
    PrintLayout(restored, io.err);
  };
  restore.note = [&](const std::string& line) { failures.note(line + "\n"); };
  restore.dryRun = request.dryRun;
  ScriptedInteraction ui = interactionFor(request, disk, io, failures);
  if (RestoreTableBackup(DiskPath(disk), diskName(disk), restore, ui) != CommandOutcome::Done) return 1;
  if (request.dryRun) {
    failures.note("dry run: nothing written; the table the restore would leave:\n");
    if (left) PrintLayout(*left, io.out);
    return 0;
  }
  // The disk as it is now, once the handle is closed.
  return PrintDisk(request, disk, io.out, failures) ? 0 : 1;
}

}  // namespace kestrin::cli
