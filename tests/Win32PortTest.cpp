// The Windows port: what it hands the system for each port call (path in
// UTF-16, sharing, existing devices only, no security record or template,
// a count for every request), how it maps handles, when it takes the error
// code, and the message text it gives back. A stand-in system records the
// calls. (WindowsPortTest runs the same port over the system itself.)

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Errors.h"
#include "LayoutBuffer.h"
#include "Port.h"
#include "TestSupport.h"
#include "Win32Port.h"
#include "Win32System.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace {

using kestrin::DiskHandle;

// Stand-in error codes (the system's values for these conditions).
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorFileNotFound = 2;
// What the stand-in's CloseHandle leaves as the thread's last error, as
// later system calls may: never to be reported for an earlier failure.
constexpr std::uint32_t kErrorLeftByClose = 0xBAD;

struct CreateFileCall {
  std::u16string path;
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  void* security = nullptr;
  std::uint32_t creation = 0;
  std::uint32_t flagsAndAttributes = 0;
  void* templateFile = nullptr;
};

struct IoControlCall {
  void* handle = nullptr;
  std::uint32_t code = 0;
  void* input = nullptr;
  std::uint32_t inputSize = 0;
  void* output = nullptr;
  std::uint32_t outputSize = 0;
  bool countGiven = false;
  void* overlapped = nullptr;
};

struct FormatMessageCall {
  std::uint32_t flags = 0;
  const void* source = nullptr;
  std::uint32_t messageId = 0;
  std::uint32_t languageId = 0;
  std::uint32_t size = 0;
  void* arguments = nullptr;
};

// A system with one disk behind any path: a disk of bytes for the raw calls
// (the file position, ReadFile and WriteFile from it, fewer bytes at the end
// as the system does, FlushFileBuffers). Failures are chosen per call; the
// thread's last error behaves as the system's: set by a failing call, and
// also disturbed by the close.
class FakeSystem : public kestrin::Win32System {
 public:
  void* createFile(const char16_t* path, std::uint32_t access, std::uint32_t share, void* security,
                   std::uint32_t creation, std::uint32_t flagsAndAttributes, void* templateFile) override {
    creates.push_back({path, access, share, security, creation, flagsAndAttributes, templateFile});
    if (openError != 0) {
      lastError = openError;
      return kestrin::kInvalidSystemHandle;
    }
    return handleToReturn;
  }

  bool deviceIoControl(void* handle, std::uint32_t code, void* input, std::uint32_t inputSize, void* output,
                       std::uint32_t outputSize, std::uint32_t* bytesReturned, void* overlapped) override {
    ioControls.push_back({handle, code, input, inputSize, output, outputSize, bytesReturned != nullptr, overlapped});
    if (handle == kestrin::kInvalidSystemHandle) return failWith(kErrorInvalidHandle);
    if (auto failure = requestErrors.find(code); failure != requestErrors.end()) return failWith(failure->second);
    const std::size_t count = std::min<std::size_t>(outputSize, answer.size());
    if (count > 0) std::memcpy(output, answer.data(), count);
    if (bytesReturned != nullptr) *bytesReturned = static_cast<std::uint32_t>(count);
    return true;
  }

  bool closeHandle(void* handle) override {
    closed.push_back(handle);
    lastError = kErrorLeftByClose;
    return true;
  }

  std::uint32_t getLastError() override { return lastError; }

  std::uint32_t formatMessage(std::uint32_t flags, const void* source, std::uint32_t messageId,
                              std::uint32_t languageId, char16_t* buffer, std::uint32_t size,
                              void* arguments) override {
    formats.push_back({flags, source, messageId, languageId, size, arguments});
    auto text = messages.find(messageId);
    if (text == messages.end() || text->second.size() + 1 > size) return 0;
    std::copy(text->second.begin(), text->second.end(), buffer);
    buffer[text->second.size()] = u'\0';
    return static_cast<std::uint32_t>(text->second.size());
  }

