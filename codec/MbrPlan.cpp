#include "MbrPlan.h"

#include <algorithm>
#include <string>

#include "ErrorCodes.h"
#include "LayoutQueries.h"
#include "MbrLayout.h"

namespace kestrin {

namespace {

using check::Finding;
using check::Findings;
using check::PartitionExtent;
using Extent = MbrExtent;

// The alignment step a new EBR may stand before its logical drive.
constexpr std::uint64_t kAlignmentBytes = 1 << 20;
// The type of the link entries the planner writes.
constexpr std::uint8_t kLinkType = 0x05;
// Where a link goes in an EBR's table: its second entry, as the peers and
// the record's groups have it.
constexpr std::size_t kLinkIndex = 1;

void add(Findings& out, std::optional<Finding> finding) {
  if (finding) out.push_back(std::move(*finding));
}

std::string entryName(int entry) { return "entry " + std::to_string(entry); }

// A used slot of the record, in sectors.
struct UsedSlot {
  int entry = 0;
  Extent extent;
  std::uint8_t type = 0;
  bool bootable = false;
  bool rewrite = false;
  // As on the disk: written back as it is and not judged.
  bool kept = false;
  // The disk's table holds an entry in this slot (kept or changed).
  bool onDisk = false;
  PartitionExtent::Kind kind = PartitionExtent::Kind::Primary;
  std::uint64_t ebr = 0;  // a logical drive's EBR

  bool isContainer() const { return isMbrContainerType(type); }
  // The entry relative to its table's base. A kept entry came from a table
  // with the same base, so its start is never below it.
  PlannedEntry plannedAt(std::uint64_t tableBase) const {
    MbrEntry entry;
    entry.bootFlag = bootable ? kMbrBootFlag : 0;
    entry.type = type;
    entry.startLba = static_cast<std::uint32_t>(extent.start - tableBase);
    entry.sectorCount = static_cast<std::uint32_t>(extent.count);
    return {entry, extent.start, rewrite};
  }
  // The slot as the rules see it.
  PartitionExtent partition() const { return {kind, entry, entryName(entry), extent.start, extent.count, ebr}; }
};

// Two slots conflict when they share a sector and at least one of them is
// new or changed; what the disk already holds is not judged again. Pairs of
// two primaries are left out when `logicalPairsOnly` (they were judged with
// the primaries). A finding names the new or changed slot first.
void judgeOverlaps(const std::vector<UsedSlot>& slots, bool logicalPairsOnly, Findings& out) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    for (std::size_t j = i + 1; j < slots.size(); ++j) {
      const UsedSlot* a = &slots[i];
      const UsedSlot* b = &slots[j];
      if (a->kept && b->kept) continue;
      if (logicalPairsOnly && a->kind != PartitionExtent::Kind::Logical && b->kind != PartitionExtent::Kind::Logical) {
        continue;
      }
      if (a->kept) std::swap(a, b);
      add(out, check::Overlap(a->partition(), b->partition()));
    }
  }
}

// True when slot `entry` of `a` and of `b` hold the same entry as the record
// sees it (a boot indicator other than 0 is one flag).
bool sameEntry(const LayoutBuffer& a, const LayoutBuffer& b, int entry) {
  ConstLayoutSlot x = a.slot(entry);
  ConstLayoutSlot y = b.slot(entry);
  return x.mbrPartitionType() == y.mbrPartitionType() && (x.mbrBootIndicator() != 0) == (y.mbrBootIndicator() != 0) &&
         x.startingOffset() == y.startingOffset() && x.partitionLength() == y.partitionLength();
}

int slotCount(const LayoutBuffer& layout) {
  return static_cast<int>(std::min<std::uint32_t>(layout.partitionCount(), kLayoutSlotCount));
}

int groupCountOf(int slots) {
  return slots > kMbrPrimarySlots ? (slots - kMbrPrimarySlots + kMbrSlotsPerGroup - 1) / kMbrSlotsPerGroup : 0;
}

