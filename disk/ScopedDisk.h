#pragma once
// An open disk handle that is closed when the operation that opened it
// leaves, on every path: a normal return, a failed request, or an error
// raised on the way. The editing operations hold one per call.

#include <cstdint>

#include "Port.h"

namespace kestrin {

class ScopedDisk {
 public:
  // Takes a handle from `port`. The handle is closed by the destructor even
  // when it is kInvalidHandle: the callers that do not test the open close
  // whatever it gave them, as they would on the system.
  ScopedDisk(DevicePort& port, DiskHandle handle) : m_port(port), m_handle(handle) {}
  ~ScopedDisk() { m_port.CloseDisk(m_handle); }
  ScopedDisk(const ScopedDisk&) = delete;
  ScopedDisk& operator=(const ScopedDisk&) = delete;

  DiskHandle handle() const { return m_handle; }

  // Sends a request without input or output. Returns its result; the error
  // code, when it failed, is then port().LastError() until the next call.
  bool send(std::uint32_t code) const {
    std::uint32_t returned = 0;
    return m_port.DiskControl(m_handle, code, nullptr, 0, nullptr, 0, &returned);
  }

  // For the requests whose outcome changes nothing (dismount, update).
  void sendIgnoringResult(std::uint32_t code) const { static_cast<void>(send(code)); }

 private:
  DevicePort& m_port;
  DiskHandle m_handle;
};

}  // namespace kestrin
