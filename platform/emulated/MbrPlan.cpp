#include "MbrPlan.h"

#include <algorithm>

#include "MbrLayout.h"
#include "Port.h"

namespace kestrin {

namespace {

constexpr std::uint64_t kMaxSectorField = 0xFFFFFFFFu;

// A run of sectors on the disk.
struct Extent {
  std::uint64_t start = 0;
  std::uint64_t count = 0;

  std::uint64_t end() const { return start + count; }
  bool overlaps(const Extent& other) const { return start < other.end() && other.start < end(); }
  bool contains(std::uint64_t lba) const { return lba >= start && lba < end(); }
  bool contains(const Extent& other) const { return other.start >= start && other.end() <= end(); }
};

// A used slot of the record, checked against the disk.
struct UsedSlot {
  Extent extent;
  std::uint8_t type = 0;
  bool bootable = false;

  MbrEntry entryAt(std::uint64_t tableBase) const {
    MbrEntry entry;
    entry.bootFlag = bootable ? kMbrBootFlag : 0;
    entry.type = type;
    entry.startLba = static_cast<std::uint32_t>(extent.start - tableBase);
    entry.sectorCount = static_cast<std::uint32_t>(extent.count);
    return entry;
  }
  PlannedEntry plannedAt(std::uint64_t tableBase) const { return {entryAt(tableBase), extent.start}; }
};

struct Group {
  std::optional<UsedSlot> logical;
  std::optional<UsedSlot> link;

  bool isEmpty() const { return !logical && !link; }
};

// Reads a used slot. Fails when its offset or length is negative, not a
// whole number of sectors, zero in length, over sector 0 (which holds the
// MBR) or past the end of the disk.
bool readUsedSlot(ConstLayoutSlot slot, std::uint32_t sectorSize, std::uint64_t sectorCount, UsedSlot& out) {
  std::int64_t offset = slot.startingOffset();
  std::int64_t length = slot.partitionLength();
  if (offset < 0 || length <= 0) return false;
  if (offset % sectorSize != 0 || length % sectorSize != 0) return false;
  out.extent.start = static_cast<std::uint64_t>(offset) / sectorSize;
  out.extent.count = static_cast<std::uint64_t>(length) / sectorSize;
  if (out.extent.start == 0) return false;
  if (out.extent.start >= sectorCount || out.extent.count > sectorCount - out.extent.start) return false;
  out.type = slot.mbrPartitionType();
  out.bootable = slot.mbrBootIndicator() != 0;
  return true;
}

bool anyOverlap(const std::vector<Extent>& extents) {
  for (std::size_t i = 0; i < extents.size(); ++i) {
    for (std::size_t j = i + 1; j < extents.size(); ++j) {
      if (extents[i].overlaps(extents[j])) return true;
    }
  }
  return false;
}

// Sorts the used slots of each group into its logical drive and its link.
bool readGroups(const LayoutBuffer& layout, std::uint32_t count, std::uint32_t sectorSize, std::uint64_t sectorCount,
                std::vector<Group>& groups) {
  int groupCount = count > kMbrPrimarySlots
                       ? (static_cast<int>(count) - kMbrPrimarySlots + kMbrSlotsPerGroup - 1) / kMbrSlotsPerGroup
                       : 0;
  groups.assign(static_cast<std::size_t>(groupCount), Group{});
  for (int g = 0; g < groupCount; ++g) {
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      int entry = mbrGroupFirstEntry(g) + s;
      if (entry > static_cast<int>(count)) break;
      ConstLayoutSlot slot = layout.slot(entry);
      if (slot.mbrPartitionType() == 0) continue;
      UsedSlot used;
      if (!readUsedSlot(slot, sectorSize, sectorCount, used)) return false;
      std::optional<UsedSlot>& place = isMbrContainerType(used.type) ? groups[g].link : groups[g].logical;
      if (place) return false;
      place = used;
    }
  }
  return true;
}

}  // namespace

