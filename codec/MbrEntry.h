#pragma once
// One 16-byte entry of an MBR or EBR partition table, read and written field
// by field, and how an EBR's table is read as one logical drive and one link.
// The MBR decoder and encoder both go through here, so that what one writes
// is exactly what the other reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "MbrFormat.h"

namespace kestrin {

// The fields of an entry that carry meaning. `startLba` is relative to the
// base of the entry's table: 0 for the MBR, the EBR for a logical drive, the
// extended partition's start for a link. The CHS fields are derived from
// the LBA when an entry is written and never read.
struct MbrEntry {
  std::uint8_t bootFlag = 0;
  std::uint8_t type = 0;
  std::uint32_t startLba = 0;
  std::uint32_t sectorCount = 0;

  // A type of 0 is no entry, whatever the other fields hold.
  bool isUsed() const { return type != 0; }
  bool isBootable() const { return bootFlag == kMbrBootFlag; }
  // 0x00 or 0x80: the kernel, blkid, partx and parted take sector 0 for no
  // partition table when any of its entries holds another boot byte.
  bool hasValidBootFlag() const { return bootFlag == 0 || bootFlag == kMbrBootFlag; }
};

// True when both entries describe the same partition the same way as the
// layout record sees it (a boot flag other than 0x80 reads as not bootable).
bool sameMbrEntryMeaning(const MbrEntry& a, const MbrEntry& b);

// The extended partition types, which hold an EBR chain rather than data.
bool isMbrContainerType(std::uint8_t type);

// Entry `index` (0 .. 3) of the table at byte 446 of `sector` (512 bytes or more).
MbrEntry readMbrEntry(std::span<const std::uint8_t> sector, int index);

// Writes entry `index` of the table in `sector`. `absoluteStartLba` is where
// the partition starts on the disk, for the CHS fields. An unused entry is
// written as 16 zero bytes.
void writeMbrEntry(std::span<std::uint8_t> sector, int index, const MbrEntry& entry, std::uint64_t absoluteStartLba);

// The three CHS bytes for `lba` as current tools write them: 255 heads and
// 63 sectors per track; head, then sector with cylinder bits 8-9 in its top
// bits, then cylinder bits 0-7; FE FF FF (1023/254/63) past cylinder 1023.
std::array<std::uint8_t, 3> chsFromLba(std::uint64_t lba);

// The index of an EBR's link to the next EBR: its first used entry of a
// container type, nullopt when it has none. Further links are not followed.
std::optional<int> ebrLinkIndex(std::span<const std::uint8_t> sector);

// True when an EBR's table holds a logical drive: a used entry of a data type.
bool ebrHasLogicalDrive(std::span<const std::uint8_t> sector);

}  // namespace kestrin
