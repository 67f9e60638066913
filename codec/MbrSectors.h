#pragma once
// Whole-sector reads and the crash-safe write sequence shared by the MBR
// writers.

#include <cstdint>
#include <vector>

#include "SectorDevice.h"

namespace kestrin {

// One sector to be written: where, and its complete new contents.
struct SectorWrite {
  std::uint64_t lba = 0;
  std::vector<std::uint8_t> bytes;
};

// Reads sector `lba` into `out` (resized to one sector). Returns the
// medium's error code.
std::uint32_t readOneSector(SectorReader& medium, std::uint64_t lba, std::vector<std::uint8_t>& out);

// Writes `writes` in the order given, flushing after each one so that a
// structure never reaches the disk before what it points to, and stops at
// the first failure. Returns ERROR_SUCCESS only after the last flush.
std::uint32_t writeInOrder(SectorDevice& medium, const std::vector<SectorWrite>& writes);

}  // namespace kestrin
