#pragma once
// Where a new partition goes when its start and size are not given: one
// rule, which every front end asks for instead of working it out again.

#include <cstdint>
#include <optional>

#include "LayoutBuffer.h"

namespace kestrin {

// A place on the disk, in bytes.
struct NewEntryPlace {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// The place for a new partition in slot `entry` of `layout`, a layout read
// from a disk of `sectorCount` sectors of `sectorSize` bytes; nullopt when
// there is no room there:
// - MBR primary slots (1 to 4): from the first 1 MiB boundary behind the
//   partitions of the slots before it that no other partition covers, up to
//   the next partition or the end of the disk (and within the 32-bit fields);
// - the slots of an EBR's group (a logical drive): inside the extended
//   partition, from the first 1 MiB boundary behind that EBR and the logical
//   drives before it, up to the next EBR or logical drive or the end of the
//   extended partition; the first slot of a group appended behind the last
//   one (MbrNewLogicalDriveEntry) has NewLogicalDrivePlace; a slot of no
//   other EBR has no place;
// - GPT: from the first 1 MiB boundary behind every partition, inside the
//   usable area, up to its end.
std::optional<NewEntryPlace> DefaultPlace(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount);

// The place for a new logical drive of MBR `layout`, whose EBR the disk
// stack appends to the chain (MbrPlan.h): its EBR goes one sector, or up to
// 1 MiB, before it (at the extended partition's start while the partition
// holds no drive). Without `offset`, from the first 1 MiB boundary in the
// extended partition that is free, with a free sector before it, wherever
// that lies among the drives; with `offset` (bytes), from there, when that
// sector and the one before it are free. Either way up to the next
// partition or EBR or the end of the extended partition. nullopt without an
// extended partition, or when there is no such place.
std::optional<NewEntryPlace> NewLogicalDrivePlace(const LayoutBuffer& layout, std::uint32_t sectorSize,
                                                  std::optional<std::int64_t> offset = std::nullopt);

// The largest length, in bytes, the partition of slot `entry` can take at
// its own start: up to the next partition that starts behind it or the end
// of the room it lies in, whichever comes first, on a disk of `sectorCount`
// sectors of `sectorSize` bytes:
// - an MBR primary (an extended partition too): the other primaries, the
//   end of the disk, and the 32-bit length field;
// - a logical drive: the EBRs and the other logical drives, the end of the
//   extended partition;
// - GPT: every other partition, the end of the usable area.
// nullopt when the slot holds no partition of whole sectors, or another
// partition covers its start.
std::optional<std::int64_t> LargestLength(const LayoutBuffer& layout, int entry, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount);

}  // namespace kestrin
