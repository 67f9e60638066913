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
void PutMbrBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset);

// A partition as a peer tool lists it, in sectors.
struct MbrPeerPartition {
  int number = 0;  // 1 .. 4 primary, 5 and up logical in chain order
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint8_t type = 0;  // parted does not show it: 0 there
  bool bootable = false;
  std::string kind;       // parted only: "primary", "extended" or "logical"
};

struct MbrPeerTable {
  bool ok = false;
  std::string error;
  std::uint32_t diskId = 0;
  std::vector<MbrPeerPartition> partitions;
};

// `sfdisk --json IMAGE`, parsed.
MbrPeerTable MbrSfdiskJson(const std::string& image);

// `sfdisk --dump IMAGE`, parsed.
MbrPeerTable MbrSfdiskDump(const std::string& image);

// `partx --show IMAGE` with the columns NR, START, SECTORS, TYPE, FLAGS.
MbrPeerTable MbrPartxShow(const std::string& image);

// `parted -s IMAGE unit B print`, parsed; sizes turned into 512-byte sectors.
MbrPeerTable MbrPartedPrint(const std::string& image);

// `fdisk -b SECTORSIZE -l IMAGE`, parsed (for sector sizes this sfdisk
// cannot be told).
MbrPeerTable MbrFdiskList(const std::string& image, std::uint32_t sectorSize);

// Makes a sparse image of `size` bytes and partitions it with sfdisk from
// `script`. Returns sfdisk's error output on failure, empty on success.
std::string MakeMbrSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script);

}  // namespace kestrin::test
