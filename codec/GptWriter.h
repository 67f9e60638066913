#pragma once
// Writing a GPT: both copies of the header and the entry array, then the
// protective MBR, in an order that keeps one valid copy on the disk should
// the writing stop half-way.

#include <cstdint>
#include <span>
#include <vector>

#include "GptTable.h"
#include "ProtectiveMbr.h"
#include "SectorDevice.h"

namespace kestrin::gpt {

// Where the two arrays go and what the headers say; `header.myLba`,
// `alternateLba`, `entryLba` and `arrayCrc` are filled in by writeTable.
struct Plan {
  Header header;
  std::vector<std::uint8_t> array;  // entryCount x entrySize bytes
  std::uint64_t primaryArrayLba = kPrimaryArrayLba;
  std::uint64_t backupArrayLba = 0;
};

// Writes `bytes` at `lba`, leaving alone the sectors that already hold the
// same content, and flushes when anything was written. `bytes` is a whole
// number of sectors. Returns the first error of the medium.
std::uint32_t writeChangedSectors(SectorDevice& medium, std::uint64_t lba, std::span<const std::uint8_t> bytes);

// Writes the whole table as planned: backup array, backup header, primary
// array, primary header, protective MBR (see ProtectiveMbr.h: fresh for a new
// table, following the rewrite of `previousArray` otherwise), each flushed,
// stopping at the first failure. Sectors that already hold what would be
// written are skipped.
std::uint32_t writeTable(SectorDevice& medium, Plan plan, ProtectiveMbr protectiveMbr,
                         std::span<const std::uint8_t> previousArray = {});

}  // namespace kestrin::gpt