// True when a group of `layout` holds a logical drive.
bool holdsLogicalDrive(const LayoutBuffer& layout) {
  for (int entry = mbrGroupFirstEntry(0); entry <= slotCount(layout); ++entry) {
    const std::uint8_t type = layout.slot(entry).mbrPartitionType();
    if (type != 0 && !isMbrContainerType(type)) return true;
  }
  return false;
}

// The sectors slot `entry` covers, where its offset and length are whole
// sectors and it has a length; else nullopt.
std::optional<Extent> slotExtent(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize) {
  ConstLayoutSlot slot = layout.slot(entry);
  const std::int64_t offset = slot.startingOffset();
  const std::int64_t length = slot.partitionLength();
  if (offset < 0 || length <= 0 || offset % sectorSize != 0 || length % sectorSize != 0) return std::nullopt;
  return Extent{static_cast<std::uint64_t>(offset) / sectorSize, static_cast<std::uint64_t>(length) / sectorSize};
}

class SlotReader {
 public:
  SlotReader(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
             const LayoutBuffer* onDisk)
      : m_layout(layout), m_sectorSize(sectorSize), m_sectorCount(sectorCount), m_onDisk(onDisk) {}

  // Reads used slot `entry`. It is kept when `sameTable` (its table sits
  // where the disk's does) and the disk's slot holds the same entry; a kept
  // slot is taken as it is. A new or changed one must be whole sectors, of
  // positive length, clear of sector 0 (the MBR) and inside the disk, and
  // must not turn a partition the disk holds into an extended partition or
  // back in place: the first sector of a partition's data would be written
  // as an EBR, or the logical drives behind an EBR lost. Appends a finding
  // for each of these broken. Returns false when the slot has no extent
  // (its offset or length is negative or not whole sectors).
  bool read(int entry, bool sameTable, UsedSlot& out, Findings& findings) const {
    ConstLayoutSlot slot = m_layout.slot(entry);
    out.entry = entry;
    out.type = slot.mbrPartitionType();
    out.bootable = slot.mbrBootIndicator() != 0;
    out.rewrite = slot.rewritePartition() != 0;
    out.onDisk = sameTable && m_onDisk != nullptr && entry <= slotCount(*m_onDisk) &&
                 m_onDisk->slot(entry).mbrPartitionType() != 0;
    out.kept = out.onDisk && sameEntry(m_layout, *m_onDisk, entry);
    const std::int64_t offset = slot.startingOffset();
    const std::int64_t length = slot.partitionLength();
    if (out.onDisk && !out.kept && m_onDisk->slot(entry).startingOffset() == offset) {
      add(findings, check::ExtendedInPlace(entry, m_onDisk->slot(entry).mbrPartitionType(), out.type));
    }
    if (out.kept) {
      // As the disk's reader reported it: whole sectors, never negative.
      out.extent = {static_cast<std::uint64_t>(offset) / m_sectorSize,
                    static_cast<std::uint64_t>(length) / m_sectorSize};
      return true;
    }
    if (std::optional<Finding> finding =
            check::NotWholeSectors(entryName(entry), entry, offset, length, m_sectorSize)) {
      findings.push_back(std::move(*finding));
      return false;
    }
    out.extent = {static_cast<std::uint64_t>(offset) / m_sectorSize, static_cast<std::uint64_t>(length) / m_sectorSize};
    add(findings, check::ZeroLength(out.partition()));
    check::JudgePlace(out.partition(), check::UsableArea{m_sectorCount, 1, m_sectorCount - 1, false}, findings);
    return true;
  }

 private:
  const LayoutBuffer& m_layout;
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
  const LayoutBuffer* m_onDisk;
};

// An EBR sector of the chain; `judged` when a new or changed link (or a new
// extended partition) leads to it; the EBR whose link (slot `linkEntry`)
// leads to it, for all but the first.
struct EbrSector {
  std::uint64_t lba = 0;
  bool judged = false;
  std::uint64_t from = 0;
  int linkEntry = 0;
};

}  // namespace

