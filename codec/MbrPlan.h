#pragma once
// The checked form of an MBR layout record: the table entries the encoder
// puts in sector 0 and in each EBR, with every value already validated
// against the disk. Building the plan reads nothing and writes nothing, so
// a layout that is refused leaves the disk untouched; a refusal comes with
// its findings, from the rules of TableRules.h.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "LayoutBuffer.h"
#include "MbrEntry.h"
#include "TableRules.h"

namespace kestrin {

// A run of sectors on the disk.
struct MbrExtent {
  std::uint64_t start = 0;
  std::uint64_t count = 0;

  std::uint64_t end() const { return start + count; }
  bool overlaps(const MbrExtent& other) const { return start < other.end() && other.start < end(); }
  bool contains(std::uint64_t lba) const { return lba >= start && lba < end(); }
  bool contains(const MbrExtent& other) const { return other.start >= start && other.end() <= end(); }
};

// The extended partition whose chain is read: the first primary slot of an
// extended type with a length.
std::optional<MbrExtent> MbrExtendedOf(const LayoutBuffer& layout, std::uint32_t sectorSize);
// Where each group's EBR sits in a layout the disk holds: the first at the
// extended partition's start, each next one where the group before links.
std::vector<std::uint64_t> MbrChainOf(const LayoutBuffer& layout, std::uint32_t sectorSize);

// Where the EBR of a new logical drive starting at sector `driveStart` goes:
// the first sector of the free run in front of the drive, but no more than
// 1 MiB (of `sectorSize`-byte sectors) before it, as sfdisk leaves it, and
// behind the extended partition's first sector, which holds the chain's
// first EBR. `taken` are the sectors in use (partitions and EBRs). nullopt
// when the sector just before the drive is taken or not inside `extended`.
std::optional<std::uint64_t> MbrEbrSectorBefore(std::uint64_t driveStart, const MbrExtent& extended,
                                                const std::vector<MbrExtent>& taken, std::uint32_t sectorSize);

// An entry as it goes into its table, and where its partition starts on
// the disk (for the CHS fields).
struct PlannedEntry {
  MbrEntry entry;
  std::uint64_t absoluteStartLba = 0;
  // The slot is marked for rewriting (RewritePartition): an entry on the
  // disk whose meaning it keeps is still written anew where its bytes are
  // unsound (a boot byte other than 0x00 and 0x80).
  bool rewrite = false;
};

using PlannedTable = std::array<PlannedEntry, kMbrEntryCount>;

// One EBR of the chain: its sector and its four table entries, in the order
// of the layout's group of four slots (unused entries are empty).
struct PlannedEbr {
  std::uint64_t lba = 0;
  PlannedTable entries;
};

struct MbrPlan {
  std::uint32_t signature = 0;
  PlannedTable primaries;
  bool hasExtended = false;
  int extendedEntry = 0;  // its slot
  std::uint64_t extendedStart = 0;
  // The extended partition was on the disk but not the one whose chain was
  // read (a second extended partition whose first was removed): the chain
  // at its start is unknown to the layout and must not be overwritten.
  bool extendedChainUnknown = false;
  // Without logical drives in the layout, an EBR with entries at the
  // extended partition's start is cleared: one left from old data where the
  // extended partition is new or changed, or logical drives the layout
  // removes. An extended partition kept as the disk has it, whose chain the
  // disk's reader found empty, is left alone.
  bool clearStaleEbr = false;
  // The chain in order, the first EBR at the extended partition's start.
  // Empty for an extended partition without logical drives.
  std::vector<PlannedEbr> ebrs;
  // Where the last EBR's link points when the layout describes no EBR
  // there and the link is new or changed: no EBR may be found at its end.
  std::optional<std::uint64_t> openLinkTarget;
  int openLinkEntry = 0;  // the slot of that link
};

// Checks the header and the first PartitionCount slots of `layout` against
// a disk of `sectorCount` sectors of `sectorSize` bytes and fills `plan`.
// Slots 1 to 4 are the primary entries, each further group of four slots one
// EBR, slot by slot its four table entries: the first entry of an extended
// type links to the next EBR, the others are logical drives.
//
// `onDisk` is the layout the disk holds now (or null). A used slot that
// holds what the same slot holds on the disk (type, boot flag, offset and
// length; for an EBR's entries, at the same EBR) is kept: it is written back
// as it is and not judged, so a table that was damaged by another tool (an
// entry past the end of a disk cut short, an entry of length 0, overlapping
// primaries, two extended partitions) can still be changed elsewhere and
// repaired slot by slot. Every new or changed slot is checked in full against
// the disk and against every other slot, kept ones included.
//
// Returns ERROR_INVALID_PARAMETER, after appending to `findings` one
// problem for each rule broken (all of them, not only the first), when the
// layout cannot be written as it stands: a new or changed entry whose offset or length is negative, not a
// whole number of sectors, zero, past the end of the disk, over sector 0 or
// beyond the 32-bit sector fields; a new or changed protective 0xEE entry
// among the primaries; overlapping entries, one of them new or changed (the
// extended partition may hold logical drives, nothing else overlaps); a new
// or changed extended partition beside another one; groups with entries but
// no extended partition; a new or changed second link in a group; a new or
// changed logical drive outside the extended partition or not after its EBR;
// a new or changed link that leaves the extended partition, or that leads
// past the last group (to an EBR the layout does not describe); an EBR
// inside a logical drive or two EBRs in one sector; groups that the chain of
// links does not reach; more slots than the record holds. Appends nothing
// and returns ERROR_SUCCESS otherwise.
//
// Two changes of the chain are the planner's own, so that a caller changes
// slots only, as in the system's layout record:
// - A group the disk does not have, behind the last group the links reach,
//   whose only used slot is its first one with a new logical drive, is
//   appended to the chain: its EBR goes where MbrEbrSectorBefore puts it,
//   and the EBR before it gets the link to it (in its second entry, or the
//   first free one), so the drives before it keep their numbers. A drive
//   whose EBR has no room is refused ("ebr-no-room").
// - A layout that leaves none of the logical drives the disk holds drops
//   the chain: the extended partition is written empty, its first EBR
//   without entries. sfdisk reads a chain of three or more EBRs without a
//   drive as holding a partition 5 of size 0, which the kernel and parted
//   do not; a chain in which some drive is left reads alike everywhere, so
//   there the EBR of a deleted drive stays, with its link, and every other
//   EBR keeps its bytes.
std::uint32_t planMbrLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                            const LayoutBuffer* onDisk, MbrPlan& plan, check::Findings& findings);

}  // namespace kestrin
