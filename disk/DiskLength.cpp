#include "DiskLength.h"

#include <array>

#include "ByteOrder.h"
#include "RequestRecords.h"

namespace kestrin {

std::int64_t GetDiskLength(DiskHandle handle) {
  std::array<std::uint8_t, kLengthInformationSize> info{};
  std::uint32_t returned = 0;
  if (!port().DiskControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, info.data(),
                          static_cast<std::uint32_t>(info.size()), &returned)) {
    return 0;
  }
  return readLeI64(info, 0);
}

std::int64_t GetDiskLengthByPath(std::string path) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  std::int64_t length = GetDiskLength(handle);
  p.CloseDisk(handle);
  return length;
}

}  // namespace kestrin
