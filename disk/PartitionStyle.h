#pragma once
// The partition style of a layout, of each of its slots and of the
// CREATE_DISK record: a 32-bit value.

#include <cstdint>

namespace kestrin {

enum PartitionStyle : std::uint32_t { kStyleMbr = 0, kStyleGpt = 1, kStyleRaw = 2 };

}  // namespace kestrin
