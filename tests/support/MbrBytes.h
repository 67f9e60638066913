#pragma once
// Raw MBR table bytes, for hand-made hostile and unusual disks.

#include <cstdint>
#include <vector>

namespace kestrin::test {

// Writes one 16-byte table entry (CHS fields zero) into the sector that
// starts at byte `sectorOffset` of `disk`, and the 0x55AA of that sector.
void PutMbrEntry(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset, int index, std::uint8_t bootFlag,
                 std::uint8_t type, std::uint32_t startLba, std::uint32_t sectorCount);
void PutMbrBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset);

}  // namespace kestrin::test
