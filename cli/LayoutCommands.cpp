// Layouts as data: `dump` prints a disk's layout as a document (LayoutDump.h),
// `apply` puts a document, or an sfdisk dump, on a disk in one table write
// after showing what it changes.

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>

#include "CliCommands.h"
#include "DiskOperations.h"
#include "DiskReaders.h"
#include "EditDriveLayout.h"
#include "JsonReport.h"
#include "LayoutDocument.h"
#include "LayoutDump.h"
#include "LayoutPrinter.h"
#include "PortDisk.h"
#include "RefusalReasons.h"
#include "ScriptedInteraction.h"
#include "Utf16.h"

namespace kestrin::cli {

namespace {

// The disk's whole layout and geometry through one hold of it, and its
// sector 0 (a GPT's hybrid MBR); false after reporting why not.
struct DiskNow {
  LayoutBuffer layout;
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::vector<std::uint8_t> sector0;
};

bool readDisk(int disk, DiskNow& now, FailureLog& failures) {
  try {
    now.layout = GetWholeDriveLayout(DiskPath(disk));
  } catch (const std::exception& error) {
    failures.report(error.what());
    return false;
  }
  PortDisk opened(DiskPath(disk), PortDisk::Access::Read);
  if (!opened.ok()) {
    failures.report("cannot read disk " + std::to_string(disk) + ": " + opened.failure());
    return false;
  }
  now.sectorSize = opened.sectors().sectorSize();
  now.sectorCount = opened.sectors().sectorCount();
  if (readOneSector(opened.sectors(), 0, now.sector0) != ERROR_SUCCESS) now.sector0.clear();
  return true;
}

struct HeldDisk {
  CliPort* port;
  HeldDisk(CliPort* held, const std::string& path) : port(held) {
    if (port != nullptr) port->holdDisk(path);
  }
  ~HeldDisk() {
    if (port != nullptr) port->releaseDisk();
  }
};

// One partition's line of the plan: what happens to it.
struct Change {
  int number = 0;
  std::string action;  // kept, added, removed, changed
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> fields;  // name, (before, after)
  const DocumentPartition* added = nullptr;
};

std::string quoted(const std::u16string& name) { return "\"" + Utf16ToUtf8(name) + "\""; }

bool isNewId(const std::string& uuid) { return uuid.empty() || uuid == "00000000-0000-0000-0000-000000000000"; }

// The plan from `before` to `after`, partition by partition, and whether
// anything changes at all (the disk's own identifier included).
std::vector<Change> planOf(const LayoutDocument& before, const LayoutDocument& after, bool& changed) {
  std::map<int, const DocumentPartition*> was;
  std::map<int, const DocumentPartition*> will;
  for (const DocumentPartition& p : before.partitions) was[p.number] = &p;
  for (const DocumentPartition& p : after.partitions) will[p.number] = &p;
  std::map<int, Change> plan;
  for (const auto& [number, p] : was) plan[number] = {number, will.count(number) ? "kept" : "removed", {}, nullptr};
  for (const auto& [number, p] : will) {
    Change& change = plan[number];
    change.number = number;
    if (!was.count(number)) {
      change.action = "added";
      change.added = p;
      continue;
    }
    const DocumentPartition& a = *was[number];
    auto field = [&](const char* name, const std::string& from, const std::string& to) {
      if (from != to) change.fields.push_back({name, {from, to}});
    };
    field("start", std::to_string(a.start), std::to_string(p->start));
    field("size", std::to_string(a.size), std::to_string(p->size));
    field("type", a.type, p->type);
    field("bootable", a.bootable ? "yes" : "no", p->bootable ? "yes" : "no");
    field("logical", a.logical ? "yes" : "no", p->logical ? "yes" : "no");
    field("uuid", a.uuid, isNewId(p->uuid) ? (a.uuid.empty() ? a.uuid : "a new one") : p->uuid);
    field("name", quoted(a.name), quoted(p->name));
    char bits[2][24];
    std::snprintf(bits[0], sizeof bits[0], "0x%016llX", static_cast<unsigned long long>(a.attributes));
    std::snprintf(bits[1], sizeof bits[1], "0x%016llX", static_cast<unsigned long long>(p->attributes));
    field("attributes", bits[0], bits[1]);
    if (!change.fields.empty()) change.action = "changed";
  }
  changed = before.style != after.style || before.signature != after.signature ||
            (after.style == kStyleGpt && before.diskGuid != after.diskGuid);
  std::vector<Change> out;
  for (auto& [number, change] : plan) {
    changed = changed || change.action != "kept";
    out.push_back(std::move(change));
  }
  return out;
}

void printPlan(const std::vector<Change>& plan, const LayoutDocument& before, const LayoutDocument& after,
               std::ostream& out) {
  if (before.style != after.style) {
    out << "the table: " << (before.style == kStyleMbr ? "MBR" : before.style == kStyleGpt ? "GPT" : "none")
        << " -> " << (after.style == kStyleMbr ? "MBR" : "GPT") << '\n';
  } else if (after.style == kStyleMbr && before.signature != after.signature) {
    char from[12], to[12];
    std::snprintf(from, sizeof from, "0x%08X", before.signature.value_or(0));
    std::snprintf(to, sizeof to, "0x%08X", after.signature.value_or(0));
    out << "the disk signature: " << from << " -> " << to << '\n';
  } else if (after.style == kStyleGpt && before.diskGuid != after.diskGuid) {
    out << "the disk GUID: " << before.diskGuid << " -> " << after.diskGuid << '\n';
  }
  for (const Change& change : plan) {
    out << "partition " << change.number << ": " << change.action;
    if (change.added != nullptr) {
      out << " (start " << change.added->start << ", size " << change.added->size << ", type " << change.added->type
          << ")";
    }
    for (std::size_t i = 0; i < change.fields.size(); ++i) {
      const auto& [name, values] = change.fields[i];
      out << (i == 0 ? " (" : "; ") << name << " " << values.first << " -> " << values.second;
    }
    if (!change.fields.empty()) out << ")";
    out << '\n';
  }
}

nlohmann::ordered_json planJson(int disk, const std::string& file, const std::vector<Change>& plan, bool changed,
                                const LayoutBuffer& after) {
  nlohmann::ordered_json partitions = nlohmann::ordered_json::array();
  for (const Change& change : plan) {
    nlohmann::ordered_json item{{"number", change.number}, {"action", change.action}};
    if (!change.fields.empty()) {
      nlohmann::ordered_json fields = nlohmann::ordered_json::object();
      for (const auto& [name, values] : change.fields) fields[name] = {{"from", values.first}, {"to", values.second}};
      item["fields"] = std::move(fields);
    }
    partitions.push_back(std::move(item));
  }
  return {{"disk", disk},
          {"file", file},
          {"changed", changed},
          {"partitions", std::move(partitions)},
          {"after", LayoutJson(disk, DiskPath(disk), after)}};
}

std::optional<std::string> readText(const std::string& file) {
  if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int DumpLayout(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  HeldDisk held(io.port, DiskPath(disk));
  DiskNow now;
  if (!readDisk(disk, now, failures)) return 1;
  io.out << DumpJson(DocumentOfLayout(now.layout, now.sectorSize, now.sectorCount, now.sector0)).dump(2) << '\n';
  return 0;
}

int ApplyLayout(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures) {
  const int disk = DiskArgument(request);
  const std::string& file = request.positional[1];
  const std::optional<std::string> text = readText(file);
  if (!text) {
    failures.report("cannot read " + file);
    return 1;
  }
  std::string error;
  std::optional<LayoutDocument> document = ReadDump(*text, error);
  if (!document) throw UsageError(file + " is neither a dump of this program nor an sfdisk dump: " + error, &command);
  if (request.newIds) ForgetIdentifiers(*document);

  HeldDisk held(io.port, DiskPath(disk));
  DiskNow now;
  if (!readDisk(disk, now, failures)) return 1;
  const LayoutDocument before = DocumentOfLayout(now.layout, now.sectorSize, now.sectorCount, now.sector0);
  // A hybrid MBR lies outside the layout record: a GPT write keeps the one
  // the disk has, and never writes another.
  if (document->style == kStyleGpt && !request.newIds && document->hybrid != before.hybrid &&
      !document->hybrid.empty()) {
    failures.report(file + " carries a hybrid MBR other than the disk's, which apply does not write; "
                           "remove its \"hybrid\" entries to apply the GPT alone");
    return 1;
  }
  std::vector<std::string> problems;
  std::optional<LayoutBuffer> target =
      LayoutForDisk(*document, now.sectorSize, now.sectorCount, now.layout,
                    document->style == kStyleMbr && !document->signature ? NewMbrSignature() : 0, problems);
  if (!target) {
    failures.report("the layout of " + file + " does not fit disk " + std::to_string(disk) + ":");
    for (const std::string& problem : problems) failures.note("  " + problem + "\n");
    return 1;
  }
  const LayoutDocument after = DocumentOfLayout(*target, now.sectorSize, now.sectorCount, now.sector0);
  bool changed = false;
  const std::vector<Change> plan = planOf(before, after, changed);
  if (request.json) {
    io.out << planJson(disk, file, plan, changed, *target).dump(2) << '\n';
  } else {
    io.out << "Plan for disk " << disk << " from " << file << ":\n";
    printPlan(plan, before, after, io.out);
    io.out << "The table after:\n";
    PrintLayout(*target, io.out);
  }
  if (!changed) {
    failures.note("disk " + std::to_string(disk) + " already holds this layout; nothing written\n");
    return 0;
  }

  ScriptedAnswers answers;
  answers.diskNote = DiskNote(request, disk);
  ScriptedInteraction interaction(answers, ConfirmationFor(request, io), io.in, failures);
  if (!interaction.confirm("Apply the layout of " + file + " to " + DiskPath(disk) + "?")) return 1;
  if (io.port != nullptr && request.backup) io.port->backupBeforeWriting(*request.backup);
  CodecRefusalExplainer explainer;
  ScopedRefusalExplainer reasons(explainer);
  const bool written = ReplaceDriveLayout(DiskPath(disk), *target);
  if (!BackupHeld(request, io, failures) || !written) return 1;
  if (request.dryRun) {
    failures.note("dry run: nothing written\n");
    return 0;
  }
  NoteBackupSaved(request, io, failures);
  return 0;
}

}  // namespace kestrin::cli
