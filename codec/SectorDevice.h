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

// How a disk's physical sectors lie under its logical ones: their size in
// bytes (0: the logical sector size) and the byte offset from the start of
// the disk to the first logical sector that begins a physical one (not 0 on
// drives that shift their sectors for an old partitioning scheme). A start
// off this grid makes every write to a partition read and rewrite the
// physical sectors it straddles.
struct PhysicalSectors {
  std::uint32_t size = 0;
  std::uint32_t alignmentOffset = 0;
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
