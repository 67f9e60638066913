#pragma once
// Resizing a partition in place: the one entry operation of either style
// that changes an entry's length and nothing else.

#include <cstdint>
#include <functional>
#include <string>

#include "LayoutBuffer.h"

namespace kestrin {

// The new length in bytes of the partition of slot `entry` of `layout`, the
// layout as this call read it. May raise (a KestrinError saying why there is
// none); nothing is written then.
using NewLength = std::function<std::int64_t(const LayoutBuffer& layout, int entry)>;

// Gives the partition of slot `entry` of a disk of partition style `style`
// the length `newLength` works out, at the same start; its type, boot flag,
// GUIDs, attributes and name stay. EditDriveLayout: a layout of another
// style or an entry not in use is refused with its message, the write
// (which the disk stack judges: a partition that runs into another, or out
// of the disk, the usable area or the extended partition, and a partition
// in use that would shrink, are refused there) shows its failure; an entry
// number outside 1 .. 64 is refused before the disk is opened.
bool ResizePartition(std::string path, std::uint32_t style, std::uint8_t entry, const NewLength& newLength);

}  // namespace kestrin
