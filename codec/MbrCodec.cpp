// Reading an MBR disk into the layout record, and the two whole-table
// writers (an empty table, no table). The encoder of a full layout is in
// MbrEncoder.cpp.
//
// The layout record of an MBR disk holds the four primary slots, then one
// group of four slots per EBR of the extended partition's chain: the EBR's
// four table entries in their order (its logical drives, the link to the next
// EBR, unused entries).

#include <algorithm>
#include <optional>
#include <vector>

#include "MbrCodec.h"
#include "MbrEntry.h"
#include "MbrLayout.h"
#include "MbrSectors.h"
#include "ErrorCodes.h"

namespace kestrin {

namespace {

// Fills `slot` from an on-disk entry. `absoluteStartLba` is where the
// partition starts on the disk; `nextNumber` counts the real partitions and
// is advanced for each one. An unused entry leaves the slot all zero (style
// MBR, type 0).
void fillSlot(LayoutSlot slot, const MbrEntry& entry, std::uint64_t absoluteStartLba, std::uint32_t sectorSize,
              std::uint32_t& nextNumber) {
  if (!entry.isUsed()) return;
  bool container = isMbrContainerType(entry.type);
  slot.setStyle(kStyleMbr);
  // Both factors are below 2^33 and 2^17, so the products fit easily.
  slot.setStartingOffset(static_cast<std::int64_t>(absoluteStartLba * sectorSize));
  slot.setPartitionLength(static_cast<std::int64_t>(std::uint64_t{entry.sectorCount} * sectorSize));
  slot.setPartitionNumber(container ? 0 : nextNumber++);
  slot.setMbrPartitionType(entry.type);
  slot.setMbrBootIndicator(entry.isBootable());
  slot.setMbrRecognizedPartition(!container);
  slot.setMbrHiddenSectors(entry.startLba);
}

// Follows the EBR chain of the extended partition `extended` and appends a
// group of slots for each EBR. The chain comes from the disk and is not
// trusted: the walk ends at an EBR already visited, at a link that leaves
// the extended partition, at an EBR that cannot be read or has no boot
// signature, and it never goes past the EBRs that fit the record. An empty
// first EBR is an extended partition without logical drives and adds no
// group. Returns ERROR_INSUFFICIENT_BUFFER when the chain has more EBRs
// than `out` holds (15 in the fixed record of 64 slots).
std::uint32_t decodeChain(SectorReader& medium, const MbrEntry& extended, LayoutBuffer& out, std::uint32_t& slotCount,
                          std::uint32_t& nextNumber) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::uint64_t extendedStart = extended.startLba;
  const std::uint64_t extendedEnd = extendedStart + extended.sectorCount;
  // Sector 0 counts as visited: an extended partition starting there would
  // read the MBR as its first EBR.
  std::vector<std::uint64_t> visited{0};
  std::vector<std::uint8_t> sector;
  std::uint64_t ebrLba = extendedStart;
  const int groupsFitting = mbrEbrGroupsFitting(out.slotCapacity());
  for (int group = 0;; ++group) {
    if (std::find(visited.begin(), visited.end(), ebrLba) != visited.end()) break;
    if (readOneSector(medium, ebrLba, sector) != ERROR_SUCCESS) break;
    if (!HasMbrBootSignature(sector)) break;
    visited.push_back(ebrLba);
    std::optional<int> link = ebrLinkIndex(sector);
    if (group == 0 && !link && !ebrHasLogicalDrive(sector)) break;
    if (group == groupsFitting) return ERROR_INSUFFICIENT_BUFFER;

    // Every entry is reported as the disk has it, in its place: the logical
    // drives (some tools write more than one per EBR) relative to the EBR,
    // links relative to the extended partition, even those not followed.
    int firstEntry = mbrGroupFirstEntry(group);
    slotCount += kMbrSlotsPerGroup;
    for (int i = 0; i < kMbrEntryCount; ++i) {
      MbrEntry entry = readMbrEntry(sector, i);
      std::uint64_t base = isMbrContainerType(entry.type) ? extendedStart : ebrLba;
      fillSlot(out.slot(firstEntry + i), entry, base + entry.startLba, sectorSize, nextNumber);
    }
    if (!link) break;
    std::uint64_t next = extendedStart + readMbrEntry(sector, *link).startLba;
    if (next <= extendedStart || next >= extendedEnd) break;
    ebrLba = next;
  }
  return ERROR_SUCCESS;
}

// Rewrites sector 0 with `change` applied, when that changes it.
template <typename Change>
std::uint32_t rewriteSector0(SectorDevice& medium, Change change) {
  if (!isMbrSectorSize(medium.sectorSize())) return ERROR_NOT_SUPPORTED;
  std::vector<std::uint8_t> current;
  if (std::uint32_t error = readOneSector(medium, 0, current); error != ERROR_SUCCESS) return error;
  std::vector<std::uint8_t> updated = current;
  change(std::span<std::uint8_t>(updated));
  if (updated == current) return ERROR_SUCCESS;
  return writeInOrder(medium, {SectorWrite{0, std::move(updated)}});
}

void zeroBytes(std::span<std::uint8_t> bytes, std::size_t from, std::size_t to) {
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to), 0);
}

}  // namespace

