#include "ImageMedium.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>
#include <vector>

#include "LayoutCodec.h"
#include "Port.h"
#include "Utf16.h"

// After the project's headers: the system defines the error codes and
// access words as macros of the same names and values.
#include <windows.h>

namespace kestrin {

namespace {

// The lock is one byte far past any data a file can hold (4 EiB in): it
// orders Kestrin's own processes, as the advisory lock does on Linux, and
// never keeps another program from reading or writing the image itself.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;
constexpr DWORD kLockLength = 1;
constexpr std::chrono::milliseconds kLockRetry{10};
// ReadFile and WriteFile move at most this much per call.
constexpr std::size_t kMaxTransfer = 1u << 30;
constexpr std::size_t kDetectionBytes = 8192;

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::wstring widePath(const std::string& path) {
  const std::u16string text = Utf8ToUtf16(path);
  return std::wstring(text.begin(), text.end());
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// "\\.\..." names the system's devices (disks, volumes, ports); "\\?\" is
// only the long form of an ordinary path when a drive letter or UNC follows.
bool isDevicePath(std::string_view path) {
  auto startsWith = [&path](std::string_view prefix) {
    return path.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), path.begin(),
                                                      [](char a, char b) { return (a == '/' ? '\\' : a) == b; });
  };
  if (startsWith("\\\\.\\")) return true;
  if (!startsWith("\\\\?\\")) return false;
  const std::string_view rest = path.substr(4);
  const bool driveLetter = rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':';
  const bool unc = rest.size() >= 4 && (rest.substr(0, 4) == "UNC\\" || rest.substr(0, 4) == "unc\\");
  return !driveLetter && !unc;
}

std::string baseName(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Whole sectors inside the medium, or the error the request fails with.
std::uint32_t checkRange(std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba, std::size_t bytes) {
  if (bytes % sectorSize != 0) return ERROR_INVALID_PARAMETER;
  const std::uint64_t count = bytes / sectorSize;
  if (lba > sectorCount || count > sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  return ERROR_SUCCESS;
}

// What one ReadFile or WriteFile moved: bytes, or the error it failed with.
struct Moved {
  DWORD bytes;
  std::uint32_t error;
};

// Moves `size` bytes in calls of at most kMaxTransfer bytes: `call(done,
// chunk)` moves the next `chunk` after the first `done`. Stops at the first
// error, and with `stalled` when a call moves nothing.
template <typename Call>
std::uint32_t transfer(std::size_t size, std::uint32_t stalled, Call call) {
  std::size_t done = 0;
  while (done < size) {
    const Moved moved = call(done, static_cast<DWORD>(std::min(size - done, kMaxTransfer)));
    if (moved.error != ERROR_SUCCESS) return moved.error;
    if (moved.bytes == 0) return stalled;
    done += moved.bytes;
  }
  return ERROR_SUCCESS;
}

// Reads as much of the first `size` bytes as the file holds; the rest stays zero.
std::vector<std::uint8_t> readHead(HANDLE file, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0);
  OVERLAPPED start = at(0);
  DWORD read = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(size), &read, &start);
  return bytes;
}

// The stack's error code for a system error code from the file calls: the
// codes the stack names pass through, the others become the nearest of
// them (a missing folder is a missing image, anything unknown an I/O error).
std::uint32_t ErrorFromSystem(std::uint32_t systemError) {
  switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ERROR_FILE_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_READY:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_DISK_FULL:
    case ERROR_INVALID_PARAMETER:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DIRECTORY:
      return systemError;
    case ERROR_SHARING_VIOLATION:
      return ERROR_LOCK_VIOLATION;
    case ERROR_OUTOFMEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ERROR_HANDLE_EOF:
      return ERROR_SECTOR_NOT_FOUND;
    default:
      return ERROR_IO_DEVICE;
  }
}

}  // namespace

