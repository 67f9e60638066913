// The operating system behind the Win32System interface. Each method is the
// call of its name, with the wide-character text copied between char16_t and
// wchar_t (both 16 bits here, but distinct types).

#include <windows.h>

#include <string>

#include "Win32System.h"

namespace kestrin {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kFormatMessageFromSystem == FORMAT_MESSAGE_FROM_SYSTEM);
static_assert(kFormatMessageIgnoreInserts == FORMAT_MESSAGE_IGNORE_INSERTS);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kFileBegin == FILE_BEGIN);

namespace {

class OperatingSystem final : public Win32System {
 public:
  void* createFile(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t creation, std::uint32_t flagsAndAttributes, void* templateFile) override {
    const std::u16string_view text(path);
    const std::wstring widePath(text.begin(), text.end());
    return ::CreateFileW(widePath.c_str(), access, share, static_cast<LPSECURITY_ATTRIBUTES>(security), creation,
                         flagsAndAttributes, static_cast<HANDLE>(templateFile));
  }

  bool deviceIoControl(void* handle, std::uint32_t code, void* input, std::uint32_t inputSize, void* output,
                       std::uint32_t outputSize, std::uint32_t* bytesReturned, void* overlapped) override {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(static_cast<HANDLE>(handle), code, input, inputSize, output, outputSize,
                                      &returned, static_cast<LPOVERLAPPED>(overlapped));
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok != FALSE;
  }

  bool closeHandle(void* handle) override { return ::CloseHandle(static_cast<HANDLE>(handle)) != FALSE; }

  bool setFilePointerEx(void* handle, std::int64_t distance, std::int64_t* newPosition,
                        std::uint32_t moveMethod) override {
    LARGE_INTEGER to;
    to.QuadPart = distance;
    LARGE_INTEGER now;
    const BOOL ok = ::SetFilePointerEx(static_cast<HANDLE>(handle), to, &now, moveMethod);
    if (ok && newPosition != nullptr) *newPosition = now.QuadPart;
    return ok != FALSE;
  }

  bool readFile(void* handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead, void* overlapped) override {
    DWORD done = 0;
    const BOOL ok = ::ReadFile(static_cast<HANDLE>(handle), buffer, size, &done, static_cast<LPOVERLAPPED>(overlapped));
    if (bytesRead != nullptr) *bytesRead = done;
    return ok != FALSE;
  }

  bool writeFile(void* handle, const void* buffer, std::uint32_t size, std::uint32_t* bytesWritten,
                 void* overlapped) override {
    DWORD done = 0;
    const BOOL ok =
        ::WriteFile(static_cast<HANDLE>(handle), buffer, size, &done, static_cast<LPOVERLAPPED>(overlapped));
    if (bytesWritten != nullptr) *bytesWritten = done;
    return ok != FALSE;
  }

  bool flushFileBuffers(void* handle) override { return ::FlushFileBuffers(static_cast<HANDLE>(handle)) != FALSE; }

  std::uint32_t getLastError() override { return ::GetLastError(); }

  std::uint32_t formatMessage(std::uint32_t flags, const void* source, std::uint32_t messageId,
                              std::uint32_t languageId, char16_t* buffer, std::uint32_t size,
                              void* arguments) override {
    std::wstring wide(size, L'\0');
    const DWORD length =
        ::FormatMessageW(flags, source, messageId, languageId, wide.data(), size, static_cast<va_list*>(arguments));
    for (DWORD i = 0; i < length && i < size; ++i) buffer[i] = static_cast<char16_t>(wide[i]);
    return length;
  }
};

}  // namespace

Win32System& NativeSystem() {
  static OperatingSystem system;
  return system;
}

}  // namespace kestrin
