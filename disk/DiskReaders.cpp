#include "DiskReaders.h"

#include "Errors.h"
#include "GrowingRecord.h"
#include "Port.h"
#include "RequestFailure.h"

namespace kestrin {

namespace {

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX into `buffer` on an open handle; the
// request's error code, taken at once.
std::uint32_t readLayout(DevicePort& p, DiskHandle handle, LayoutBuffer& buffer) {
  std::uint32_t returned = 0;
  const bool ok =
      p.DiskControl(handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), buffer.size(), &returned);
  return ok ? ERROR_SUCCESS : p.LastError();
}

[[noreturn]] void raiseLayoutFailure(std::uint32_t error) {
  throw KestrinError(RequestFailureText("IOCTL_DISK_GET_DRIVE_LAYOUT_EX", error));
}

}  // namespace

bool GetDriveLayout(std::string path, LayoutBuffer& buffer) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  const std::uint32_t error = readLayout(p, handle, buffer);
  p.CloseDisk(handle);
  if (error != ERROR_SUCCESS) raiseLayoutFailure(error);
  return true;
}

LayoutBuffer GetWholeDriveLayout(const std::string& path) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  LayoutBuffer buffer;
  const std::uint32_t error =
      ReadWithGrowingRecord(buffer, [&](LayoutBuffer& record) { return readLayout(p, handle, record); });
  p.CloseDisk(handle);
  if (error != ERROR_SUCCESS) raiseLayoutFailure(error);
  return buffer;
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
