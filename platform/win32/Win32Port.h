#pragma once
// The port on Windows: the operating system's own disks, reached through
// CreateFileW, DeviceIoControl and CloseHandle. Paths are UTF-8 above the
// port and UTF-16 below it; a port handle is the system handle's value. The
// error code of a failed call is read from the system at once, before the
// port makes any other call, and kept until the next failure.

#include <cstdint>
#include <functional>
#include <string>

#include "Port.h"
#include "Win32System.h"

namespace kestrin {

class Win32Port : public DevicePort {
 public:
  // `system` must outlive the port.
  explicit Win32Port(Win32System& system) : m_system(system) {}

  // Opens with the caller's access and attribute words, sharing read and
  // write, existing devices only, no security record and no template. A path
  // with a NUL inside is refused with ERROR_INVALID_NAME (123) without reaching
  // the system, which would otherwise open the path cut at the NUL.
  DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) override;

  // One synchronous DeviceIoControl. A buffer pointer that is null while its
  // size is not is refused with ERROR_INVALID_PARAMETER.
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override;

  // The file position is set to `offset` (SetFilePointerEx), then one
  // synchronous ReadFile or WriteFile moves `size` bytes; the system checks
  // the sector alignment. The count is what the system reports: a read at
  // the disk's end succeeds with fewer bytes.
  bool ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                std::uint32_t* bytesRead) override;
  bool WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytesWritten) override;
  // FlushFileBuffers.
  bool FlushDisk(DiskHandle handle) override;

  // Closes a handle that an open returned; the invalid handle is left alone
  // (its value is also the current process's pseudo-handle).
  void CloseDisk(DiskHandle handle) override;

  std::uint32_t LastError() const override { return m_lastError; }

  // The system's message text for `code` in the user's language, as UTF-8
  // and untrimmed; "Unknown error <code>." when the system has none.
  std::string ErrorMessage(std::uint32_t code) const override;

 private:
  bool fail(std::uint32_t error);
  // Moves the handle's file position to `offset`; false after recording the error.
  bool seek(DiskHandle handle, std::uint64_t offset);
  // Seeks to `offset`, then runs `call` (ReadFile or WriteFile) on the
  // system handle; `done` gets its count.
  bool transfer(DiskHandle handle, std::uint64_t offset, bool bufferGiven, std::uint32_t* done,
                const std::function<bool(void*, std::uint32_t*)>& call);

  Win32System& m_system;
  std::uint32_t m_lastError = 0;
};

}  // namespace kestrin
