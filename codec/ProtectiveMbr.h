#pragma once
// Sector 0 of a GPT disk: the protective MBR that keeps MBR-only tools off
// the disk, or a hybrid MBR whose entries mirror some GPT partitions for a
// boot loader that reads only the MBR.

#include <cstdint>
#include <span>

#include "GptTable.h"

namespace kestrin::gpt {

// What becomes of sector 0 when a table is written: a new table gets a plain
// protective MBR; a rewrite of the table on the disk follows it.
enum class ProtectiveMbr { Fresh, Follow };

// The size field of a protective entry from sector 1 to the end of a disk
// of `sectorCount` sectors: the rest of the disk, or as much as the 32-bit
// field holds.
std::uint32_t protectiveSize(std::uint64_t sectorCount);

// Turns `sector0` into a protective MBR for a disk of `sectorCount` sectors:
// bytes 0 .. 445 (boot code, disk signature) stay, the table holds one 0xEE
// entry from sector 1 to the end of the disk (at most 0xFFFFFFFF sectors),
// and the sector ends in 0x55AA.
void makeProtectiveMbr(std::span<std::uint8_t> sector0, std::uint64_t sectorCount);

// Brings an existing protective or hybrid MBR in `sector0` in line with a
// rewrite of the GPT from `before` to `after` (arrays of `header`'s entry
// size and count) on a disk of `sectorCount` sectors. Returns false when
// sector 0 holds no protective entry, and changes nothing then.
//
// - A plain protective MBR (its 0xEE entry from sector 1 the only entry)
//   gets the size of the disk as it is now (grown since the table was made).
// - A hybrid MBR keeps its boot code, disk signature and 0xEE entries byte
//   for byte. An entry that mirrors a GPT partition (same first and last
//   sector) follows it by the partition's unique GUID: it is dropped when
//   the partition is removed or moves, and ends where the partition now
//   ends when it is resized in place. Every other entry stays as it is.
bool followRewrite(std::span<std::uint8_t> sector0, std::uint64_t sectorCount, const Header& header,
                   std::span<const std::uint8_t> before, std::span<const std::uint8_t> after);

}  // namespace kestrin::gpt
