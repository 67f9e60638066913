#include "LayoutQueries.h"

#include <algorithm>

#include "GptFormat.h"
#include "MbrEntry.h"
#include "MbrLayout.h"

namespace kestrin {

int UsedSlotCount(const LayoutBuffer& layout) {
  return static_cast<int>(
      std::min<std::uint32_t>(layout.partitionCount(), static_cast<std::uint32_t>(layout.slotCapacity())));
}

bool SlotInUse(const LayoutBuffer& layout, int entry) {
  if (entry < 1 || entry > UsedSlotCount(layout)) return false;
  ConstLayoutSlot slot = layout.slot(entry);
  switch (layout.partitionStyle()) {
    case kStyleMbr:
      return slot.mbrPartitionType() != 0;
    case kStyleGpt:
      return !slot.gptPartitionType().isNull();
    default:
      return false;
  }
}

std::vector<int> KernelPartitionNumbers(const LayoutBuffer& layout) {
  const int count = UsedSlotCount(layout);
  std::vector<int> numbers(static_cast<std::size_t>(count) + 1, 0);
  int nextLogical = kMbrPrimarySlots + 1;
  for (int entry = 1; entry <= count; ++entry) {
    if (!SlotInUse(layout, entry) || layout.slot(entry).partitionLength() <= 0) continue;
    ConstLayoutSlot slot = layout.slot(entry);
    int& number = numbers[static_cast<std::size_t>(entry)];
    if (layout.partitionStyle() == kStyleGpt) {
      number = static_cast<int>(slot.partitionNumber());
    } else if (entry <= kMbrPrimarySlots) {
      number = entry;
    } else if (!isMbrContainerType(slot.mbrPartitionType())) {
      number = nextLogical++;
    }
  }
  return numbers;
}

int MbrExtendedEntry(const LayoutBuffer& layout) {
  if (layout.partitionStyle() != kStyleMbr) return 0;
  for (int entry = 1; entry <= std::min(UsedSlotCount(layout), kMbrPrimarySlots); ++entry) {
    ConstLayoutSlot slot = layout.slot(entry);
    if (isMbrContainerType(slot.mbrPartitionType()) && slot.partitionLength() > 0) return entry;
  }
  return 0;
}

std::optional<int> MbrNewLogicalDriveEntry(const LayoutBuffer& layout) {
  if (layout.partitionStyle() != kStyleMbr) return std::nullopt;
  const int groups = (std::max(UsedSlotCount(layout), kMbrPrimarySlots) - kMbrPrimarySlots + kMbrSlotsPerGroup - 1) /
                     kMbrSlotsPerGroup;
  const int entry = mbrGroupFirstEntry(groups);
  if (entry + kMbrSlotsPerGroup - 1 > layout.slotCapacity()) return std::nullopt;
  return entry;
}

int GptSlotOfPartition(const LayoutBuffer& layout, std::uint32_t number) {
  if (layout.partitionStyle() != kStyleGpt || number == 0) return 0;
  for (int entry = 1; entry <= UsedSlotCount(layout); ++entry) {
    if (SlotInUse(layout, entry) && layout.slot(entry).partitionNumber() == number) return entry;
  }
  return 0;
}

std::uint32_t GptPartitionNumberLimit(const LayoutBuffer& layout) {
  const std::uint32_t limit = layout.gptMaxPartitionCount();
  return limit == 0 ? gpt::kDefaultEntryCount : limit;
}

std::optional<int> GptSlotForNewPartition(const LayoutBuffer& layout, std::uint32_t number) {
  if (layout.partitionStyle() != kStyleGpt || number == 0 || number > GptPartitionNumberLimit(layout)) {
    return std::nullopt;
  }
  if (GptSlotOfPartition(layout, number) != 0) return std::nullopt;
  const int slot = UsedSlotCount(layout) + 1;
  if (slot > kLayoutSlotCount) return std::nullopt;
  return slot;
}

std::uint32_t FirstFreeGptPartitionNumber(const LayoutBuffer& layout) {
  if (layout.partitionStyle() != kStyleGpt) return 0;
  for (std::uint32_t number = 1; number <= GptPartitionNumberLimit(layout); ++number) {
    if (GptSlotOfPartition(layout, number) == 0) return number;
  }
  return 0;
}

}  // namespace kestrin
