#pragma once
// A backup of a disk's table sectors: which sectors hold (or a table write
// may put) table structures, their contents with their positions, the
// disk's size and sector size, and a checksum over all of it; and putting
// them back in an order that keeps the disk readable at every step.
//
// The file, all numbers little-endian:
//   0   8  "KSTBKUP1"
//   8   4  format version (1)
//   12  4  sector size in bytes
//   16  8  disk size in sectors
//   24  4  number of sectors N
//   28  4  zero
//   32     N records: u64 sector number, then the sector's bytes
//   end 4  CRC32 of every byte before it

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MbrSectors.h"
#include "SectorDevice.h"

namespace kestrin {

struct TableBackup {
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::vector<SectorWrite> sectors;  // ascending sector numbers, each once
};

// The sectors that hold table structures on `disk`, or that a table write
// of either style may change: sector 0, the GPT's places at both ends (each
// header and a 16 KiB array, and wherever a header found there puts its
// array or the other copy) and every EBR of the first extended partition's
// chain. Ascending, each once; only sectors inside the disk.
std::uint32_t TableSectors(SectorReader& disk, std::vector<std::uint64_t>& lbas);

// Reads `lbas` (ascending, inside the disk) into a backup of `disk`.
std::uint32_t ReadBackup(SectorReader& disk, const std::vector<std::uint64_t>& lbas, TableBackup& out);

// The file's bytes for `backup`.
std::vector<std::uint8_t> EncodeBackup(const TableBackup& backup);

// Reads a file back. Returns nullopt and sets `error` to a reason when the
// bytes are not a whole, undamaged backup (wrong magic or version, cut
// short or too long, a checksum that does not match, sectors out of order
// or past the disk it was made for).
std::optional<TableBackup> DecodeBackup(std::span<const std::uint8_t> bytes, std::string& error);

// Writes the backup's sectors that differ from what the disk holds, each
// flushed before the next: the sectors from 2 on in the disk's second half
// in ascending order (the backup GPT's array before its header), then those
// in its first half (the primary array, the EBRs), then the primary GPT
// header, then sector 0, which leads to everything else. The caller has
// checked the disk's geometry against the backup's. Returns the first error.
// A write that fails after others went through (a disk that refuses the
// table it would leave, say) is followed by putting back what the disk held
// in the sectors already written, last first, so that a refused restore
// leaves the disk as it was; `partlyRestored` tells that this failed too and
// the disk holds part of the backup.
std::uint32_t RestoreBackup(SectorDevice& disk, const TableBackup& backup, bool& partlyRestored);

}  // namespace kestrin
