#include "Win32Port.h"

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

void Win32Port::CloseDisk(DiskHandle handle) {
  if (handle == kInvalidHandle) return;
  if (!m_system.closeHandle(toSystemHandle(handle))) fail(m_system.getLastError());
}

std::string Win32Port::ErrorMessage(std::uint32_t code) const {
  std::u16string text(kMessageCapacity, u'\0');
  // Language 0 lets the system choose: the thread's, then the user's, then
  // the system's language.
  const std::uint32_t length = m_system.formatMessage(kFormatMessageFromSystem | kFormatMessageIgnoreInserts,
                                                      nullptr, code, 0, text.data(), kMessageCapacity, nullptr);
  if (length == 0 || length > kMessageCapacity) return "Unknown error " + std::to_string(code) + ".";
  text.resize(length);
  return Utf16ToUtf8(text);
}

}  // namespace kestrin
