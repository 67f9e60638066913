// The Windows port over the operating system itself (under Wine in the
// cross build), on plain files of a temporary folder, never on a disk: the
// path reaches the system intact, only existing files open, the port's
// handles share reading and writing and are released on close, and the
// error codes and texts are the system's.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Port.h"
#include "SystemPort.h"
#include "TestSupport.h"
#include "Win32Port.h"
#include "Win32System.h"

// After the project's headers: the system's names (GENERIC_READ, ...) are
// macros, used below in their place.
#include <windows.h>

namespace {

using kestrin::DiskHandle;
using kestrin::Win32Port;

// The port over the system itself, on plain files of a temporary folder:
// never on a disk.

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class Win32PortOnTheSystem : public ::testing::Test {
 protected:
  kestrin::test::TempDir m_dir;
  Win32Port m_port{kestrin::NativeSystem()};

  std::filesystem::path makeFile(const std::u8string& name) {
    // Through the path itself: a narrow name would pass the ANSI code page.
    const std::filesystem::path path = m_dir.path() / std::filesystem::path(name);
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, 4096);
    return path;
  }
};

TEST_F(Win32PortOnTheSystem, OpensOnlyWhatExistsAndCreatesNothing) {
  const std::filesystem::path missing = m_dir.path() / "missing.img";
  EXPECT_EQ(m_port.OpenDisk(utf8(missing), GENERIC_READ | GENERIC_WRITE,
                            FILE_ATTRIBUTE_NORMAL),
            kestrin::kInvalidHandle);
  EXPECT_EQ(m_port.LastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(Win32PortOnTheSystem, OpensAFileWhoseNameIsNotAscii) {
  const std::filesystem::path path = makeFile(u8"Données 😀 日本.img");
  const DiskHandle handle = m_port.OpenDisk(utf8(path), GENERIC_READ, 0);
  ASSERT_NE(handle, kestrin::kInvalidHandle) << "error " << m_port.LastError();
  m_port.CloseDisk(handle);
}

TEST_F(Win32PortOnTheSystem, SharesReadAndWriteAndReleasesOnClose) {
  const std::filesystem::path path = makeFile(u8"shared.img");
  const DiskHandle first = m_port.OpenDisk(utf8(path), GENERIC_READ | GENERIC_WRITE, 0);
  const DiskHandle second = m_port.OpenDisk(utf8(path), GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(first, kestrin::kInvalidHandle);
  ASSERT_NE(second, kestrin::kInvalidHandle);

  // An open that shares nothing is refused while the port holds the file...
  HANDLE exclusive = ::CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (exclusive != INVALID_HANDLE_VALUE) ::CloseHandle(exclusive);

  // ... and granted once the port has closed both handles.
  m_port.CloseDisk(first);
  m_port.CloseDisk(second);
  exclusive = ::CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  if (exclusive != INVALID_HANDLE_VALUE) ::CloseHandle(exclusive);
}

TEST_F(Win32PortOnTheSystem, ARequestOnTheInvalidHandleFailsWithTheInvalidHandleCode) {
  std::array<std::uint8_t, 8> length{};
  EXPECT_FALSE(m_port.DiskControl(kestrin::kInvalidHandle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0,
                                  length.data(), 8, nullptr));
  EXPECT_EQ(m_port.LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  m_port.CloseDisk(kestrin::kInvalidHandle);
}

TEST_F(Win32PortOnTheSystem, ErrorTextIsTheSystemsMessageInUtf8) {
  std::array<wchar_t, 4096> wide{};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        ERROR_INVALID_HANDLE, 0, wide.data(), static_cast<DWORD>(wide.size()), nullptr);
  ASSERT_GT(length, 0u);
  std::string expected(length * 3, '\0');
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), expected.data(),
                                          static_cast<int>(expected.size()), nullptr, nullptr);
  expected.resize(static_cast<std::size_t>(bytes));
  EXPECT_EQ(m_port.ErrorMessage(ERROR_INVALID_HANDLE), expected);
}

TEST_F(Win32PortOnTheSystem, TheProgramsPortIsTheSystemWithoutDiskOptions) {
  std::vector<std::string> args = {"list"};
  std::string error = "stale";
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(args, (std::vector<std::string>{"list"}));

  const std::filesystem::path path = makeFile(u8"length.img");
  const DiskHandle handle = port->OpenDisk(utf8(path), GENERIC_READ, 0);
  EXPECT_NE(handle, kestrin::kInvalidHandle);
  port->CloseDisk(handle);
}

TEST_F(Win32PortOnTheSystem, TheProgramsPortServesTheImagesOfDiskOptions) {
  const std::filesystem::path path = makeFile(u8"disk\u00e9.img");
  std::vector<std::string> args = {"--disk", utf8(path), "list"};
  std::string error = "stale";
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(args, (std::vector<std::string>{"list"}));

  const DiskHandle handle = port->OpenDisk("\\\\.\\PhysicalDrive0", GENERIC_READ, 0);
  EXPECT_NE(handle, kestrin::kInvalidHandle);
  port->CloseDisk(handle);
  // Only the images are disks then: the file's own path is none.
  EXPECT_EQ(port->OpenDisk(utf8(path), GENERIC_READ, 0), kestrin::kInvalidHandle);
  EXPECT_EQ(port->LastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
}


}  // namespace