std::optional<MbrExtent> MbrExtendedOf(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  const int entry = MbrExtendedEntry(layout);
  if (entry == 0) return std::nullopt;
  ConstLayoutSlot slot = layout.slot(entry);
  return MbrExtent{static_cast<std::uint64_t>(slot.startingOffset()) / sectorSize,
                   static_cast<std::uint64_t>(slot.partitionLength()) / sectorSize};
}

std::vector<std::uint64_t> MbrChainOf(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  std::vector<std::uint64_t> chain;
  std::optional<MbrExtent> extended = MbrExtendedOf(layout, sectorSize);
  if (!extended) return chain;
  std::uint64_t lba = extended->start;
  for (int g = 0; g < groupCountOf(slotCount(layout)); ++g) {
    chain.push_back(lba);
    std::optional<std::uint64_t> next;
    for (int s = 0; s < kMbrSlotsPerGroup && !next; ++s) {
      const int entry = mbrGroupFirstEntry(g) + s;
      if (entry > slotCount(layout)) break;
      ConstLayoutSlot slot = layout.slot(entry);
      if (isMbrContainerType(slot.mbrPartitionType()))
        next = static_cast<std::uint64_t>(slot.startingOffset()) / sectorSize;
    }
    if (!next) break;
    lba = *next;
  }
  return chain;
}

std::optional<std::uint64_t> MbrEbrSectorBefore(std::uint64_t driveStart, const MbrExtent& extended,
                                                const std::vector<MbrExtent>& taken, std::uint32_t sectorSize) {
  if (driveStart <= extended.start + 1 || driveStart >= extended.end()) return std::nullopt;
  const std::uint64_t grain = std::max<std::uint64_t>(1, kAlignmentBytes / sectorSize);
  std::uint64_t first = std::max(extended.start + 1, driveStart > grain ? driveStart - grain : 0);
  for (const MbrExtent& t : taken) {
    if (t.start < driveStart) first = std::max(first, t.end());
  }
  if (first >= driveStart) return std::nullopt;
  return first;
}

