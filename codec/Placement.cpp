#include "Placement.h"

#include <algorithm>
#include <vector>

#include "LayoutQueries.h"
#include "MbrEntry.h"
#include "MbrFormat.h"
#include "MbrLayout.h"
#include "MbrPlan.h"

namespace kestrin {

namespace {

constexpr std::uint64_t kAlignmentBytes = 1 << 20;

int slotCount(const LayoutBuffer& layout) {
  return static_cast<int>(std::min<std::uint32_t>(layout.partitionCount(), kLayoutSlotCount));
}

// The slot's extent in sectors; nullopt for an unused slot or one that is
// not whole sectors (another tool's damage, which takes no room here).
std::optional<MbrExtent> extentOf(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize) {
  ConstLayoutSlot slot = layout.slot(entry);
  const bool used =
      layout.partitionStyle() == kStyleGpt ? !slot.gptPartitionType().isNull() : slot.mbrPartitionType() != 0;
  const std::int64_t offset = slot.startingOffset();
  const std::int64_t length = slot.partitionLength();
  if (!used || offset < 0 || length <= 0 || offset % sectorSize != 0 || length % sectorSize != 0) return std::nullopt;
  return MbrExtent{static_cast<std::uint64_t>(offset) / sectorSize, static_cast<std::uint64_t>(length) / sectorSize};
}

// The first sector from `from` on that lies on the alignment grid and in
// none of `taken`, below `end`; then the free run up to the next taken
// sector or `end`.
std::optional<MbrExtent> firstFreeRun(std::uint64_t from, std::uint64_t end, std::uint64_t grid,
                                      const std::vector<MbrExtent>& taken) {
  std::uint64_t start = (from + grid - 1) / grid * grid;
  for (bool moved = true; moved && start < end;) {
    moved = false;
    for (const MbrExtent& t : taken) {
      if (t.contains(start)) {
        start = (t.end() + grid - 1) / grid * grid;
        moved = true;
      }
    }
  }
  if (start >= end) return std::nullopt;
  std::uint64_t limit = end;
  for (const MbrExtent& t : taken) {
    if (t.start > start) limit = std::min(limit, t.start);
  }
  return MbrExtent{start, limit - start};
}

std::optional<MbrExtent> mbrPrimaryPlace(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                         std::uint64_t sectorCount, std::uint64_t grid) {
  std::uint64_t from = grid;
  std::vector<MbrExtent> taken;
  for (int other = 1; other <= std::min(slotCount(layout), kMbrPrimarySlots); ++other) {
    std::optional<MbrExtent> extent = other == entry ? std::nullopt : extentOf(layout, other, sectorSize);
    if (!extent) continue;
    taken.push_back(*extent);
    if (other < entry) from = std::max(from, extent->end());
  }
  std::optional<MbrExtent> run = firstFreeRun(from, sectorCount, grid, taken);
  if (!run || run->start > kMbrMaxSectorField) return std::nullopt;
  run->count = std::min(run->count, kMbrMaxSectorField);
  return run;
}

std::optional<MbrExtent> logicalDrivePlace(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                           std::uint64_t grid) {
  const std::optional<MbrExtent> extended = MbrExtendedOf(layout, sectorSize);
  const std::vector<std::uint64_t> chain = MbrChainOf(layout, sectorSize);
  const int group = (entry - mbrGroupFirstEntry(0)) / kMbrSlotsPerGroup;
  if (!extended || static_cast<std::size_t>(group) >= chain.size()) return std::nullopt;
  std::uint64_t from = chain[static_cast<std::size_t>(group)] + 1;
  std::vector<MbrExtent> taken;
  for (std::size_t g = 0; g < chain.size(); ++g) {
    taken.push_back({chain[g], 1});
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      const int other = mbrGroupFirstEntry(static_cast<int>(g)) + s;
      if (other == entry || other > slotCount(layout)) continue;
      if (isMbrContainerType(layout.slot(other).mbrPartitionType())) continue;
      std::optional<MbrExtent> extent = extentOf(layout, other, sectorSize);
      if (!extent) continue;
      taken.push_back(*extent);
      if (static_cast<int>(g) < group) from = std::max(from, extent->end());
    }
  }
  std::optional<MbrExtent> run = firstFreeRun(from, extended->end(), grid, taken);
  if (run && !extended->contains(*run)) return std::nullopt;
  return run;
}

// Where a new logical drive goes; see NewLogicalDrivePlace.
std::optional<MbrExtent> newLogicalDrivePlace(const LayoutBuffer& layout, std::uint32_t sectorSize,
                                              std::uint64_t grid, std::optional<std::uint64_t> at) {
  const std::optional<MbrExtent> extended = MbrExtendedOf(layout, sectorSize);
  if (!extended) return std::nullopt;
  const std::vector<std::uint64_t> chain = MbrChainOf(layout, sectorSize);
  // The EBR of the extended partition's first drive is its first sector;
  // any later one needs the sector before its drive (MbrEbrSectorBefore).
  std::vector<MbrExtent> taken{{extended->start, 1}};
  for (std::uint64_t ebr : chain) taken.push_back({ebr, 1});
  for (int entry = 1; entry <= slotCount(layout); ++entry) {
    if (isMbrContainerType(layout.slot(entry).mbrPartitionType())) continue;
    if (std::optional<MbrExtent> extent = extentOf(layout, entry, sectorSize)) taken.push_back(*extent);
  }
  std::optional<MbrExtent> run;
  if (at) {
    const bool ebrFits = chain.empty() ? *at > extended->start
                                       : MbrEbrSectorBefore(*at, *extended, taken, sectorSize).has_value();
    if (!ebrFits) return std::nullopt;
    run = firstFreeRun(*at, extended->end(), 1, taken);
    if (run && run->start != *at) return std::nullopt;
  } else {
    // Each taken run also takes the sector behind it, where no drive may
    // start: the sector before a drive holds its EBR.
    std::vector<MbrExtent> grown = taken;
    if (!chain.empty()) {
      for (MbrExtent& t : grown) ++t.count;
    }
    run = firstFreeRun(extended->start + 1, extended->end(), grid, grown);
    // The run ends where the next partition or EBR begins, not a sector later.
    if (run) run = firstFreeRun(run->start, extended->end(), 1, taken);
  }
  if (!run || !extended->contains(*run)) return std::nullopt;
  return run;
}

std::optional<MbrExtent> gptPlace(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t grid) {
  const std::int64_t usableStart = layout.gptStartingUsableOffset();
  const std::int64_t usableLength = layout.gptUsableLength();
  if (usableStart <= 0 || usableLength <= 0) return std::nullopt;
  const std::uint64_t first = static_cast<std::uint64_t>(usableStart) / sectorSize;
  const std::uint64_t end = first + static_cast<std::uint64_t>(usableLength) / sectorSize;
  std::uint64_t from = first;
  for (int entry = 1; entry <= slotCount(layout); ++entry) {
    if (std::optional<MbrExtent> extent = extentOf(layout, entry, sectorSize)) from = std::max(from, extent->end());
  }
  return firstFreeRun(from, end, grid, {});
}

}  // namespace