std::unique_ptr<ImageMedium> ImageMedium::open(const std::string& path, bool writable, std::uint32_t sectorSize,
                                               std::uint32_t& error) {
  if (path.find('\0') != std::string::npos) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  if (isDevicePath(path)) {
    error = ERROR_BAD_DEVICE;
    return nullptr;
  }
  const std::wstring wide = widePath(path);
  // Checked before the open: a directory opens only with backup rights, and
  // would then fail as access denied.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = ErrorFromSystem(::GetLastError());
    return nullptr;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_DIRECTORY;
    return nullptr;
  }
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    error = ERROR_BAD_DEVICE;
    return nullptr;
  }
  // Whether the disk is read-only depends on the file, not on how this
  // handle opens it: a read-only open of a writable image is a writable disk.
  bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  auto openFile = [&wide](DWORD access) {
    return ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE file = INVALID_HANDLE_VALUE;
  if (writable && !readOnly) file = openFile(GENERIC_READ | GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE && writable) {
    // An image the user cannot write is a read-only disk, not a missing one.
    const DWORD refused = ::GetLastError();
    if (!readOnly && refused != ERROR_ACCESS_DENIED && refused != ERROR_WRITE_PROTECT) {
      error = ErrorFromSystem(refused);
      return nullptr;
    }
    readOnly = true;
    writable = false;
  }
  if (file == INVALID_HANDLE_VALUE) file = openFile(GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) {
    error = ErrorFromSystem(::GetLastError());
    return nullptr;
  }
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    ::CloseHandle(file);
    error = ERROR_BAD_DEVICE;
    return nullptr;
  }
  if (sectorSize == 0) sectorSize = DetectSectorSize(readHead(file, kDetectionBytes));
  const std::uint64_t count = static_cast<std::uint64_t>(size.QuadPart) / sectorSize;
  error = ERROR_SUCCESS;
  return std::unique_ptr<ImageMedium>(
      new ImageMedium(reinterpret_cast<std::intptr_t>(file), writable, readOnly, sectorSize, count, baseName(path)));
}

ImageMedium::~ImageMedium() { ::CloseHandle(handleOf(m_file)); }

std::uint32_t ImageMedium::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (std::uint32_t error = checkRange(m_sectorSize, m_sectorCount, lba, out.size()); error != ERROR_SUCCESS) {
    return error;
  }
  return transfer(out.size(), ERROR_SECTOR_NOT_FOUND, [&](std::size_t done, DWORD chunk) {
    OVERLAPPED position = at(lba * m_sectorSize + done);
    DWORD read = 0;
    if (::ReadFile(handleOf(m_file), out.data() + done, chunk, &read, &position)) return Moved{read, ERROR_SUCCESS};
    // A drive whose medium is gone is not ready rather than broken.
    const DWORD failure = ::GetLastError();
    return Moved{
        0, failure == ERROR_HANDLE_EOF || failure == ERROR_NOT_READY ? ErrorFromSystem(failure) : ERROR_READ_FAULT};
  });
}

std::uint32_t ImageMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (m_readOnly) return ERROR_WRITE_PROTECT;
  if (!m_writable) return ERROR_ACCESS_DENIED;
  if (std::uint32_t error = checkRange(m_sectorSize, m_sectorCount, lba, data.size()); error != ERROR_SUCCESS) {
    return error;
  }
  return transfer(data.size(), ERROR_WRITE_FAULT, [&](std::size_t done, DWORD chunk) {
    OVERLAPPED position = at(lba * m_sectorSize + done);
    DWORD written = 0;
    if (::WriteFile(handleOf(m_file), data.data() + done, chunk, &written, &position)) {
      return Moved{written, ERROR_SUCCESS};
    }
    return Moved{0, ErrorFromSystem(::GetLastError())};
  });
}

std::uint32_t ImageMedium::flush() {
  // A handle that never wrote has nothing to make stable (and the system
  // refuses to flush a handle opened for reading).
  if (!m_writable) return ERROR_SUCCESS;
  return ::FlushFileBuffers(handleOf(m_file)) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

std::uint32_t ImageMedium::lock(LockMode mode, std::chrono::milliseconds wait) {
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
  if (mode == LockMode::Exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
  // Asked without waiting and again after short pauses: a waiting
  // LockFileEx has no time limit of its own.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    OVERLAPPED start = at(kLockOffset);
    if (::LockFileEx(handleOf(m_file), flags, 0, kLockLength, 0, &start)) return ERROR_SUCCESS;
    const DWORD refused = ::GetLastError();
    if (refused != ERROR_LOCK_VIOLATION && refused != ERROR_IO_PENDING) return ERROR_LOCK_VIOLATION;
    if (std::chrono::steady_clock::now() >= deadline) return ERROR_BUSY;
    ::Sleep(static_cast<DWORD>(kLockRetry.count()));
  }
}

}  // namespace kestrin