std::uint32_t planMbrLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                            MbrPlan& plan) {
  plan = MbrPlan{};
  plan.signature = layout.mbrSignature();
  const std::uint32_t count = layout.partitionCount();
  if (count > static_cast<std::uint32_t>(kLayoutSlotCount)) return ERROR_INVALID_PARAMETER;

  // Primary entries: slots past the count are no entries.
  std::vector<Extent> dataExtents;  // every partition that holds data
  std::vector<Extent> primaryExtents;
  Extent extended;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    if (i + 1 > static_cast<int>(count)) break;
    ConstLayoutSlot slot = layout.slot(i + 1);
    if (slot.mbrPartitionType() == 0) continue;
    UsedSlot used;
    if (!readUsedSlot(slot, sectorSize, sectorCount, used)) return ERROR_INVALID_PARAMETER;
    if (used.extent.start > kMaxSectorField || used.extent.count > kMaxSectorField) return ERROR_INVALID_PARAMETER;
    // A protective entry makes the disk read as GPT, not as this layout.
    if (used.type == kMbrTypeProtectiveGpt) return ERROR_INVALID_PARAMETER;
    if (isMbrContainerType(used.type)) {
      if (plan.hasExtended) return ERROR_INVALID_PARAMETER;
      plan.hasExtended = true;
      extended = used.extent;
    } else {
      dataExtents.push_back(used.extent);
    }
    primaryExtents.push_back(used.extent);
    plan.primaries[static_cast<std::size_t>(i)] = used.plannedAt(0);
  }
  if (anyOverlap(primaryExtents)) return ERROR_INVALID_PARAMETER;

  std::vector<Group> groups;
  if (!readGroups(layout, count, sectorSize, sectorCount, groups)) return ERROR_INVALID_PARAMETER;
  if (!plan.hasExtended) {
    // Groups without entries describe nothing and are dropped.
    bool anyEntry = std::any_of(groups.begin(), groups.end(), [](const Group& g) { return !g.isEmpty(); });
    return anyEntry ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  }
  plan.extendedStart = extended.start;

  // Follow the chain the groups describe: the first EBR at the extended
  // partition's start, each next one where the previous link points. Every
  // position checked below lies inside the extended partition, whose own
  // start and size fit 32 bits, so the relative start fields fit too.
  std::size_t g = 0;
  std::uint64_t ebrLba = extended.start;
  while (g < groups.size()) {
    const Group& group = groups[g];
    if (g == 0 && group.isEmpty()) break;  // no logical drives
    PlannedEbr ebr;
    ebr.lba = ebrLba;
    if (group.logical) {
      const Extent& logical = group.logical->extent;
      if (logical.start <= ebrLba || !extended.contains(logical)) return ERROR_INVALID_PARAMETER;
      ebr.logical = group.logical->plannedAt(ebrLba);
      dataExtents.push_back(logical);
    }
    ++g;
    if (!group.link) {
      plan.ebrs.push_back(ebr);
      break;
    }
    const Extent& link = group.link->extent;
    if (link.start <= extended.start || !extended.contains(link)) return ERROR_INVALID_PARAMETER;
    ebr.link = group.link->plannedAt(extended.start);
    plan.ebrs.push_back(ebr);
    ebrLba = link.start;
    if (g == groups.size()) plan.openLinkTarget = ebrLba;
  }
  // Groups the links do not reach would be lost on the disk.
  for (; g < groups.size(); ++g) {
    if (!groups[g].isEmpty()) return ERROR_INVALID_PARAMETER;
  }

  if (anyOverlap(dataExtents)) return ERROR_INVALID_PARAMETER;
  std::vector<std::uint64_t> ebrSectors;
  for (const PlannedEbr& ebr : plan.ebrs) ebrSectors.push_back(ebr.lba);
  if (plan.openLinkTarget) ebrSectors.push_back(*plan.openLinkTarget);
  std::vector<std::uint64_t> sorted = ebrSectors;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return ERROR_INVALID_PARAMETER;  // a loop
  for (std::uint64_t lba : ebrSectors) {
    for (const Extent& data : dataExtents) {
      if (data.contains(lba)) return ERROR_INVALID_PARAMETER;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
