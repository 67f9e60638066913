#include "lib.h"

#include "Errors.h"
#include "Port.h"

namespace kestrin {

std::string SystemErrorText(std::uint32_t code) {
  std::string text = port().ErrorMessage(code);
  while (!text.empty()) {
    auto c = static_cast<unsigned char>(text.back());
    if (c <= 0x20 || c == 0x7F || c == '.') {
      text.pop_back();
    } else {
      break;
    }
  }
  return text;
}

std::string RequestFailureText(const char* requestName, std::uint32_t code) {
  return std::string(requestName) + " failed:" + SystemErrorText(code);
}

bool GetDriveLayout(std::string path, LayoutBuffer& buffer) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  std::uint32_t returned = 0;
  bool ok = p.DiskControl(handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), LayoutBuffer::size(), &returned);
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
