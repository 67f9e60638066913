// The small readers over the device port: how they open, what they ask,
// that they close on every path, and the failure texts they build from the
// error code of the failed request.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "EditingFixture.h"
#include "EmulatedPort.h"
#include "Errors.h"
#include "RecordingPort.h"
#include "TestSupport.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin {
namespace {

using test::ErrorOf;
using test::PortCall;
using test::RecordingPort;

const std::string kPath = "\\\\.\\PhysicalDrive3";

// A port whose error texts are chosen by the test.
class TextPort : public RecordingPort {
 public:
  std::string text;
  std::string ErrorMessage(std::uint32_t) const override { return text; }
};

// One open of `path` for reading with `attributes`, one request `code` on
// its handle, then the close of that handle: the whole conversation.
::testing::AssertionResult openedOnceForReading(const RecordingPort& port, std::uint32_t code,
                                                std::uint32_t attributes = 0) {
  const auto& calls = port.calls;
  if (calls.size() != 3) return ::testing::AssertionFailure() << calls.size() << " calls";
  if (calls[0].kind != PortCall::Kind::Open || calls[0].path != kPath || calls[0].access != GENERIC_READ ||
      calls[0].attributes != attributes) {
    return ::testing::AssertionFailure() << "open of '" << calls[0].path << "' access " << calls[0].access
                                         << " attributes " << calls[0].attributes;
  }
  if (calls[1].kind != PortCall::Kind::Control || calls[1].code != code || calls[1].handle != calls[0].handle) {
    return ::testing::AssertionFailure() << "request " << calls[1].code << " on handle " << calls[1].handle;
  }
  if (calls[2].kind != PortCall::Kind::Close || calls[2].handle != calls[0].handle) {
    return ::testing::AssertionFailure() << "the last call is not the close of the opened handle";
  }
  return ::testing::AssertionSuccess();
}

// A recording port installed for the test, and a buffer to read into.
class Reader : public ::testing::Test {
 protected:
  RecordingPort port;
  ScopedPort installed{port};
  LayoutBuffer buffer;
};

TEST_F(Reader, GetDriveLayoutReadsTheWholeBufferOnOneReadOnlyHandle) {
  port.layout.setPartitionStyle(kStyleGpt);
  port.layout.setPartitionCount(2);
  port.layout.slot(2).setPartitionNumber(2);
  EXPECT_TRUE(GetDriveLayout(kPath, buffer));
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_DRIVE_LAYOUT_EX));
  EXPECT_EQ(port.calls[1].outputSize, 9264u);
  EXPECT_EQ(buffer.partitionStyle(), kStyleGpt);
  EXPECT_EQ(buffer.slot(2).partitionNumber(), 2u);
}

TEST_F(Reader, GetDriveLayoutFailureRaisesTheRequestNameAndTrimmedSystemText) {
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_NOT_READY);
  EXPECT_EQ(ErrorOf<KestrinError>([&] { GetDriveLayout(kPath, buffer); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 21");
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_DRIVE_LAYOUT_EX)) << "closed before raising";
}

