#include "DiskReaders.h"

#include "Errors.h"
#include "Port.h"
#include "RequestFailure.h"

namespace kestrin {

bool GetDriveLayout(std::string path, LayoutBuffer& buffer) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  std::uint32_t returned = 0;
  bool ok =
      p.DiskControl(handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), buffer.size(), &returned);
  std::uint32_t error = ok ? 0 : p.LastError();
  p.CloseDisk(handle);
  if (!ok) {
    throw KestrinError(RequestFailureText("IOCTL_DISK_GET_DRIVE_LAYOUT_EX", error));
  }
  return true;
}

bool GetDiskAttributes(std::string path, GetDiskAttributesRecord& record) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  std::uint32_t returned = 0;
  bool ok = p.DiskControl(handle, IOCTL_DISK_GET_DISK_ATTRIBUTES, nullptr, 0, record.bytes.data(),
                          static_cast<std::uint32_t>(record.bytes.size()), &returned);
  p.CloseDisk(handle);
  return ok;
}

}  // namespace kestrin
