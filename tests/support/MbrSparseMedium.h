#pragma once
// An in-memory disk that stores only the sectors written to it, so tests
// can use disks of terabytes (32-bit sector field limits, CHS past
// cylinder 1023). Unwritten sectors read as zero. It logs every write and
// flush in order and can fail a chosen write, for tests of write order and
// of stopping at the first failure.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SectorDevice.h"

namespace kestrin::test {

class MbrSparseMedium : public SectorDevice {
 public:
  MbrSparseMedium(std::uint64_t sectorCount, std::uint32_t sectorSize)
      : m_sectorCount(sectorCount), m_sectorSize(sectorSize) {}

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;

  // The contents of one sector (zeros when never written).
  std::vector<std::uint8_t> sector(std::uint64_t lba) const;
  void setSector(std::uint64_t lba, const std::vector<std::uint8_t>& bytes);

  // "w<lba>" for each write and "f" for each flush, in order.
  std::vector<std::string> log;
  // The write with this 1-based number fails with `failError` (0: none).
  int failWriteNumber = 0;
  std::uint32_t failError = 0;

 private:
  std::uint64_t m_sectorCount;
  std::uint32_t m_sectorSize;
  int m_writeCount = 0;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_sectors;
};

}  // namespace kestrin::test
