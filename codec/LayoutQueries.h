#pragma once
// Questions about a layout record that the disk stack, the editor and every
// front end ask, each answered in one place: whether a slot holds an entry,
// the numbers the Linux kernel gives the partitions, and which slot holds
// or takes a GPT partition of a given number.

#include <cstdint>
#include <optional>
#include <vector>

#include "LayoutBuffer.h"

namespace kestrin {

// The slots the record's header counts, never more than it holds.
int UsedSlotCount(const LayoutBuffer& layout);

// True when slot `entry` is counted and holds an entry: a type byte other
// than 0 (MBR), a type GUID other than the null one (GPT).
bool SlotInUse(const LayoutBuffer& layout, int entry);

// The number the Linux kernel gives the partition of each slot (its device
// node, /dev/sdb<n>), indexed by entry number (index 0 unused), 0 for a slot
// it gives none: MBR primaries by their slot, the extended partition
// included; logical drives from 5 in chain order, links and drives of length
// zero not counted; GPT entries by their position in the entry array.
std::vector<int> KernelPartitionNumbers(const LayoutBuffer& layout);

// The slot of the extended partition whose chain an MBR layout holds: the
// first primary slot of an extended type with a length; 0 when none is.
int MbrExtendedEntry(const LayoutBuffer& layout);

// The slot a new logical drive of an MBR layout takes: the first of a group
// of four appended behind the last group (entry 5 while the extended
// partition holds no drive), so that every partition before it keeps its
// slot and number. nullopt for another style, or when the record has no
// room for another group.
std::optional<int> MbrNewLogicalDriveEntry(const LayoutBuffer& layout);

// The slot that holds GPT partition `number`, or 0 when none does.
int GptSlotOfPartition(const LayoutBuffer& layout, std::uint32_t number);

// Where a new GPT partition numbered `number` goes: the first slot past the
// used ones, which the record reports one after the other; the entry takes
// the number it is given, wherever its slot lies. nullopt when the number
// is 0, past the table's entry array, or taken, or the record has no free
// slot.
std::optional<int> GptSlotForNewPartition(const LayoutBuffer& layout, std::uint32_t number);

// The largest partition number a GPT of this layout can hold: its entry
// array's length.
std::uint32_t GptPartitionNumberLimit(const LayoutBuffer& layout);

// The lowest partition number no entry of a GPT layout has, up to the
// table's entry array's length; 0 when every number is taken (or the
// layout is no GPT).
std::uint32_t FirstFreeGptPartitionNumber(const LayoutBuffer& layout);

}  // namespace kestrin
