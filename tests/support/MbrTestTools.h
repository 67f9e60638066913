#pragma once
// Helpers for the MBR codec tests: raw table bytes for hand-made hostile
// disks, and the tables that peer tools (sfdisk, fdisk) read from an image,
// to compare with what Kestrin reads.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrin::test {

// Writes one 16-byte table entry (CHS fields zero) into the sector that
// starts at byte `sectorOffset` of `disk`, and the 0x55AA of that sector.
void PutMbrEntry(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset, int index, std::uint8_t bootFlag,
                 std::uint8_t type, std::uint32_t startLba, std::uint32_t sectorCount);
void PutBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset);

// A partition as a peer tool lists it, in sectors.
struct PeerPartition {
  int number = 0;  // 1 .. 4 primary, 5 and up logical in chain order
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint8_t type = 0;
  bool bootable = false;
};

struct PeerTable {
  bool ok = false;
  std::string error;
  std::uint32_t diskId = 0;
  std::vector<PeerPartition> partitions;
};

// `sfdisk --json IMAGE`, parsed.
PeerTable SfdiskJson(const std::string& image);

// `fdisk -b SECTORSIZE -l IMAGE`, parsed (for sector sizes this sfdisk
// cannot be told).
PeerTable FdiskList(const std::string& image, std::uint32_t sectorSize);

// Makes a sparse image of `size` bytes and partitions it with sfdisk from
// `script`. Returns sfdisk's error output on failure, empty on success.
std::string MakeSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script);

}  // namespace kestrin::test
