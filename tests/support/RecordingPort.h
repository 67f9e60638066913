#pragma once
// A port for tests: it records every call in order and can fail a chosen
// request with a chosen error code. Without an inner port it answers from an
// in-memory disk (`layout`, `length`, `attributes`); with one it passes
// every call on and records it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "LayoutBuffer.h"
#include "Port.h"

namespace kestrin::test {

struct PortCall {
  enum class Kind { Open, Control, Close, Read, Write, Flush };
  Kind kind = Kind::Open;
  std::string path;                 // Open
  std::uint32_t access = 0;         // Open
  std::uint32_t attributes = 0;     // Open
  DiskHandle handle = 0;            // Control, Close
  std::uint32_t code = 0;           // Control
  std::vector<std::uint8_t> input;  // Control: a copy of the input buffer
  std::uint32_t outputSize = 0;     // Control; Read, Write: the size
  std::uint64_t offset = 0;         // Read, Write
  bool succeeded = false;
};

class RecordingPort : public DevicePort {
 public:
  explicit RecordingPort(DevicePort* inner = nullptr) : m_inner(inner) {}

  // Every later request with `code` fails with `error`.
  void failRequest(std::uint32_t code, std::uint32_t error) { m_failures[code] = error; }
  // Every later open fails with `error`.
  void failOpen(std::uint32_t error) { m_openError = error; }

  // The control codes of the recorded requests, in order.
  std::vector<std::uint32_t> requestCodes() const;
  // The recorded control requests with this code.
  std::vector<PortCall> requests(std::uint32_t code) const;
  std::size_t openCount() const;
  std::size_t closeCount() const;

  std::vector<PortCall> calls;

  // The in-memory disk, used without an inner port.
  LayoutBuffer layout;
  std::int64_t length = 0;
  std::uint64_t attributes = 0;
  // The disk's bytes for the raw calls (ReadDisk, WriteDisk), in sectors of
  // `sectorSize`; also what IOCTL_DISK_GET_DRIVE_GEOMETRY_EX reports.
  std::vector<std::uint8_t> raw;
  std::uint32_t sectorSize = 512;

  DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) override;
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override;
  void CloseDisk(DiskHandle handle) override;
  bool ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                std::uint32_t* bytesRead) override;
  bool WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytesWritten) override;
  bool FlushDisk(DiskHandle handle) override;
  std::uint32_t LastError() const override;
  std::string ErrorMessage(std::uint32_t code) const override;

 private:
  // Records a raw call and runs it on the inner port or on `raw`.
  bool rawCall(PortCall::Kind kind, DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
               std::uint32_t* done);
  bool answer(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output, std::uint32_t outputSize);

  DevicePort* m_inner;
  std::map<std::uint32_t, std::uint32_t> m_failures;
  std::uint32_t m_openError = 0;
  std::uint32_t m_lastError = 0;
  DiskHandle m_nextHandle = 100;
};

}  // namespace kestrin::test
