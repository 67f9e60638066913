#pragma once
// The disk map: which medium answers which disk number. Programs take
// `--disk PATH` options, an image file or a block device (the first is disk
// 0, the next disk 1, ...); `--sector-size N` (512 or 4096) applies to the
// image files of the `--disk` options after it, a block device always has
// its own. Without any `--disk` option the programs serve the machine's
// whole disks (DefaultDiskMap, DiskEnumeration.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrin {

struct DiskSpec {
  std::string path;
  std::uint32_t sectorSize = 0;  // 0: detect from the image; unused for a block device
};

using DiskMap = std::vector<DiskSpec>;

// Takes the disk options out of `args` (everything else stays, in order).
// Returns an error text for a malformed option, else nullopt.
std::optional<std::string> TakeDiskOptions(std::vector<std::string>& args, DiskMap& map);

// The disk number of a device path "\\.\PhysicalDrive<n>" (compared without
// regard to case), or -1 when the text is no such path.
int DiskNumberOfPath(const std::string& path);

}  // namespace kestrin