std::uint32_t planMbrLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                            const LayoutBuffer* onDisk, MbrPlan& plan, Findings& findings) {
  plan = MbrPlan{};
  plan.signature = layout.mbrSignature();
  const std::size_t findingsBefore = findings.size();
  // Judging goes on past a problem, so that every problem is named; what a
  // problem leaves unknown (a slot without an extent, a chain that leaves
  // its extended partition) is not judged further.
  auto verdict = [&] { return findings.size() > findingsBefore ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS; };
  if (std::optional<Finding> finding = check::TooManySlots(layout.partitionCount())) {
    findings.push_back(std::move(*finding));
    return verdict();
  }
  const int count = slotCount(layout);
  const SlotReader reader(layout, sectorSize, sectorCount, onDisk);

  // Primary entries: slots past the count are no entries.
  std::vector<UsedSlot> primaries;
  std::vector<UsedSlot> containers;
  bool containerUnread = false;
  for (int i = 0; i < kMbrEntryCount && i < count; ++i) {
    if (layout.slot(i + 1).mbrPartitionType() == 0) continue;
    UsedSlot used;
    if (!reader.read(i + 1, true, used, findings)) {
      containerUnread = containerUnread || used.isContainer();
      continue;
    }
    if (used.isContainer()) used.kind = PartitionExtent::Kind::Extended;
    if (!used.kept) {
      add(findings, check::MbrLimit(used.partition()));
      // A protective entry makes the disk read as GPT, not as this layout.
      add(findings, check::ProtectiveType(used.partition(), used.type));
    }
    if (used.isContainer() && used.extent.count > 0) containers.push_back(used);
    primaries.push_back(used);
    plan.primaries[static_cast<std::size_t>(i)] = used.plannedAt(0);
  }
  judgeOverlaps(primaries, false, findings);
  auto added = std::find_if(containers.begin(), containers.end(), [](const UsedSlot& c) { return !c.kept; });
  if (containers.size() > 1 && added != containers.end()) {
    std::vector<PartitionExtent> named;
    for (const UsedSlot& c : containers) named.push_back(c.partition());
    // Which chain the groups describe is unknown: they are not judged.
    findings.push_back(check::ExtendedTwice(named, added->entry));
    return verdict();
  }

  const int groupCount = groupCountOf(count);
  auto usedSlotsOf = [&](int g) {
    std::vector<int> used;
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      const int entry = mbrGroupFirstEntry(g) + s;
      if (entry <= count && layout.slot(entry).mbrPartitionType() != 0) used.push_back(entry);
    }
    return used;
  };
  if (containers.empty()) {
    // Groups without entries describe nothing and are dropped. Those with
    // entries belong to an extended partition, unless its own slot was
    // already found unsound.
    for (int g = 0; g < groupCount && !containerUnread; ++g) {
      for (int entry : usedSlotsOf(g)) findings.push_back(check::GroupWithoutExtended(entry));
    }
    return verdict();
  }
  const UsedSlot& extended = containers.front();
  const PartitionExtent extendedPartition = extended.partition();
  plan.hasExtended = true;
  plan.extendedEntry = extended.entry;
  plan.extendedStart = extended.extent.start;
  std::vector<std::uint64_t> diskChain;
  if (onDisk != nullptr) {
    diskChain = MbrChainOf(*onDisk, sectorSize);
    std::optional<MbrExtent> diskExtended = MbrExtendedOf(*onDisk, sectorSize);
    plan.extendedChainUnknown = extended.kept && (!diskExtended || diskExtended->start != extended.extent.start);
  }
  plan.clearStaleEbr = !extended.kept || !diskChain.empty();
  // The write removes the last logical drive: the extended partition is
  // left empty (see MbrPlan.h), whatever links the groups still hold.
  if (onDisk != nullptr && !diskChain.empty() && diskChain.front() == extended.extent.start &&
      !plan.extendedChainUnknown && holdsLogicalDrive(*onDisk) && !holdsLogicalDrive(layout)) {
    return verdict();
  }

  // Follow the chain the groups describe: the first EBR at the extended
  // partition's start, each next one where the previous link points. Every
  // position checked below lies inside the extended partition, whose own
  // start and size fit 32 bits, so the relative start fields fit too.
  std::vector<UsedSlot> data;
  for (const UsedSlot& primary : primaries) {
    if (!primary.isContainer()) data.push_back(primary);
  }
  std::vector<EbrSector> ebrSectors;
  std::uint64_t ebrLba = extended.extent.start;
  bool ebrJudged = !extended.kept;
  std::uint64_t linkedFrom = 0;
  int linkEntry = 0;
  // The chain cannot be followed past a problem of a link.
  bool chainBroken = false;
  // Appends group `group`, whose first slot holds a new logical drive, to
  // the chain behind the last EBR planned: places its EBR and writes the
  // link to it into that EBR's table. Returns the new EBR's sector and the
  // link's slot, or nullopt after naming why the drive gets no EBR.
  struct AppendedEbr {
    std::uint64_t lba = 0;
    int linkEntry = 0;
  };
  auto appendGroup = [&](int group) -> std::optional<AppendedEbr> {
    const int entry = mbrGroupFirstEntry(group);
    // The slot is read again, and judged, as the chain reaches its group.
    Findings slotFindings;
    UsedSlot drive;
    const bool read = reader.read(entry, false, drive, slotFindings);
    drive.kind = PartitionExtent::Kind::Logical;
    drive.ebr = extended.extent.start;
    if (!read || drive.extent.count == 0 || !extended.extent.contains(drive.extent) ||
        drive.extent.start <= extended.extent.start) {
      findings.insert(findings.end(), slotFindings.begin(), slotFindings.end());
      add(findings, check::OutsideExtended(drive.partition(), &extendedPartition));
      return std::nullopt;
    }
    std::vector<MbrExtent> taken;
    for (const UsedSlot& partition : data) taken.push_back(partition.extent);
    for (const EbrSector& sector : ebrSectors) taken.push_back({sector.lba, 1});
    for (int other = entry + 1; other <= count; ++other) {
      const std::uint8_t type = layout.slot(other).mbrPartitionType();
      if (type == 0 || isMbrContainerType(type)) continue;
      if (std::optional<Extent> extent = slotExtent(layout, other, sectorSize)) taken.push_back(*extent);
    }
    const std::optional<std::uint64_t> lba = MbrEbrSectorBefore(drive.extent.start, extended.extent, taken, sectorSize);
    if (!lba) {
      findings.push_back(check::EbrNoRoom(drive.partition(), "sector " + std::to_string(drive.extent.start - 1) +
                                                                 " before it, where its EBR would go, is not free"));
      return std::nullopt;
    }
    PlannedEbr& previous = plan.ebrs.back();
    auto isFree = [](const PlannedEntry& planned) { return !planned.entry.isUsed(); };
    auto free = isFree(previous.entries[kLinkIndex])
                    ? previous.entries.begin() + kLinkIndex
                    : std::find_if(previous.entries.begin(), previous.entries.end(), isFree);
    if (free == previous.entries.end()) {
      findings.push_back(check::EbrNoRoom(drive.partition(), "the EBR at sector " + std::to_string(previous.lba) +
                                                                 " before it has no free entry for the link"));
      return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(free - previous.entries.begin());
    MbrEntry link;
    link.type = kLinkType;
    link.startLba = static_cast<std::uint32_t>(*lba - extended.extent.start);
    link.sectorCount = static_cast<std::uint32_t>(drive.extent.end() - *lba);
    previous.entries[index] = {link, *lba, true};
    return AppendedEbr{*lba, mbrGroupFirstEntry(group - 1) + static_cast<int>(index)};
  };
  int g = 0;
  while (g < groupCount) {
    if (g == 0 && usedSlotsOf(0).empty()) break;  // no logical drives
    const bool sameTable =
        static_cast<std::size_t>(g) < diskChain.size() && diskChain[static_cast<std::size_t>(g)] == ebrLba;
    PlannedEbr ebr;
    ebr.lba = ebrLba;
    std::optional<UsedSlot> link;
    // An EBR holds one logical drive as the peers read it (the kernel reads
    // every entry, sfdisk and parted only the first): a second one is kept
    // as the disk has it, but none is added beside another.
    std::vector<UsedSlot> drives;
    for (int entry : usedSlotsOf(g)) {
      const std::size_t s = static_cast<std::size_t>(entry - mbrGroupFirstEntry(g));
      UsedSlot used;
      if (!reader.read(entry, sameTable, used, findings)) {
        chainBroken = chainBroken || used.isContainer();
        continue;
      }
      if (used.isContainer()) {
        // The first link leads on; another one is kept only as the disk has it.
        if (link && !used.kept) {
          findings.push_back(check::EbrSecondLink(ebrLba, entry, entryName(entry)));
          continue;
        }
        if (!link) link = used;
        ebr.entries[s] = used.plannedAt(extended.extent.start);
        continue;
      }
      used.kind = PartitionExtent::Kind::Logical;
      used.ebr = ebrLba;
      // A logical drive is judged when it or the extended partition is new or changed.
      if (!used.kept || !extended.kept) add(findings, check::OutsideExtended(used.partition(), &extendedPartition));
      ebr.entries[s] = used.plannedAt(ebrLba);
      data.push_back(used);
      drives.push_back(used);
    }
    if (drives.size() > 1) {
      auto added = std::find_if(drives.begin(), drives.end(), [](const UsedSlot& d) { return !d.onDisk; });
      if (added != drives.end()) {
        const UsedSlot& other = added == drives.begin() ? drives[1] : drives.front();
        findings.push_back(check::EbrTwoDrives(added->partition(), entryName(other.entry)));
      }
    }
    ebrSectors.push_back({ebrLba, ebrJudged, linkedFrom, linkEntry});
    plan.ebrs.push_back(ebr);
    ++g;
    if (chainBroken) break;
    if (!link) {
      // The chain ends here; a new group behind it is linked on.
      if (g >= groupCount || static_cast<std::size_t>(g) < diskChain.size() ||
          usedSlotsOf(g) != std::vector<int>{mbrGroupFirstEntry(g)} ||
          isMbrContainerType(layout.slot(mbrGroupFirstEntry(g)).mbrPartitionType())) {
        break;
      }
      const std::optional<AppendedEbr> next = appendGroup(g);
      if (!next) {
        chainBroken = true;
        break;
      }
      linkedFrom = ebrLba;
      linkEntry = next->linkEntry;
      ebrLba = next->lba;
      ebrJudged = true;
      continue;
    }
    if ((!link->kept || !extended.kept) &&
        (link->extent.start <= extended.extent.start || !extended.extent.contains(link->extent))) {
      findings.push_back(
          check::EbrLeavesExtended(ebrLba, link->partition(), extendedPartition, entryName(link->entry)));
      // Only a link whose run alone leaves the extended partition leads on
      // to an EBR there, as the disk's chain is walked.
      if (link->extent.start <= extended.extent.start || link->extent.start >= extended.extent.end()) {
        chainBroken = true;
        break;
      }
    }
    linkedFrom = ebrLba;
    linkEntry = link->entry;
    ebrLba = link->extent.start;
    ebrJudged = !link->kept;
    // The last group's link leads past the layout. A new or changed one would
    // lead to an EBR that nothing writes: the chain would end in a sector
    // without a table, and parted would read no table on the disk at all.
    // Where it leads back to an EBR of the chain, the chain would loop.
    if (g == groupCount && ebrJudged) {
      const bool loops =
          std::any_of(ebrSectors.begin(), ebrSectors.end(), [&](const EbrSector& e) { return e.lba == ebrLba; });
      findings.push_back(loops ? check::EbrLoop(linkedFrom, ebrLba, linkEntry, entryName(linkEntry))
                               : check::EbrNotInLayout(linkEntry, ebrLba));
      break;
    }
    // Where the disk's chain ended there too (an EBR that cannot be read, a
    // link out of bounds) it stays as it is; one behind which the disk now
    // holds more of the chain must find no EBR there.
    if (g == groupCount && diskChain.size() > static_cast<std::size_t>(g)) {
      plan.openLinkTarget = ebrLba;
      plan.openLinkEntry = linkEntry;
      ebrSectors.push_back({ebrLba, ebrJudged, linkedFrom, linkEntry});
    }
  }
  // Groups the links do not reach would be lost on the disk.
  for (; g < groupCount && !chainBroken; ++g) {
    for (int entry : usedSlotsOf(g)) findings.push_back(check::EbrChainCut(entry));
  }

  judgeOverlaps(data, true, findings);
  // An EBR must not share its sector with another (a loop) nor lie inside a
  // logical drive, where data would overwrite it.
  for (std::size_t i = 0; i < ebrSectors.size(); ++i) {
    for (std::size_t j = i + 1; j < ebrSectors.size(); ++j) {
      if ((ebrSectors[i].judged || ebrSectors[j].judged) && ebrSectors[i].lba == ebrSectors[j].lba) {
        findings.push_back(check::EbrLoop(ebrSectors[j].from, ebrSectors[j].lba, ebrSectors[j].linkEntry,
                                          entryName(ebrSectors[j].linkEntry)));
      }
    }
    for (const UsedSlot& partition : data) {
      if (ebrSectors[i].judged || !partition.kept)
        add(findings, check::EbrInsidePartition(partition.partition(), ebrSectors[i].lba));
    }
  }
  return verdict();
}

}  // namespace kestrin