TEST_F(Reader, GetDriveLayoutTakesTheErrorCodeBeforeTheClose) {
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_CRC);
  test::editing::ForgetfulPort forgetful(port);  // the close overwrites the last error
  ScopedPort forgetfulInstalled(forgetful);
  EXPECT_EQ(ErrorOf<KestrinError>([&] { GetDriveLayout(kPath, buffer); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 23");
}

TEST_F(Reader, GetDriveLayoutOfADiskThatDoesNotOpenReportsTheInvalidHandle) {
  port.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ErrorOf<KestrinError>([&] { GetDriveLayout(kPath, buffer); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 6");
  EXPECT_EQ(port.closeCount(), 1u) << "the untested handle is closed as any other";
}

TEST_F(Reader, GetDriveLayoutOfADiskNumberWithNoDiskBehindItThroughTheDiskStack) {
  EmulatedPort stack{DiskMap{}};
  ScopedPort stackInstalled(stack);
  EXPECT_EQ(ErrorOf<KestrinError>([&] { GetDriveLayout("\\\\.\\PhysicalDrive9", buffer); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:The disk handle is not valid");
}

TEST_F(Reader, GetDriveLayoutRefusesMoreThan64Slots) {
  port.layout.setPartitionStyle(kStyleGpt);
  port.layout.setPartitionCount(65);
  EXPECT_EQ(ErrorOf<KestrinError>([&] { GetDriveLayout(kPath, buffer); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 122");
}

TEST_F(Reader, GetDriveLayoutLeavesSlotsBeyondTheCountAsTheCallerHadThem) {
  port.layout.setPartitionStyle(kStyleMbr);
  port.layout.setPartitionCount(2);
  port.layout.slot(1).setPartitionNumber(1);
  buffer.slot(1).setPartitionNumber(77);
  buffer.slot(3).setPartitionNumber(99);  // stale, from an earlier read
  GetDriveLayout(kPath, buffer);
  EXPECT_EQ(buffer.slot(1).partitionNumber(), 1u);
  EXPECT_EQ(buffer.slot(3).partitionNumber(), 99u) << "the reader does not clear the buffer";
}

TEST_F(Reader, GetDiskAttributesReadsTheWordOnAReadOnlyHandle) {
  port.attributes = DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY | (1ull << 40);
  GetDiskAttributesRecord record;
  EXPECT_TRUE(GetDiskAttributes(kPath, record));
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_DISK_ATTRIBUTES));
  EXPECT_EQ(port.calls[1].outputSize, 16u);
  EXPECT_EQ(record.attributes(), 3ull | (1ull << 40));
}

TEST_F(Reader, GetDiskAttributesFailsQuietlyAndCloses) {
  port.failRequest(IOCTL_DISK_GET_DISK_ATTRIBUTES, ERROR_NOT_SUPPORTED);
  GetDiskAttributesRecord record;
  EXPECT_FALSE(GetDiskAttributes(kPath, record));
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_DISK_ATTRIBUTES));

  RecordingPort absent;
  ScopedPort installedAbsent(absent);
  absent.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(GetDiskAttributes(kPath, record));
  EXPECT_EQ(absent.closeCount(), 1u);
}

TEST_F(Reader, GetDiskLengthByPathReadsTheLengthOnAReadOnlyHandle) {
  port.length = (5ll << 40) + 512;
  EXPECT_EQ(GetDiskLengthByPath(kPath), (5ll << 40) + 512);
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_LENGTH_INFO));
  EXPECT_EQ(port.calls[1].outputSize, 8u);
}

TEST_F(Reader, GetDiskLengthByPathIsZeroWhenTheDiskCannotBeRead) {
  port.length = 1 << 20;
  port.failRequest(IOCTL_DISK_GET_LENGTH_INFO, ERROR_IO_DEVICE);
  EXPECT_EQ(GetDiskLengthByPath(kPath), 0);
  EXPECT_TRUE(openedOnceForReading(port, IOCTL_DISK_GET_LENGTH_INFO));

  RecordingPort absent;
  ScopedPort installedAbsent(absent);
  absent.length = 1 << 20;
  absent.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetDiskLengthByPath(kPath), 0);
  EXPECT_EQ(absent.closeCount(), 1u);
}

TEST_F(Reader, GetDiskLengthAsksTheHandleItIsGivenAndDoesNotCloseIt) {
  port.length = 4096;
  DiskHandle handle = port.OpenDisk(kPath, GENERIC_READ, 0);
  EXPECT_EQ(GetDiskLength(handle), 4096);
  EXPECT_EQ(port.closeCount(), 0u);
  EXPECT_EQ(port.requests(IOCTL_DISK_GET_LENGTH_INFO).at(0).handle, handle);
  EXPECT_EQ(GetDiskLength(kInvalidHandle), 0);
}

TEST(SystemErrorText, RemovesTrailingControlCharactersBlanksAndFullStops) {
  TextPort port;
  ScopedPort installed(port);
  const std::vector<std::pair<std::string, std::string>> cases{
      {"The disk is write-protected.\r\n", "The disk is write-protected"},
      {"Dr. Who. . \t\x01", "Dr. Who"},  // full stops inside the text stay
      {"Plain", "Plain"},
      {"...\r\n", ""},
      {"", ""},
      {"  Leading blanks stay.", "  Leading blanks stay"}};
  for (const auto& [text, trimmed] : cases) {
    port.text = text;
    EXPECT_EQ(SystemErrorText(19), trimmed) << text;
  }
}

TEST(SystemErrorText, FailureTextHasNoBlankAfterTheColon) {
  TextPort port;
  ScopedPort installed(port);
  port.text = "Access is denied.\r\n";
  EXPECT_EQ(RequestFailureText("IOCTL_DISK_CREATE_DISK", 5), "IOCTL_DISK_CREATE_DISK failed:Access is denied");
}

TEST(FirstWord, IsTheTextBeforeTheFirstBlank) {
  EXPECT_EQ(FirstWord("\\\\.\\PhysicalDrive0"), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(FirstWord("\\\\.\\PhysicalDrive1 (64 MB)"), "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(FirstWord("a b c"), "a");
  EXPECT_EQ(FirstWord(" leading"), "");
  EXPECT_EQ(FirstWord(""), "");
}

}  // namespace
}  // namespace kestrin
