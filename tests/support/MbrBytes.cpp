#include "MbrBytes.h"

namespace kestrin::test {

namespace {

void putLe32(std::vector<std::uint8_t>& disk, std::uint64_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) disk.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void PutMbrEntry(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset, int index, std::uint8_t bootFlag,
                 std::uint8_t type, std::uint32_t startLba, std::uint32_t sectorCount) {
  std::uint64_t entry = sectorOffset + 446 + 16 * static_cast<std::uint64_t>(index);
  for (int i = 0; i < 16; ++i) disk.at(entry + i) = 0;
  disk.at(entry) = bootFlag;
  disk.at(entry + 4) = type;
  putLe32(disk, entry + 8, startLba);
  putLe32(disk, entry + 12, sectorCount);
  PutMbrBootSignature(disk, sectorOffset);
}

void PutMbrBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset) {
  disk.at(sectorOffset + 510) = 0x55;
  disk.at(sectorOffset + 511) = 0xAA;
}

}  // namespace kestrin::test
