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

// The sectors that hold table structures on `disk`, and nothing else: of
// an MBR disk sector 0 and every EBR of the first extended partition's
// chain; of a GPT disk (or a disk whose sector 0 holds no table) sector 0,
// both headers and both entry arrays as the headers describe them, a
// damaged copy where a rewrite would put it again (TableBackup.cpp says
// how). Ascending, each once; only sectors inside the disk.
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

// The writes that put `backup` back on `disk`, in the order they are made
// (each to be flushed before the next): the backup's sectors that differ
// from what the disk holds, and, where the restored sector 0 no longer
// stands for a GPT, the headers of a valid GPT the disk holds now, cleared.
// The sectors from 2 on in the disk's second half come first in ascending
// order (the backup GPT's array before its header), then those in its
// first half (the primary array, the EBRs), then the primary GPT header,
// then sector 0, which leads to everything else.
std::uint32_t PlanRestore(SectorReader& disk, const TableBackup& backup, std::vector<SectorWrite>& writes);

// Makes the writes of PlanRestore. The caller has checked the disk's
// geometry against the backup's. Returns the first error. A write that
// fails after others went through (a disk that refuses the table it would
// leave, say) is followed by putting back what the disk held in the sectors
// already written, last first, so that a refused restore leaves the disk as
// it was; `partlyRestored` tells that this failed too and the disk holds
// part of the backup.
std::uint32_t RestoreBackup(SectorDevice& disk, const TableBackup& backup, bool& partlyRestored);

}  // namespace kestrin
