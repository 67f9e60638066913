#pragma once
// What the peer tools say about a GPT, parsed into one shape so that tests
// can compare each of them with what Kestrin reads. Sectors are the
// device's logical sectors unless a field says bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrin::test {

struct PeerEntry {
  unsigned number = 0;
  std::uint64_t start = 0;  // first sector (bytes for parted)
  std::uint64_t size = 0;   // sectors (bytes for parted)
  std::string type;         // upper-case GUID text without braces
  std::string uuid;         // upper-case GUID text without braces
  std::string name;
};

struct PeerTable {
  bool ok = false;  // the tool ran and found a GPT
  std::string diskId;
  std::uint64_t firstUsable = 0;
  std::uint64_t lastUsable = 0;
  std::vector<PeerEntry> entries;
};

// `sfdisk --dump DEVICE`.
PeerTable SfdiskDump(const std::string& device);
// `parted -s -m DEVICE unit B print`: number, start, size (bytes) and name.
PeerTable PartedPrint(const std::string& device);
// `partx --show --raw`: number, start, size, type, uuid and name.
PeerTable PartxShow(const std::string& device);

// `sgdisk -i N DEVICE`: one entry with its attribute flags.
struct SgdiskEntry {
  PeerEntry entry;
  std::uint64_t attributes = 0;
};
std::optional<SgdiskEntry> SgdiskInfo(const std::string& device, unsigned number);

// `sgdisk -p DEVICE`: the disk GUID and how many entries the array holds.
struct SgdiskDisk {
  std::string diskId;
  std::uint32_t entryCount = 0;
  std::uint64_t firstUsable = 0;
  std::uint64_t lastUsable = 0;
};
std::optional<SgdiskDisk> SgdiskPrint(const std::string& device);

// True when `sgdisk -v DEVICE` reports no problem; `report` gets its output.
bool SgdiskVerifies(const std::string& device, std::string* report = nullptr);

}  // namespace kestrin::test
