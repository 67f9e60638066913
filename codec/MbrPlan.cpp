#include "MbrPlan.h"

#include <algorithm>

#include "ErrorCodes.h"
#include "MbrLayout.h"

namespace kestrin {

namespace {

constexpr std::uint64_t kMaxSectorField = 0xFFFFFFFFu;

using Extent = MbrExtent;

// A used slot of the record, in sectors.
struct UsedSlot {
  Extent extent;
  std::uint8_t type = 0;
  bool bootable = false;
  bool rewrite = false;
  // As on the disk: written back as it is and not judged.
  bool kept = false;
  // The disk's table holds an entry in this slot (kept or changed).
  bool onDisk = false;

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
};

// Two slots conflict when they share a sector and at least one of them is
// new or changed; what the disk already holds is not judged again.
bool conflict(const UsedSlot& a, const UsedSlot& b) { return !(a.kept && b.kept) && a.extent.overlaps(b.extent); }

bool anyConflict(const std::vector<UsedSlot>& slots) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    for (std::size_t j = i + 1; j < slots.size(); ++j) {
      if (conflict(slots[i], slots[j])) return true;
    }
  }
  return false;
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
  // as an EBR, or the logical drives behind an EBR lost.
  // Returns false for an unsound new or changed slot.
  bool read(int entry, bool sameTable, UsedSlot& out) const {
    ConstLayoutSlot slot = m_layout.slot(entry);
    out.type = slot.mbrPartitionType();
    out.bootable = slot.mbrBootIndicator() != 0;
    out.rewrite = slot.rewritePartition() != 0;
    out.onDisk = sameTable && m_onDisk != nullptr && entry <= slotCount(*m_onDisk) &&
                 m_onDisk->slot(entry).mbrPartitionType() != 0;
    out.kept = out.onDisk && sameEntry(m_layout, *m_onDisk, entry);
    const std::int64_t offset = slot.startingOffset();
    const std::int64_t length = slot.partitionLength();
    if (out.onDisk && !out.kept) {
      ConstLayoutSlot was = m_onDisk->slot(entry);
      if (was.startingOffset() == offset && isMbrContainerType(was.mbrPartitionType()) != out.isContainer()) {
        return false;
      }
    }
    if (out.kept) {
      // As the disk's reader reported it: whole sectors, never negative.
      out.extent = {static_cast<std::uint64_t>(offset) / m_sectorSize,
                    static_cast<std::uint64_t>(length) / m_sectorSize};
      return true;
    }
    if (offset < 0 || length <= 0) return false;
    if (offset % m_sectorSize != 0 || length % m_sectorSize != 0) return false;
    out.extent = {static_cast<std::uint64_t>(offset) / m_sectorSize, static_cast<std::uint64_t>(length) / m_sectorSize};
    if (out.extent.start == 0) return false;
    return out.extent.start < m_sectorCount && out.extent.count <= m_sectorCount - out.extent.start;
  }

 private:
  const LayoutBuffer& m_layout;
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
  const LayoutBuffer* m_onDisk;
};

// An EBR sector of the chain; `judged` when a new or changed link (or a new
// extended partition) leads to it.
struct EbrSector {
  std::uint64_t lba = 0;
  bool judged = false;
};

}  // namespace