std::optional<NewEntryPlace> DefaultPlace(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount) {
  if (sectorSize == 0 || !isValidEntryNumber(entry)) return std::nullopt;
  const std::uint64_t grid = std::max<std::uint64_t>(1, kAlignmentBytes / sectorSize);
  std::optional<MbrExtent> run;
  switch (layout.partitionStyle()) {
    case kStyleMbr:
      if (entry <= kMbrPrimarySlots) {
        run = mbrPrimaryPlace(layout, entry, sectorSize, sectorCount, grid);
      } else if (entry == MbrNewLogicalDriveEntry(layout)) {
        run = newLogicalDrivePlace(layout, sectorSize, grid, std::nullopt);
      } else {
        run = logicalDrivePlace(layout, entry, sectorSize, grid);
      }
      break;
    case kStyleGpt:
      run = gptPlace(layout, sectorSize, grid);
      break;
    default:
      break;
  }
  if (!run) return std::nullopt;
  return NewEntryPlace{static_cast<std::int64_t>(run->start * sectorSize),
                       static_cast<std::int64_t>(run->count * sectorSize)};
}

std::optional<NewEntryPlace> NewLogicalDrivePlace(const LayoutBuffer& layout, std::uint32_t sectorSize,
                                                  std::optional<std::int64_t> offset) {
  if (sectorSize == 0 || layout.partitionStyle() != kStyleMbr) return std::nullopt;
  std::optional<std::uint64_t> at;
  if (offset) {
    if (*offset < 0 || *offset % sectorSize != 0) return std::nullopt;
    at = static_cast<std::uint64_t>(*offset) / sectorSize;
  }
  const std::optional<MbrExtent> run =
      newLogicalDrivePlace(layout, sectorSize, std::max<std::uint64_t>(1, kAlignmentBytes / sectorSize), at);
  if (!run) return std::nullopt;
  return NewEntryPlace{static_cast<std::int64_t>(run->start * sectorSize),
                       static_cast<std::int64_t>(run->count * sectorSize)};
}

