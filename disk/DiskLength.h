#pragma once
// The length of a disk.

#include <cstdint>
#include <string>

#include "Port.h"

namespace kestrin {

// IOCTL_DISK_GET_LENGTH_INFO on an open handle; 0 when the request fails.
std::int64_t GetDiskLength(DiskHandle handle);
// Opens `path` read-only and returns its length, 0 when it cannot be read.
std::int64_t GetDiskLengthByPath(std::string path);

}  // namespace kestrin