std::optional<MbrExtent> MbrExtendedOf(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  for (int entry = 1; entry <= std::min(slotCount(layout), kMbrPrimarySlots); ++entry) {
    ConstLayoutSlot slot = layout.slot(entry);
    if (isMbrContainerType(slot.mbrPartitionType()) && slot.partitionLength() > 0) {
      return MbrExtent{static_cast<std::uint64_t>(slot.startingOffset()) / sectorSize,
                       static_cast<std::uint64_t>(slot.partitionLength()) / sectorSize};
    }
  }
  return std::nullopt;
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

std::uint32_t planMbrLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                            const LayoutBuffer* onDisk, MbrPlan& plan) {
  plan = MbrPlan{};
  plan.signature = layout.mbrSignature();
  if (layout.partitionCount() > static_cast<std::uint32_t>(kLayoutSlotCount)) return ERROR_INVALID_PARAMETER;
  const int count = slotCount(layout);
  const SlotReader reader(layout, sectorSize, sectorCount, onDisk);

  // Primary entries: slots past the count are no entries.
  std::vector<UsedSlot> primaries;
  std::vector<UsedSlot> containers;
  for (int i = 0; i < kMbrEntryCount && i < count; ++i) {
    if (layout.slot(i + 1).mbrPartitionType() == 0) continue;
    UsedSlot used;
    if (!reader.read(i + 1, true, used)) return ERROR_INVALID_PARAMETER;
    if (!used.kept) {
      if (used.extent.start > kMaxSectorField || used.extent.count > kMaxSectorField) return ERROR_INVALID_PARAMETER;
      // A protective entry makes the disk read as GPT, not as this layout.
      if (used.type == kMbrTypeProtectiveGpt) return ERROR_INVALID_PARAMETER;
    }
    if (used.isContainer() && used.extent.count > 0) containers.push_back(used);
    primaries.push_back(used);
    plan.primaries[static_cast<std::size_t>(i)] = used.plannedAt(0);
  }
  if (anyConflict(primaries)) return ERROR_INVALID_PARAMETER;
  if (containers.size() > 1 &&
      std::any_of(containers.begin(), containers.end(), [](const UsedSlot& c) { return !c.kept; })) {
    return ERROR_INVALID_PARAMETER;
  }

  const int groupCount = groupCountOf(count);
  auto groupIsEmpty = [&](int g) {
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      const int entry = mbrGroupFirstEntry(g) + s;
      if (entry <= count && layout.slot(entry).mbrPartitionType() != 0) return false;
    }
    return true;
  };
  if (containers.empty()) {
    // Groups without entries describe nothing and are dropped.
    for (int g = 0; g < groupCount; ++g) {
      if (!groupIsEmpty(g)) return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
  }
  const UsedSlot& extended = containers.front();
  plan.hasExtended = true;
  plan.extendedStart = extended.extent.start;
  std::vector<std::uint64_t> diskChain;
  if (onDisk != nullptr) {
    diskChain = MbrChainOf(*onDisk, sectorSize);
    std::optional<MbrExtent> diskExtended = MbrExtendedOf(*onDisk, sectorSize);
    plan.extendedChainUnknown = extended.kept && (!diskExtended || diskExtended->start != extended.extent.start);
  }
  plan.clearStaleEbr = !extended.kept || !diskChain.empty();

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
  int g = 0;
  while (g < groupCount) {
    if (g == 0 && groupIsEmpty(0)) break;  // no logical drives
    const bool sameTable =
        static_cast<std::size_t>(g) < diskChain.size() && diskChain[static_cast<std::size_t>(g)] == ebrLba;
    PlannedEbr ebr;
    ebr.lba = ebrLba;
    std::optional<UsedSlot> link;
    // An EBR holds one logical drive as the peers read it (the kernel reads
    // every entry, sfdisk and parted only the first): a second one is kept
    // as the disk has it, but none is added beside another.
    int drives = 0;
    bool addedDrive = false;
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      const int entry = mbrGroupFirstEntry(g) + s;
      if (entry > count || layout.slot(entry).mbrPartitionType() == 0) continue;
      UsedSlot used;
      if (!reader.read(entry, sameTable, used)) return ERROR_INVALID_PARAMETER;
      if (used.isContainer()) {
        // The first link leads on; another one is kept only as the disk has it.
        if (link && !used.kept) return ERROR_INVALID_PARAMETER;
        if (!link) link = used;
        ebr.entries[static_cast<std::size_t>(s)] = used.plannedAt(extended.extent.start);
        continue;
      }
      // A logical drive is judged when it or the extended partition is new or changed.
      if ((!used.kept || !extended.kept) && (used.extent.start <= ebrLba || !extended.extent.contains(used.extent))) {
        return ERROR_INVALID_PARAMETER;
      }
      ebr.entries[static_cast<std::size_t>(s)] = used.plannedAt(ebrLba);
      data.push_back(used);
      ++drives;
      addedDrive = addedDrive || !used.onDisk;
    }
    if (drives > 1 && addedDrive) return ERROR_INVALID_PARAMETER;
    ebrSectors.push_back({ebrLba, ebrJudged});
    plan.ebrs.push_back(ebr);
    ++g;
    if (!link) break;
    if ((!link->kept || !extended.kept) &&
        (link->extent.start <= extended.extent.start || !extended.extent.contains(link->extent))) {
      return ERROR_INVALID_PARAMETER;
    }
    ebrLba = link->extent.start;
    ebrJudged = !link->kept;
    // The last group's link leads past the layout. A new or changed one would
    // lead to an EBR that nothing writes: the chain would end in a sector
    // without a table, and parted would read no table on the disk at all.
    if (g == groupCount && ebrJudged) return ERROR_INVALID_PARAMETER;
    // Where the disk's chain ended there too (an EBR that cannot be read, a
    // link out of bounds) it stays as it is; one behind which the disk now
    // holds more of the chain must find no EBR there.
    if (g == groupCount && diskChain.size() > static_cast<std::size_t>(g)) {
      plan.openLinkTarget = ebrLba;
      ebrSectors.push_back({ebrLba, ebrJudged});
    }
  }
  // Groups the links do not reach would be lost on the disk.
  for (; g < groupCount; ++g) {
    if (!groupIsEmpty(g)) return ERROR_INVALID_PARAMETER;
  }

  if (anyConflict(data)) return ERROR_INVALID_PARAMETER;
  // An EBR must not share its sector with another (a loop) nor lie inside a
  // logical drive, where data would overwrite it.
  for (std::size_t i = 0; i < ebrSectors.size(); ++i) {
    for (std::size_t j = 0; j < ebrSectors.size(); ++j) {
      if (i != j && (ebrSectors[i].judged || ebrSectors[j].judged) && ebrSectors[i].lba == ebrSectors[j].lba) {
        return ERROR_INVALID_PARAMETER;
      }
    }
    for (const UsedSlot& partition : data) {
      if ((ebrSectors[i].judged || !partition.kept) && partition.extent.contains(ebrSectors[i].lba)) {
        return ERROR_INVALID_PARAMETER;
      }
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
