#pragma once
// The content of the disk chooser as data: one row per disk number 0 .. 15
// that can be opened, in ascending order. The chooser window only renders
// these rows into its list.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrin {

// Disk numbers probed by the chooser: \\.\physicaldrive0 .. 15, no more.
inline constexpr int kDiskListProbeCount = 16;
inline constexpr std::int64_t kBytesPerMegabyte = 1048576;

// One row, a text per column of the chooser's list.
struct DiskListRow {
  std::string number;      // "#": the disk number in decimal
  std::string type;        // "Type": always "DISK"
  std::string name;        // "Name": the descriptor's product string
  std::string sizeMb;      // "Size( MB)": the length in bytes / 1048576, remainder dropped
  std::string attributes;  // "Attributes": GetDiskStatusText of the number
  friend bool operator==(const DiskListRow&, const DiskListRow&) = default;
};

// Probes the disk numbers 0 .. 15 (0 .. probeCount - 1: the command line
// lists every disk it was given). A disk that does not open read-only has
// no row; a failed length gives "0", a failed descriptor an empty name and
// failed attributes an empty status. Each listed disk is opened three times,
// once per request: length, descriptor, attributes. Never shows a message.
std::vector<DiskListRow> DiskListRows(int probeCount = kDiskListProbeCount);

}  // namespace kestrin
