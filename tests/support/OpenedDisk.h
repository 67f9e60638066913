#pragma once
// A disk opened through a port for the scope of one object, and its
// requests, for tests that talk to a port the way the readers and the
// operations do: open, request, close.

#include <cstdint>
#include <string>

#include "ControlCodes.h"
#include "LayoutBuffer.h"
#include "Port.h"

namespace kestrin::test {

class OpenedDisk {
 public:
  OpenedDisk(DevicePort& port, std::uint32_t access, std::uint32_t attributes = FILE_ATTRIBUTE_NORMAL,
             const std::string& path = "\\\\.\\PhysicalDrive0")
      : m_port(port), m_handle(port.OpenDisk(path, access, attributes)) {}
  ~OpenedDisk() { m_port.CloseDisk(m_handle); }
  OpenedDisk(const OpenedDisk&) = delete;
  OpenedDisk& operator=(const OpenedDisk&) = delete;

  bool valid() const { return m_handle != kInvalidHandle; }
  // Issues a request; 0 on success, else the port's error code.
  std::uint32_t request(std::uint32_t code, const void* input = nullptr, std::uint32_t inputSize = 0,
                        void* output = nullptr, std::uint32_t outputSize = 0) {
    return m_port.DiskControl(m_handle, code, input, inputSize, output, outputSize, nullptr) ? ERROR_SUCCESS
                                                                                             : m_port.LastError();
  }
  std::uint32_t readLayout(LayoutBuffer& layout) {
    return request(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(), layout.size());
  }
  std::uint32_t writeLayout(const LayoutBuffer& layout) {
    return request(IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout.data(), layout.size());
  }

 private:
  DevicePort& m_port;
  DiskHandle m_handle;
};

}  // namespace kestrin::test