  bool setFilePointerEx(void* handle, std::int64_t distance, std::int64_t* newPosition,
                        std::uint32_t moveMethod) override {
    seeks.push_back({handle, distance, moveMethod});
    if (seekError != 0) return failWith(seekError);
    position = static_cast<std::size_t>(distance);
    if (newPosition != nullptr) *newPosition = distance;
    return true;
  }
  bool readFile(void*, void* buffer, std::uint32_t size, std::uint32_t* done, void* overlapped) override {
    if (transferError != 0 || overlapped != nullptr) return failWith(transferError);
    *done = static_cast<std::uint32_t>(std::min<std::size_t>(size, disk.size() - std::min(position, disk.size())));
    std::memcpy(buffer, disk.data() + position, *done);
    return true;
  }
  bool writeFile(void*, const void* buffer, std::uint32_t size, std::uint32_t* done, void* overlapped) override {
    if (transferError != 0 || overlapped != nullptr) return failWith(transferError);
    *done = static_cast<std::uint32_t>(std::min<std::size_t>(size, disk.size() - std::min(position, disk.size())));
    std::memcpy(disk.data() + position, buffer, *done);
    return true;
  }
  bool flushFileBuffers(void*) override {
    ++flushes;
    return transferError == 0 || failWith(transferError);
  }
  bool failWith(std::uint32_t error) {
    lastError = error;
    return false;
  }

  // Behaviour.
  void* handleToReturn = reinterpret_cast<void*>(std::intptr_t{0x5678});
  std::uint32_t openError = 0;
  std::map<std::uint32_t, std::uint32_t> requestErrors;
  std::vector<std::uint8_t> answer;  // copied into every output buffer
  std::map<std::uint32_t, std::u16string> messages = {
      {kErrorInvalidHandle, u"Descripteur non valide.\r\n"},
      {kErrorNotReady, u"Le périphérique n’est pas prêt.\r\n"},
      {kErrorFileNotFound, u"Le fichier spécifié est introuvable.\r\n"},
      {kErrorLeftByClose, u"Erreur laissée par la fermeture.\r\n"},
  };
  std::uint32_t lastError = 0;
  std::vector<std::uint8_t> disk = std::vector<std::uint8_t>(4096, 0xA5);
  std::size_t position = 0;
  std::uint32_t seekError = 0;
  std::uint32_t transferError = 0;

  // Record.
  std::vector<CreateFileCall> creates;
  std::vector<IoControlCall> ioControls;
  std::vector<void*> closed;
  std::vector<FormatMessageCall> formats;
  struct Seek {
    void* handle;
    std::int64_t distance;
    std::uint32_t moveMethod;
  };
  std::vector<Seek> seeks;
  int flushes = 0;
};

// The port over a stand-in system, which the tests set up after the port
// exists: the port keeps no more than a reference to it.
class Win32Port : public ::testing::Test {
 protected:
  FakeSystem system;
  kestrin::Win32Port port{system};
};

