#include "Win32Port.h"

#include <cstdint>
#include <functional>

#include "Utf16.h"

namespace kestrin {

namespace {

// FormatMessageW takes at most 64 KiB of buffer.
constexpr std::uint32_t kMessageCapacity = 32 * 1024 - 1;

void* toSystemHandle(DiskHandle handle) { return reinterpret_cast<void*>(handle); }

}  // namespace

bool Win32Port::fail(std::uint32_t error) {
  m_lastError = error;
  return false;
}

DiskHandle Win32Port::OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) {
  if (path.find('\0') != std::string::npos) {
    fail(kErrorInvalidName);
    return kInvalidHandle;
  }
  const std::u16string widePath = Utf8ToUtf16(path);
  void* handle = m_system.createFile(widePath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     kOpenExisting, attributes, nullptr);
  if (handle == kInvalidSystemHandle) {
    fail(m_system.getLastError());
    return kInvalidHandle;
  }
  return reinterpret_cast<DiskHandle>(handle);
}

bool Win32Port::DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
                            void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) {
  if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  // A synchronous DeviceIoControl needs somewhere to put the byte count even
  // when the caller does not want it.
  std::uint32_t returned = 0;
  // The system does not write the input buffer; its signature is merely not const.
  const bool ok = m_system.deviceIoControl(toSystemHandle(handle), code, const_cast<void*>(input), inputSize, output,
                                           outputSize, &returned, nullptr);
  if (!ok) fail(m_system.getLastError());
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return ok;
}

bool Win32Port::seek(DiskHandle handle, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return fail(ERROR_INVALID_PARAMETER);
  if (m_system.setFilePointerEx(toSystemHandle(handle), static_cast<std::int64_t>(offset), nullptr, kFileBegin)) {
    return true;
  }
  return fail(m_system.getLastError());
}

bool Win32Port::transfer(DiskHandle handle, std::uint64_t offset, bool bufferGiven, std::uint32_t* done,
                         const std::function<bool(void*, std::uint32_t*)>& call) {
  std::uint32_t moved = 0;
  if (done != nullptr) *done = 0;
  if (!bufferGiven) return fail(ERROR_INVALID_PARAMETER);
  if (!seek(handle, offset)) return false;
  if (!call(toSystemHandle(handle), &moved)) return fail(m_system.getLastError());
  if (done != nullptr) *done = moved;
  return true;
}

bool Win32Port::ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                         std::uint32_t* bytesRead) {
  return transfer(handle, offset, buffer != nullptr || size == 0, bytesRead, [&](void* system, std::uint32_t* moved) {
    return m_system.readFile(system, buffer, size, moved, nullptr);
  });
}

bool Win32Port::WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                          std::uint32_t* bytesWritten) {
  return transfer(
      handle, offset, buffer != nullptr || size == 0, bytesWritten,
      [&](void* system, std::uint32_t* moved) { return m_system.writeFile(system, buffer, size, moved, nullptr); });
}

bool Win32Port::FlushDisk(DiskHandle handle) {
  if (m_system.flushFileBuffers(toSystemHandle(handle))) return true;
  return fail(m_system.getLastError());
}

void Win32Port::CloseDisk(DiskHandle handle) {
  if (handle == kInvalidHandle) return;
  if (!m_system.closeHandle(toSystemHandle(handle))) fail(m_system.getLastError());
}

std::string Win32Port::ErrorMessage(std::uint32_t code) const {
  std::u16string text(kMessageCapacity, u'\0');
  // Language 0 lets the system choose: the thread's, then the user's, then
  // the system's language.
  const std::uint32_t length = m_system.formatMessage(kFormatMessageFromSystem | kFormatMessageIgnoreInserts, nullptr,
                                                      code, 0, text.data(), kMessageCapacity, nullptr);
  if (length == 0 || length > kMessageCapacity) return "Unknown error " + std::to_string(code) + ".";
  text.resize(length);
  return Utf16ToUtf8(text);
}

}  // namespace kestrin
