#pragma once
// The checked form of an MBR layout record: the table entries the encoder
// puts in sector 0 and in each EBR, with every value already validated
// against the disk. Building the plan reads nothing and writes nothing, so
// a layout that is refused leaves the disk untouched.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "LayoutBuffer.h"
#include "MbrEntry.h"

namespace kestrin {

// An entry as it goes into its table, and where its partition starts on
// the disk (for the CHS fields).
struct PlannedEntry {
  MbrEntry entry;
  std::uint64_t absoluteStartLba = 0;
};

// One EBR of the chain: its sector, its logical drive (unused when it has
// none) and its link to the next EBR (unused at the end of the chain).
struct PlannedEbr {
  std::uint64_t lba = 0;
  PlannedEntry logical;
  PlannedEntry link;
};

struct MbrPlan {
  std::uint32_t signature = 0;
  std::array<PlannedEntry, kMbrEntryCount> primaries;
  bool hasExtended = false;
  std::uint64_t extendedStart = 0;
  // The chain in order, the first EBR at the extended partition's start.
  // Empty for an extended partition without logical drives.
  std::vector<PlannedEbr> ebrs;
  // Where the last EBR's link points when the layout describes no EBR
  // there: a chain that was found cut short and is written back as it was.
  std::optional<std::uint64_t> openLinkTarget;
};

// Checks the header and the first PartitionCount slots of `layout` against
// a disk of `sectorCount` sectors of `sectorSize` bytes and fills `plan`.
// Slot 1 to 4 are the primary entries, each further group of four slots one
// EBR (at most one logical drive and one link, in any of its slots).
//
// Returns ERROR_INVALID_PARAMETER when the layout cannot be written as it
// stands: an offset or length that is negative, not a whole number of
// sectors, zero for a used entry, past the end of the disk, over sector 0
// or beyond the 32-bit sector fields; overlapping entries (the extended
// partition may hold logical drives, nothing else overlaps); a protective
// 0xEE entry among the primaries; more than one extended partition; groups
// with entries but no extended partition; a group with two logical drives
// or two links; a logical drive outside the extended partition or not after
// its EBR; a link that leaves the extended partition; an EBR inside a
// logical drive or two EBRs in one sector; groups that the chain of links
// does not reach.
std::uint32_t planMbrLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                            MbrPlan& plan);

}  // namespace kestrin