// Each case over a stand-in of its own, shadowing the fixture's.
TEST_F(Win32Port, RawCallsSeekThenMoveTheBytesAndReportTheSystemsCodeAtOnce) {
  struct Case {
    const char* what;
    bool write;
    std::uint64_t offset;
    std::uint32_t size;
    std::uint32_t seekError;
    std::uint32_t transferError;
    bool ok;
    std::uint32_t done;
  };
  const std::vector<Case> cases{
      {"read", false, 512, 1024, 0, 0, true, 1024},
      {"write", true, 1024, 512, 0, 0, true, 512},
      {"read at the end", false, 3584, 1024, 0, 0, true, 512},
      {"seek refused", false, 512, 512, 87, 0, false, 0},
      {"read refused", false, 0, 512, 0, 23, false, 0},
      {"write refused", true, 0, 512, 0, 19, false, 0},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.seekError = c.seekError;
    system.transferError = c.transferError;
    kestrin::Win32Port port(system);
    const DiskHandle handle = port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_READ | kestrin::GENERIC_WRITE, 0);
    std::vector<std::uint8_t> buffer(c.size, 0x3C);
    std::uint32_t done = 77;
    const bool ok = c.write ? port.WriteDisk(handle, c.offset, buffer.data(), c.size, &done)
                            : port.ReadDisk(handle, c.offset, buffer.data(), c.size, &done);
    port.CloseDisk(handle);  // leaves another code as the thread's last error
    EXPECT_EQ(ok, c.ok) << c.what;
    EXPECT_EQ(done, c.done) << c.what;
    if (!ok) {
      EXPECT_EQ(port.LastError(), c.seekError + c.transferError) << c.what;
    }
    ASSERT_EQ(system.seeks.size(), 1u) << c.what;
    EXPECT_EQ(system.seeks[0].handle, system.handleToReturn) << c.what;
    EXPECT_EQ(static_cast<std::uint64_t>(system.seeks[0].distance), c.offset) << c.what;
    EXPECT_EQ(system.seeks[0].moveMethod, kestrin::kFileBegin) << c.what;
    if (ok && c.write) {
      EXPECT_EQ(system.disk[c.offset], 0x3C) << c.what;
    }
    if (ok && !c.write) {
      EXPECT_EQ(buffer[0], 0xA5) << c.what;
    }
  }
  EXPECT_TRUE(port.FlushDisk(port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_WRITE, 0)));
  EXPECT_EQ(system.flushes, 1);
}

TEST_F(Win32Port, OpensSharingReadAndWriteExistingDevicesOnlyWithoutSecurityOrTemplate) {
  port.OpenDisk("\\\\.\\PhysicalDrive3", kestrin::GENERIC_READ | kestrin::GENERIC_WRITE,
                kestrin::FILE_ATTRIBUTE_NORMAL);
  port.OpenDisk("\\\\.\\physicaldrive12", kestrin::GENERIC_READ, 0);

  ASSERT_EQ(system.creates.size(), 2u);
  const CreateFileCall& write = system.creates[0];
  EXPECT_EQ(write.path, u"\\\\.\\PhysicalDrive3");
  EXPECT_EQ(write.access, 0xC0000000u);
  EXPECT_EQ(write.share, 3u);     // FILE_SHARE_READ | FILE_SHARE_WRITE
  EXPECT_EQ(write.creation, 3u);  // OPEN_EXISTING
  EXPECT_EQ(write.flagsAndAttributes, 0x80u);
  EXPECT_EQ(write.security, nullptr);
  EXPECT_EQ(write.templateFile, nullptr);

  const CreateFileCall& read = system.creates[1];
  EXPECT_EQ(read.path, u"\\\\.\\physicaldrive12");
  EXPECT_EQ(read.access, 0x80000000u);
  EXPECT_EQ(read.share, 3u);
  EXPECT_EQ(read.creation, 3u);
  EXPECT_EQ(read.flagsAndAttributes, 0u);
}

TEST_F(Win32Port, HandsTheSystemTheUtf8PathAsUtf16) {
  port.OpenDisk(reinterpret_cast<const char*>(u8"C:\\Données\\disque 😀 日本.img"), kestrin::GENERIC_READ, 0);
  ASSERT_EQ(system.creates.size(), 1u);
  // The stand-in reads the path up to its NUL, so this also checks the end.
  EXPECT_EQ(system.creates[0].path, u"C:\\Données\\disque 😀 日本.img");
}

TEST_F(Win32Port, RefusesAPathWithANulInsideWithoutAskingTheSystem) {
  const std::string path("\\\\.\\PhysicalDrive1\0.img", 23);
  EXPECT_EQ(port.OpenDisk(path, kestrin::GENERIC_READ, 0), kestrin::kInvalidHandle);
  EXPECT_EQ(port.LastError(), 123u);  // ERROR_INVALID_NAME
  EXPECT_TRUE(system.creates.empty());
}

