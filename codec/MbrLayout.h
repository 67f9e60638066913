#pragma once
// Where an MBR disk's partitions sit in the layout record: the four primary
// slots (entries 1 to 4), then a group of four slots per EBR of the chain,
// in chain order. A group holds the logical drive in its first slot, the
// link to the next EBR in its second and two empty slots, as the system's
// own layout record does.

#include "LayoutBuffer.h"

namespace kestrin {

inline constexpr int kMbrPrimarySlots = 4;
inline constexpr int kMbrSlotsPerGroup = 4;
// How many EBR groups a record of `slotCapacity` slots holds beside the
// primaries.
constexpr int mbrEbrGroupsFitting(int slotCapacity) {
  return slotCapacity < kMbrPrimarySlots ? 0 : (slotCapacity - kMbrPrimarySlots) / kMbrSlotsPerGroup;
}
// The fixed record's 64 slots hold the primaries and fifteen EBR groups.
inline constexpr int kMbrMaxEbrGroups = mbrEbrGroupsFitting(kLayoutSlotCount);
static_assert(kMbrPrimarySlots + kMbrMaxEbrGroups * kMbrSlotsPerGroup == kLayoutSlotCount);

// Entry number of the first slot of EBR group `group` (0 for the first EBR).
constexpr int mbrGroupFirstEntry(int group) { return kMbrPrimarySlots + kMbrSlotsPerGroup * group + 1; }

}  // namespace kestrin
