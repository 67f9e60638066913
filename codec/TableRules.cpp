// The rules' tests and their lines for the user (TableRules.h).

#include "TableRules.h"

#include "LayoutBuffer.h"
#include "MbrEntry.h"
#include "MbrFormat.h"

namespace kestrin::check {

namespace {

Finding problem(const char* rule, int entry, std::string text) {
  return Finding{Severity::Problem, rule, entry, std::move(text)};
}

std::string sectorText(std::uint64_t lba) { return "sector " + std::to_string(lba); }

std::string sectorRange(const PartitionExtent& p) {
  return "sectors " + std::to_string(p.first) + " to " + std::to_string(p.first + p.count - 1);
}

std::string entryName(int entry) { return "entry " + std::to_string(entry); }

// "entry 6 in " before the EBR a link is read from, when the slot is known.
std::string linkPrefix(const std::string& linkName) { return linkName.empty() ? "" : linkName + " in "; }

}  // namespace

bool HasProblem(const Findings& findings) {
  for (const Finding& finding : findings) {
    if (finding.severity == Severity::Problem) return true;
  }
  return false;
}

std::optional<Finding> ZeroLength(const PartitionExtent& p) {
  if (p.count != 0) return std::nullopt;
  return problem("zero-length", p.entry, p.name + " has length zero");
}

void JudgePlace(const PartitionExtent& p, const UsableArea& area, Findings& out) {
  if (p.count == 0) return;
  const std::uint64_t last = p.first + p.count - 1;
  if (last >= area.sectorCount) {
    out.push_back(problem("past-end", p.entry,
                          p.name + " (" + sectorRange(p) + ") runs past the end of the disk (last sector " +
                              std::to_string(area.sectorCount - 1) + ")"));
  } else if (area.gpt && (p.first < area.firstUsable || last > area.lastUsable)) {
    out.push_back(problem("outside-usable-area", p.entry,
                          p.name + " (" + sectorRange(p) + ") lies outside the GPT's usable area (sectors " +
                              std::to_string(area.firstUsable) + " to " + std::to_string(area.lastUsable) + ")"));
  }
  if (!area.gpt && p.first < area.firstUsable) {
    out.push_back(problem("overlap", p.entry, p.name + " overlaps the MBR in sector 0"));
  }
}

std::optional<Finding> Overlap(const PartitionExtent& a, const PartitionExtent& b) {
  using Kind = PartitionExtent::Kind;
  const bool share = a.first < b.first + b.count && b.first < a.first + a.count;
  const bool holds =
      (a.kind == Kind::Extended && b.kind == Kind::Logical) || (a.kind == Kind::Logical && b.kind == Kind::Extended);
  if (!share || holds) return std::nullopt;
  return problem("overlap", a.entry,
                 a.name + " (" + sectorRange(a) + ") overlaps " + b.name + " (" + sectorRange(b) + ")");
}

std::optional<Finding> OutsideExtended(const PartitionExtent& logical, const PartitionExtent* extended) {
  if (extended == nullptr || logical.first < extended->first ||
      logical.first + logical.count > extended->first + extended->count) {
    return problem("outside-extended", logical.entry,
                   logical.name + " (" + sectorRange(logical) + ") lies outside its extended partition" +
                       (extended ? " (" + sectorRange(*extended) + ")" : ""));
  }
  if (logical.first <= logical.ebr) {
    return problem("outside-extended", logical.entry,
                   logical.name + " starts at sector " + std::to_string(logical.first) +
                       ", not behind its EBR at sector " + std::to_string(logical.ebr));
  }
  return std::nullopt;
}

std::optional<Finding> EbrInsidePartition(const PartitionExtent& p, std::uint64_t ebr) {
  if (p.kind == PartitionExtent::Kind::Extended || ebr < p.first || ebr - p.first >= p.count) return std::nullopt;
  return problem("ebr-inside-partition", p.entry,
                 p.name + " (" + std::to_string(p.first) + " to " + std::to_string(p.first + p.count - 1) +
                     ") covers the EBR at " + sectorText(ebr));
}

Finding EbrLeavesExtended(std::uint64_t ebr, const PartitionExtent& link, const PartitionExtent& extended,
                          const std::string& linkName) {
  return problem("ebr-leaves-extended", link.entry,
                 linkPrefix(linkName) + "the EBR at " + sectorText(ebr) + " links to " + sectorText(link.first) +
                     (link.count > 0 ? " (" + std::to_string(link.count) + " sectors)" : "") +
                     ", outside the extended partition (" + sectorRange(extended) + ")");
}

Finding EbrSecondLink(std::uint64_t ebr, int entry, const std::string& linkName) {
  return problem("ebr-loop", entry,
                 "the EBR at " + sectorText(ebr) + " holds more than one link" +
                     (linkName.empty() ? "" : " (" + linkName + " is a second one; one EBR leads to one next EBR)"));
}

Finding EbrLoop(std::uint64_t from, std::uint64_t to, int entry, const std::string& linkName) {
  return problem("ebr-loop", entry,
                 "the EBR chain loops: " + linkPrefix(linkName) + "the EBR at " + sectorText(from) +
                     " links back to the EBR at " + sectorText(to));
}

Finding ExtendedTwice(const std::vector<PartitionExtent>& containers, int entry) {
  std::string list;
  for (const PartitionExtent& c : containers) list += (list.empty() ? "" : " and ") + c.name;
  return problem("extended-twice", entry,
                 "more than one extended partition (" + list + "); only the first one's logical drives count");
}

std::optional<Finding> TooSmallForGpt(std::uint32_t sectorSize, std::uint64_t sectorCount) {
  if (sectorSize >= kMbrMinSectorSize && sectorCount >= 4) return std::nullopt;
  return problem("gpt-missing", 0, "the disk is too small to hold a GPT");
}

std::optional<Finding> TooManySlots(std::uint32_t partitionCount) {
  if (partitionCount <= static_cast<std::uint32_t>(kLayoutSlotCount)) return std::nullopt;
  return problem("layout-record", 0,
                 "the layout record counts " + std::to_string(partitionCount) + " entries, more than its " +
                     std::to_string(kLayoutSlotCount) + " slots");
}

std::optional<Finding> RecordTooShort(std::uint32_t partitionCount, std::uint32_t inputSize) {
  if (inputSize >= kLayoutHeaderSize + kLayoutSlotSize * std::size_t{partitionCount}) return std::nullopt;
  return problem("layout-record", 0,
                 "the layout record of " + std::to_string(inputSize) + " bytes is too short for its " +
                     std::to_string(partitionCount) + " entries");
}

Finding LayoutStyleNotWritable(std::uint32_t style) {
  return problem("layout-record", 0,
                 "the layout record's style " + std::to_string(style) + " is neither MBR (0) nor GPT (1)");
}

std::optional<Finding> NotWholeSectors(const std::string& name, int entry, std::int64_t offset, std::int64_t length,
                                       std::uint32_t sectorSize) {
  if (offset >= 0 && length >= 0 && offset % sectorSize == 0 && length % sectorSize == 0) return std::nullopt;
  return problem("not-whole-sectors", entry,
                 name + ": offset " + std::to_string(offset) + " and length " + std::to_string(length) +
                     " are not whole sectors of " + std::to_string(sectorSize) + " bytes");
}

std::optional<Finding> MbrSectorSize(std::uint32_t sectorSize) {
  if (isMbrSectorSize(sectorSize)) return std::nullopt;
  return problem("sector-size", 0,
                 "an MBR needs sectors of " + std::to_string(kMbrMinSectorSize) + " to " +
                     std::to_string(kMbrMaxSectorSize) + " bytes; this disk's are " + std::to_string(sectorSize));
}

std::optional<Finding> MbrLimit(const PartitionExtent& p) {
  if (p.first <= kMbrMaxSectorField && p.count <= kMbrMaxSectorField) return std::nullopt;
  return problem("mbr-limit", p.entry,
                 p.name + " (" + std::to_string(p.count) + " sectors from sector " + std::to_string(p.first) +
                     ") does not fit an MBR entry, which holds at most " + std::to_string(kMbrMaxSectorField) +
                     " sectors in either field: use GPT");
}

std::optional<Finding> ProtectiveType(const PartitionExtent& p, std::uint8_t type) {
  if (type != kMbrTypeProtectiveGpt) return std::nullopt;
  return problem("protective-type", p.entry,
                 p.name + " has type 0xEE, which makes the disk read as GPT, not as this table");
}

std::optional<Finding> ExtendedInPlace(int entry, std::uint8_t typeWas, std::uint8_t typeNow) {
  const bool container = isMbrContainerType(typeNow);
  if (typeWas == 0 || typeNow == 0 || container == isMbrContainerType(typeWas)) return std::nullopt;
  return problem("extended-in-place", entry,
                 entryName(entry) +
                     (container ? " would make the partition there an extended partition: its first sector would be "
                                  "written as an EBR"
                                : " would make the extended partition there a partition: the logical drives behind it "
                                  "would be lost"));
}

Finding GroupWithoutExtended(int entry) {
  return problem("outside-extended", entry,
                 entryName(entry) + " belongs to an EBR, but the table has no extended partition to hold it");
}

Finding EbrTwoDrives(const PartitionExtent& p, const std::string& other) {
  return problem("ebr-two-drives", p.entry,
                 p.name + " shares its EBR with " + other + ": sfdisk and parted read only the first logical drive");
}

Finding EbrNotInLayout(int entry, std::uint64_t target) {
  return problem("ebr-missing", entry,
                 entryName(entry) + " links to an EBR at " + sectorText(target) +
                     " that the table does not hold: a link is written only with the logical drive behind it");
}

Finding EbrChainCut(int entry) {
  return problem("ebr-chain-cut", entry, entryName(entry) + " lies behind an EBR no link leads to: it would be lost");
}

Finding EbrNoRoom(const PartitionExtent& p, const std::string& why) {
  return problem("ebr-no-room", p.entry, p.name + " (" + sectorRange(p) + ") gets no EBR: " + why);
}

Finding EbrUnexpected(int entry, std::uint64_t target) {
  return problem("ebr-unexpected", entry,
                 entryName(entry) + " links to " + sectorText(target) +
                     ", where the disk's chain ended and an EBR now lies that the table does not hold: the next "
                     "read would show more of the chain than the table has");
}

Finding ExtendedChainUnknown(int entry, std::uint64_t start) {
  return problem("extended-chain-unknown", entry,
                 entryName(entry) + " was a second extended partition, and its EBR at " + sectorText(start) +
                     " holds a chain the table does not show: the table would lose its logical drives");
}

Finding GptOtherUsableArea(std::uint64_t firstUsable, std::uint64_t lastUsable) {
  return problem("gpt-other-usable-area", 0,
                 "the layout's usable area is not the GPT's on the disk (sectors " + std::to_string(firstUsable) +
                     " to " + std::to_string(lastUsable) + ")");
}

Finding GptGeometry(const std::string& why) {
  return problem("gpt-geometry", 0, "the GPT cannot be laid out on this disk: " + why);
}

Finding GptNoDiskId() { return problem("gpt-no-disk-id", 0, "the layout gives the GPT no disk GUID"); }

Finding PastTable(std::size_t used, std::uint32_t entryCount) {
  return problem("past-table", 0,
                 "the layout's " + std::to_string(used) + " partitions (with any entries the disk keeps beyond its " +
                     "end) do not fit the GPT's array of " + std::to_string(entryCount) + " entries");
}

}  // namespace kestrin::check