bool HasMbrBootSignature(std::span<const std::uint8_t> sector0) {
  return sector0.size() >= kMbrMinSectorSize && sector0[kMbrBootSignatureOffset] == 0x55 &&
         sector0[kMbrBootSignatureOffset + 1] == 0xAA;
}

bool HasProtectiveEntry(std::span<const std::uint8_t> sector0) {
  if (sector0.size() < kMbrMinSectorSize) return false;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    if (readMbrEntry(sector0, i).type == kMbrTypeProtectiveGpt) return true;
  }
  return false;
}

std::uint32_t DecodeMbr(SectorReader& medium, LayoutBuffer& out) {
  out.clear();
  out.setPartitionStyle(kStyleMbr);
  const std::uint32_t sectorSize = medium.sectorSize();
  if (!isMbrSectorSize(sectorSize)) return ERROR_NOT_SUPPORTED;
  if (out.slotCapacity() < kMbrPrimarySlots) return ERROR_INSUFFICIENT_BUFFER;
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(medium, 0, sector0); error != ERROR_SUCCESS) return error;
  out.setMbrSignature(readLe32(sector0, kMbrSignatureOffset));

  std::uint32_t nextNumber = 1;
  std::uint32_t slotCount = kMbrPrimarySlots;
  const MbrEntry* extended = nullptr;
  std::array<MbrEntry, kMbrEntryCount> primaries;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    primaries[i] = readMbrEntry(sector0, i);
    fillSlot(out.slot(i + 1), primaries[i], primaries[i].startLba, sectorSize, nextNumber);
    // Only the first extended partition is followed; a disk with two is
    // shown as it is and refused by the encoder.
    if (extended == nullptr && isMbrContainerType(primaries[i].type) && primaries[i].sectorCount > 0) {
      extended = &primaries[i];
    }
  }
  if (extended != nullptr) {
    if (std::uint32_t error = decodeChain(medium, *extended, out, slotCount, nextNumber); error != ERROR_SUCCESS) {
      out.clear();
      return error;
    }
  }
  out.setPartitionCount(slotCount);
  return ERROR_SUCCESS;
}

std::uint32_t WriteEmptyMbr(SectorDevice& medium, std::uint32_t signature) {
  return rewriteSector0(medium, [signature](std::span<std::uint8_t> sector) {
    writeLe32(sector, kMbrSignatureOffset, signature);
    zeroBytes(sector, kMbrTableOffset, kMbrBootSignatureOffset);
    writeU8(sector, kMbrBootSignatureOffset, 0x55);
    writeU8(sector, kMbrBootSignatureOffset + 1, 0xAA);
  });
}

std::uint32_t ClearMbr(SectorDevice& medium) {
  // The disk signature goes with the table: a disk without a layout has no
  // identity, and a stale one would let the system match the old one's
  // volumes to it. The boot code and bytes 444-445 stay as they are. A
  // sector 0 without boot signature holds no table (it may hold anything
  // else) and is left alone.
  return rewriteSector0(medium, [](std::span<std::uint8_t> sector) {
    if (!HasMbrBootSignature(sector)) return;
    zeroBytes(sector, kMbrSignatureOffset, kMbrSignatureOffset + kMbrSignatureSize);
    zeroBytes(sector, kMbrTableOffset, kMbrBootSignatureOffset + 2);
  });
}

}  // namespace kestrin
