#pragma once
// The disk a codec fuzz target works on, built from the fuzzer's input. A
// real disk is mostly empty, so the input lists only the sectors that hold
// something:
//
//   byte 0        flags: bit 0 set means 4096-byte sectors, else 512
//   bytes 1 .. 8  the disk's sector count, little-endian (the low 48 bits)
//   then records  an 8-byte little-endian LBA and one sector of data
//
// Every sector not listed reads as zeros; a record past the last sector is
// ignored, a short last record is padded with zeros, and a later record of
// the same LBA wins. Writes land in memory. fuzz/MakeSeed.cpp writes the
// same format from a disk image.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "FuzzRequire.h"
#include "SectorDevice.h"

namespace kestrin::fuzz {

inline constexpr std::size_t kFuzzImageHeaderSize = 9;
inline constexpr std::size_t kFuzzImageLbaSize = 8;
inline constexpr std::uint64_t kFuzzImageSectorCountMask = (1ull << 48) - 1;

class FuzzImage : public SectorDevice {
 public:
  // Builds the disk from `input`; `forceSectorSize` (512 or 4096) overrides
  // the flag bit when not 0.
  explicit FuzzImage(std::span<const std::uint8_t> input, std::uint32_t forceSectorSize = 0);

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override { return 0; }

  // True when every sector of the two disks holds the same bytes (a sector
  // never listed or written reads as zeros in both).
  bool sameContents(const FuzzImage& other) const;

 private:
  std::uint32_t m_sectorSize = 512;
  std::uint64_t m_sectorCount = 0;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_sectors;
};

}  // namespace kestrin::fuzz