namespace {

// What stands around a partition: the partitions and EBRs it must not run
// into, and where its room ends, in sectors.
struct Surroundings {
  std::vector<MbrExtent> taken;
  std::uint64_t end = 0;
};

std::optional<Surroundings> surroundingsOf(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                           std::uint64_t sectorCount) {
  Surroundings around;
  auto takeSlot = [&](int other) {
    if (other == entry || other > slotCount(layout)) return;
    if (std::optional<MbrExtent> extent = extentOf(layout, other, sectorSize)) around.taken.push_back(*extent);
  };
  if (layout.partitionStyle() == kStyleGpt) {
    const std::int64_t usableStart = layout.gptStartingUsableOffset();
    const std::int64_t usableLength = layout.gptUsableLength();
    if (usableStart <= 0 || usableLength <= 0) return std::nullopt;
    around.end = static_cast<std::uint64_t>(usableStart + usableLength) / sectorSize;
    for (int other = 1; other <= slotCount(layout); ++other) takeSlot(other);
    return around;
  }
  if (layout.partitionStyle() != kStyleMbr) return std::nullopt;
  if (entry <= kMbrPrimarySlots) {
    around.end = sectorCount;
    for (int other = 1; other <= kMbrPrimarySlots; ++other) takeSlot(other);
    return around;
  }
  const std::optional<MbrExtent> extended = MbrExtendedOf(layout, sectorSize);
  if (!extended) return std::nullopt;
  around.end = extended->end();
  const std::vector<std::uint64_t> chain = MbrChainOf(layout, sectorSize);
  for (std::size_t g = 0; g < chain.size(); ++g) {
    around.taken.push_back({chain[g], 1});
    for (int s = 0; s < kMbrSlotsPerGroup; ++s) {
      const int other = mbrGroupFirstEntry(static_cast<int>(g)) + s;
      if (other <= slotCount(layout) && !isMbrContainerType(layout.slot(other).mbrPartitionType())) takeSlot(other);
    }
  }
  return around;
}

}  // namespace

std::optional<std::int64_t> LargestLength(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount) {
  if (sectorSize == 0 || !isValidEntryNumber(entry) || entry > slotCount(layout)) return std::nullopt;
  const std::optional<MbrExtent> own = extentOf(layout, entry, sectorSize);
  const std::optional<Surroundings> around = surroundingsOf(layout, entry, sectorSize, sectorCount);
  if (!own || !around || own->start >= around->end) return std::nullopt;
  std::uint64_t limit = around->end;
  for (const MbrExtent& other : around->taken) {
    if (other.contains(own->start)) return std::nullopt;
    if (other.start > own->start) limit = std::min(limit, other.start);
  }
  std::uint64_t count = limit - own->start;
  if (layout.partitionStyle() == kStyleMbr) count = std::min(count, kMbrMaxSectorField);
  return static_cast<std::int64_t>(count * sectorSize);
}

}  // namespace kestrin