TEST_F(Win32Port, ThePortHandleIsTheSystemHandleThroughRequestAndClose) {
  system.handleToReturn = reinterpret_cast<void*>(std::intptr_t{0x1F4C});
  const DiskHandle handle = port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_READ, 0);
  EXPECT_EQ(handle, 0x1F4C);
  port.DiskControl(handle, kestrin::IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, nullptr);
  port.CloseDisk(handle);
  ASSERT_EQ(system.ioControls.size(), 1u);
  EXPECT_EQ(system.ioControls[0].handle, system.handleToReturn);
  ASSERT_EQ(system.closed.size(), 1u);
  EXPECT_EQ(system.closed[0], system.handleToReturn);
}

TEST_F(Win32Port, AFailedOpenYieldsTheInvalidHandleAndTheSystemsCode) {
  system.openError = kestrin::ERROR_ACCESS_DENIED;
  EXPECT_EQ(port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_READ, 0), kestrin::kInvalidHandle);
  EXPECT_EQ(port.LastError(), kestrin::ERROR_ACCESS_DENIED);
}

TEST_F(Win32Port, PassesBuffersThroughAndAlwaysGivesTheSystemACountToFill) {
  system.answer = {1, 2, 3, 4, 5, 6, 7, 8};
  const DiskHandle handle = port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_READ, 0);

  const std::array<std::uint8_t, 12> query{};
  std::array<std::uint8_t, 16> output{};
  std::uint32_t returned = 0xFFFF;
  EXPECT_TRUE(
      port.DiskControl(handle, kestrin::IOCTL_STORAGE_QUERY_PROPERTY, query.data(), 12, output.data(), 16, &returned));
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(output[7], 8);
  // Without a caller's count the synchronous request still needs one.
  EXPECT_TRUE(port.DiskControl(handle, kestrin::IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, output.data(), 8, nullptr));

  ASSERT_EQ(system.ioControls.size(), 2u);
  const IoControlCall& first = system.ioControls[0];
  EXPECT_EQ(first.code, kestrin::IOCTL_STORAGE_QUERY_PROPERTY);
  EXPECT_EQ(first.input, query.data());
  EXPECT_EQ(first.inputSize, 12u);
  EXPECT_EQ(first.output, output.data());
  EXPECT_EQ(first.outputSize, 16u);
  EXPECT_EQ(first.overlapped, nullptr);
  const IoControlCall& second = system.ioControls[1];
  EXPECT_EQ(second.input, nullptr);
  EXPECT_EQ(second.inputSize, 0u);
  EXPECT_TRUE(second.countGiven);
  EXPECT_EQ(second.overlapped, nullptr);
}

