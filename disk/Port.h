#pragma once
// The device port: the one seam between Kestrin and the operating system's
// disks. Everything above it is portable code. On Windows the port is the
// system itself; on Linux it is answered by Kestrin's own disk stack.
//
// One process-wide port is installed at start-up (`installPort`); tests
// install their own.

#include <cstdint>
#include <string>

#include "ControlCodes.h"
#include "ErrorCodes.h"

namespace kestrin {

// Access rights, sharing and attribute words as the system defines them.
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t FILE_SHARE_READ = 0x1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// An opaque handle; `kInvalidHandle` is what a failed open yields, and
// every request on it fails with ERROR_INVALID_HANDLE.
using DiskHandle = std::intptr_t;
inline constexpr DiskHandle kInvalidHandle = -1;

class DevicePort {
 public:
  virtual ~DevicePort() = default;

  // Opens a disk by its device path. `access` is GENERIC_READ, optionally
  // with GENERIC_WRITE; sharing is always read and write, existing devices
  // only. `attributes` is 0 or FILE_ATTRIBUTE_NORMAL. Returns
  // kInvalidHandle on failure and records the error code.
  virtual DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) = 0;

  // Issues one control request. Returns true on success; on failure the
  // error code is available through LastError until the next port call.
  virtual bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
                           void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) = 0;

  virtual void CloseDisk(DiskHandle handle) = 0;

  // Raw access to an open disk, as the system's ReadFile, WriteFile and
  // FlushFileBuffers on a disk handle: `size` bytes at byte `offset`, both
  // whole sectors (else ERROR_INVALID_PARAMETER), nothing past the disk's end
  // (ERROR_SECTOR_NOT_FOUND). A write needs a handle opened for writing and is
  // stable only after FlushDisk. Each returns true on success; on failure the
  // error code is available through LastError. The tools that read or put
  // back the table sectors themselves (verify, backup, restore) use these;
  // the editing operations never do. A port without raw access (a stand-in
  // that answers control requests only) fails them and leaves LastError as
  // it was.
  virtual bool ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                        std::uint32_t* bytesRead);
  virtual bool WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                         std::uint32_t* bytesWritten);
  virtual bool FlushDisk(DiskHandle handle);

  // The error code of the last failed call of this port.
  virtual std::uint32_t LastError() const = 0;

  // The platform's message text for an error code, untrimmed.
  virtual std::string ErrorMessage(std::uint32_t code) const = 0;
};

// The process-wide port. `installPort` does not take ownership; the port
// must outlive every call made through it. Returns the previous port.
DevicePort* installPort(DevicePort* port);
DevicePort& port();

// Installs a port for the lifetime of the guard and restores the previous
// one afterwards (tests, and programs that build their port on the stack).
class ScopedPort {
 public:
  explicit ScopedPort(DevicePort& port) : m_previous(installPort(&port)) {}
  ~ScopedPort() { installPort(m_previous); }
  ScopedPort(const ScopedPort&) = delete;
  ScopedPort& operator=(const ScopedPort&) = delete;

 private:
  DevicePort* m_previous;
};

}  // namespace kestrin
