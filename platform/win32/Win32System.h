#pragma once
// The handful of system calls the Windows port makes, behind an interface so
// that the port's own work (path conversion, handle mapping, taking the error
// code at once, message text) can be checked against a stand-in system, on
// any platform. Each method has the signature of the call it stands for, in
// portable types: a HANDLE is `void*`, a DWORD `std::uint32_t`, a BOOL `bool`
// and a wide character `char16_t`.

#include <cstdint>

namespace kestrin {

// The system's values for the arguments the port passes (named in our own
// way: the system headers define its names as macros).
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kFormatMessageIgnoreInserts = 0x200;
inline constexpr std::uint32_t kFormatMessageFromSystem = 0x1000;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kFileBegin = 0;

// INVALID_HANDLE_VALUE, what CreateFileW returns when it fails. Its integer
// value, -1, is kInvalidHandle, so a port handle is the system handle itself.
inline void* const kInvalidSystemHandle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));

class Win32System {
 public:
  virtual ~Win32System() = default;

  // CreateFileW. `path` is NUL-terminated UTF-16.
  virtual void* createFile(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                           std::uint32_t creation, std::uint32_t flagsAndAttributes, void* templateFile) = 0;

  // DeviceIoControl.
  virtual bool deviceIoControl(void* handle, std::uint32_t code, void* input, std::uint32_t inputSize, void* output,
                               std::uint32_t outputSize, std::uint32_t* bytesReturned, void* overlapped) = 0;

  // CloseHandle.
  virtual bool closeHandle(void* handle) = 0;

  // SetFilePointerEx; `newPosition` may be null. The raw calls below have
  // stand-ins that fail, so that a stand-in system for the control requests
  // alone needs none of them.
  virtual bool setFilePointerEx(void* handle, std::int64_t distance, std::int64_t* newPosition,
                                std::uint32_t moveMethod);

  // ReadFile and WriteFile, synchronous (`overlapped` is null).
  virtual bool readFile(void* handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead, void* overlapped);
  virtual bool writeFile(void* handle, const void* buffer, std::uint32_t size, std::uint32_t* bytesWritten,
                         void* overlapped);

  // FlushFileBuffers.
  virtual bool flushFileBuffers(void* handle);

  // GetLastError.
  virtual std::uint32_t getLastError() = 0;

  // FormatMessageW into a caller's buffer of `size` characters; returns the
  // number of characters written, without the terminating NUL, or 0.
  virtual std::uint32_t formatMessage(std::uint32_t flags, const void* source, std::uint32_t messageId,
                                      std::uint32_t languageId, char16_t* buffer, std::uint32_t size,
                                      void* arguments) = 0;
};

inline bool Win32System::setFilePointerEx(void*, std::int64_t, std::int64_t*, std::uint32_t) { return false; }
inline bool Win32System::readFile(void*, void*, std::uint32_t, std::uint32_t*, void*) { return false; }
inline bool Win32System::writeFile(void*, const void*, std::uint32_t, std::uint32_t*, void*) { return false; }
inline bool Win32System::flushFileBuffers(void*) { return false; }

#ifdef _WIN32
// The operating system itself. Lives for the whole process.
Win32System& NativeSystem();
#endif

}  // namespace kestrin
