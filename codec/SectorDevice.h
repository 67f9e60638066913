#pragma once
// What the codec needs of a medium: whole sectors in and out. Image files,
// block devices and in-memory disks for tests implement it. Every call
// returns a Windows error code (ERROR_SUCCESS on success) so that the port
// can pass it on unchanged.

#include <cstdint>
#include <span>

namespace kestrin {

class SectorReader {
 public:
  virtual ~SectorReader() = default;
  virtual std::uint32_t sectorSize() const = 0;
  virtual std::uint64_t sectorCount() const = 0;
  // Reads `out.size() / sectorSize()` whole sectors from `lba`. A read past
  // the last sector fails with ERROR_SECTOR_NOT_FOUND and reads nothing.
  virtual std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) = 0;
};

class SectorDevice : public SectorReader {
 public:
  // Writes whole sectors at `lba`; past the end fails with
  // ERROR_SECTOR_NOT_FOUND and writes nothing.
  virtual std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) = 0;
  // Makes every write so far stable.
  virtual std::uint32_t flush() = 0;
};

}  // namespace kestrin
