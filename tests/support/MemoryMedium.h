#pragma once
// An in-memory disk for codec tests: a byte vector with a sector size. It
// counts writes and flushes so tests can see what an operation touched.

#include <cstdint>
#include <vector>

#include "SectorDevice.h"

namespace kestrin::test {

class MemoryMedium : public SectorDevice {
 public:
  MemoryMedium(std::uint64_t sizeBytes, std::uint32_t sectorSize) : bytes(sizeBytes, 0), m_sectorSize(sectorSize) {}

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return bytes.size() / m_sectorSize; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override {
    ++flushes;
    return 0;
  }

  std::vector<std::uint8_t> bytes;
  std::size_t writes = 0;
  std::size_t flushes = 0;
  bool readOnly = false;

 private:
  std::uint32_t m_sectorSize;
};

}  // namespace kestrin::test