TEST_F(Win32Port, RefusesANullBufferWithASizeWithoutAskingTheSystem) {
  const DiskHandle handle = port.OpenDisk("\\\\.\\PhysicalDrive0", kestrin::GENERIC_READ, 0);
  std::array<std::uint8_t, 8> buffer{};
  EXPECT_FALSE(port.DiskControl(handle, kestrin::IOCTL_DISK_CREATE_DISK, nullptr, 24, nullptr, 0, nullptr));
  EXPECT_EQ(port.LastError(), kestrin::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(port.DiskControl(handle, kestrin::IOCTL_DISK_GET_LENGTH_INFO, buffer.data(), 0, nullptr, 8, nullptr));
  EXPECT_EQ(port.LastError(), kestrin::ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(system.ioControls.empty());
}

TEST_F(Win32Port, KeepsTheFailedRequestsCodeAcrossTheClose) {
  system.requestErrors[kestrin::IOCTL_DISK_GET_DRIVE_LAYOUT_EX] = kErrorNotReady;
  kestrin::ScopedPort installed(port);
  kestrin::LayoutBuffer layout;
  EXPECT_EQ(
      kestrin::test::ErrorOf<kestrin::KestrinError>([&] { kestrin::GetDriveLayout("\\\\.\\PhysicalDrive1", layout); }),
      reinterpret_cast<const char*>(u8"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Le périphérique n’est pas prêt"));
  EXPECT_EQ(system.closed.size(), 1u);
  EXPECT_EQ(port.LastError(), kErrorNotReady);
}

TEST_F(Win32Port, AMissingDiskFailsAtItsFirstRequestWithTheInvalidHandleText) {
  system.openError = kErrorFileNotFound;
  kestrin::ScopedPort installed(port);

  kestrin::LayoutBuffer layout;
  EXPECT_THROW(
      {
        try {
          kestrin::GetDriveLayout("\\\\.\\PhysicalDrive9", layout);
        } catch (const kestrin::KestrinError& error) {
          EXPECT_STREQ(error.what(), "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Descripteur non valide");
          throw;
        }
      },
      kestrin::KestrinError);
  EXPECT_EQ(kestrin::GetDiskLengthByPath("\\\\.\\PhysicalDrive9"), 0);
  kestrin::GetDiskAttributesRecord attributes;
  EXPECT_FALSE(kestrin::GetDiskAttributes("\\\\.\\PhysicalDrive9", attributes));

  // Every request went to the system on the invalid handle; none was closed.
  ASSERT_EQ(system.ioControls.size(), 3u);
  for (const IoControlCall& call : system.ioControls) EXPECT_EQ(call.handle, kestrin::kInvalidSystemHandle);
  EXPECT_TRUE(system.closed.empty());
}

TEST_F(Win32Port, ReadsTheLayoutIntoTheCallersWholeBuffer) {
  kestrin::LayoutBuffer answer;
  answer.setPartitionStyle(kestrin::kStyleGpt);
  answer.setPartitionCount(2);
  answer.data()[kestrin::kLayoutBufferSize - 1] = 0xA5;
  system.answer.assign(answer.data(), answer.data() + kestrin::kLayoutBufferSize);
  kestrin::ScopedPort installed(port);

  kestrin::LayoutBuffer layout;
  EXPECT_TRUE(kestrin::GetDriveLayout("\\\\.\\PhysicalDrive0", layout));
  EXPECT_EQ(layout.partitionStyle(), kestrin::kStyleGpt);
  EXPECT_EQ(layout.partitionCount(), 2u);
  EXPECT_EQ(layout.data()[kestrin::kLayoutBufferSize - 1], 0xA5);
  ASSERT_EQ(system.ioControls.size(), 1u);
  EXPECT_EQ(system.ioControls[0].code, kestrin::IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
  EXPECT_EQ(system.ioControls[0].outputSize, 9264u);
  EXPECT_EQ(system.ioControls[0].output, layout.data());
  ASSERT_EQ(system.creates.size(), 1u);
  EXPECT_EQ(system.creates[0].access, kestrin::GENERIC_READ);
  EXPECT_EQ(system.closed.size(), 1u);
}

TEST_F(Win32Port, ErrorMessageIsTheSystemsOwnTextUntrimmedInUtf8) {
  EXPECT_EQ(port.ErrorMessage(kErrorFileNotFound),
            reinterpret_cast<const char*>(u8"Le fichier spécifié est introuvable.\r\n"));
  ASSERT_EQ(system.formats.size(), 1u);
  const FormatMessageCall& call = system.formats[0];
  EXPECT_EQ(call.flags, 0x1200u);  // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
  EXPECT_EQ(call.source, nullptr);
  EXPECT_EQ(call.messageId, kErrorFileNotFound);
  EXPECT_EQ(call.languageId, 0u);
  EXPECT_EQ(call.arguments, nullptr);
  // The system takes at most 64 KiB of buffer.
  EXPECT_GT(call.size, 1024u);
  EXPECT_LE(call.size * 2, 65536u);

  kestrin::ScopedPort installed(port);
  EXPECT_EQ(kestrin::SystemErrorText(kErrorFileNotFound),
            reinterpret_cast<const char*>(u8"Le fichier spécifié est introuvable"));
}

TEST_F(Win32Port, ErrorMessageNamesTheCodeWhenTheSystemHasNoText) {
  EXPECT_EQ(port.ErrorMessage(31337), "Unknown error 31337.");
  kestrin::ScopedPort installed(port);
  EXPECT_EQ(kestrin::RequestFailureText("IOCTL_DISK_CREATE_DISK", 31337),
            "IOCTL_DISK_CREATE_DISK failed:Unknown error 31337");
}

}  // namespace
