// The shared read-modify-write sequence: open mode, order of requests, the
// whole buffer on the wire, the three ways out (success, one message and
// false, a raised error) and the handle closed on each.

#include <gtest/gtest.h>

#include "EditingFixture.h"
#include "Errors.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using namespace editing;

class EditDriveLayoutTest : public EditingFixture {};

TEST_F(EditDriveLayoutTest, OpensReadWriteWithNormalAttributesAndSendsDismountReadWriteUpdate) {
  port.layout = seededLayout(kStyleMbr, 4);
  int changes = 0;
  EXPECT_TRUE(EditDriveLayout(kEditPath, [&](LayoutBuffer&) { ++changes; }));
  EXPECT_EQ(changes, 1);
  ASSERT_FALSE(port.calls.empty());
  const PortCall& open = port.calls.front();
  EXPECT_EQ(open.kind, PortCall::Kind::Open);
  EXPECT_EQ(open.path, kEditPath);
  EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(open.attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EditDriveLayoutTest, ReadsIntoTheWholeBufferAndSendsNoBuffersWithTheOtherRequests) {
  port.layout = seededLayout(kStyleGpt, 1);
  EXPECT_TRUE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  for (const PortCall& call : port.calls) {
    if (call.kind != PortCall::Kind::Control) continue;
    if (call.code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
      EXPECT_EQ(call.outputSize, kLayoutBufferSize);
      EXPECT_TRUE(call.input.empty());
    } else if (call.code == IOCTL_DISK_SET_DRIVE_LAYOUT_EX) {
      EXPECT_EQ(call.input.size(), kLayoutBufferSize);
      EXPECT_EQ(call.outputSize, 0u);
    } else {
      EXPECT_TRUE(call.input.empty()) << std::hex << call.code;
      EXPECT_EQ(call.outputSize, 0u) << std::hex << call.code;
    }
  }
}

TEST_F(EditDriveLayoutTest, SkippedUpdateLeavesOutOnlyTheUpdateRequest) {
  port.layout = seededLayout(kStyleMbr, 4);
  EXPECT_TRUE(EditDriveLayout(
      kEditPath, [](LayoutBuffer&) {}, UpdateRequest::Skip));
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
}

TEST_F(EditDriveLayoutTest, ChangeSeesTheReportedSlotsAndZeroBeyondThem) {
  // Stale bytes past the reported count in the port's record must not reach
  // the change: the buffer is zeroed and the read fills two slots only.
  port.layout = seededLayout(kStyleGpt, 4);
  port.layout.setPartitionCount(2);
  LayoutBuffer seen;
  EXPECT_TRUE(EditDriveLayout(kEditPath, [&](LayoutBuffer& buffer) { seen = buffer; }));
  EXPECT_TRUE(SameLayout(asRead(port.layout), seen));
  for (int entry = 3; entry <= kLayoutSlotCount; ++entry) {
    for (std::uint8_t b : seen.slot(entry).bytes()) ASSERT_EQ(b, 0) << "entry " << entry;
  }
}

TEST_F(EditDriveLayoutTest, WritesExactlyWhatTheChangeLeftInTheBuffer) {
  port.layout = seededLayout(kStyleMbr, 4);
  LayoutBuffer expected = asRead(port.layout);
  expected.slot(4).setMbrPartitionType(0x83);
  expected.slot(9).setPartitionNumber(9);
  EXPECT_TRUE(EditDriveLayout(kEditPath, [](LayoutBuffer& buffer) {
    buffer.slot(4).setMbrPartitionType(0x83);
    buffer.slot(9).setPartitionNumber(9);
  }));
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
}

TEST_F(EditDriveLayoutTest, FailedReadShowsOneMessageAndSendsNoWriteOrUpdate) {
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_NOT_READY);
  bool changed = false;
  EXPECT_FALSE(EditDriveLayout(kEditPath, [&](LayoutBuffer&) { changed = true; }));
  EXPECT_FALSE(changed);
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 21"}));
  // The dismount still goes out before the read that fails.
  EXPECT_EQ(port.requestCodes(), kReadOnly);
  EXPECT_TRUE(closedOnceAtTheEnd());
}

TEST_F(EditDriveLayoutTest, FailedWriteShowsOneMessageAndSendsNoUpdate) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.failRequest(IOCTL_DISK_SET_DRIVE_LAYOUT_EX, ERROR_WRITE_PROTECT);
  EXPECT_FALSE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:Test error 19"}));
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
}

TEST_F(EditDriveLayoutTest, DiskThatCannotBeOpenedReportsTheReadOnTheInvalidHandle) {
  port.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  // The open's own error (file not found) is not what the user sees.
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 6"}));
  EXPECT_EQ(port.requestCodes(), kReadOnly);
  EXPECT_EQ(port.closeCount(), 1u);
}

TEST_F(EditDriveLayoutTest, FailedDismountAndUpdateChangeNeitherResultNorMessages) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.failRequest(FSCTL_DISMOUNT_VOLUME, ERROR_ACCESS_DENIED);
  port.failRequest(IOCTL_DISK_UPDATE_PROPERTIES, ERROR_IO_DEVICE);
  EXPECT_TRUE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
}

TEST_F(EditDriveLayoutTest, ErrorRaisedByTheChangeClosesTheDiskAndWritesNothing) {
  port.layout = seededLayout(kStyleGpt, 2);
  EXPECT_THROW(EditDriveLayout(kEditPath, [](LayoutBuffer&) { throw ConversionError("bad text"); }), ConversionError);
  EXPECT_EQ(port.requestCodes(), kReadOnly);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EditDriveLayoutTest, MessagesCarryTheErrorOfTheFailedRequestItself) {
  ForgetfulPort forgetful(port);
  ScopedPort installed(forgetful);
  port.layout = seededLayout(kStyleMbr, 4);
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_CRC);
  EXPECT_FALSE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  port = RecordingPort();
  port.layout = seededLayout(kStyleMbr, 4);
  port.failRequest(IOCTL_DISK_SET_DRIVE_LAYOUT_EX, ERROR_WRITE_FAULT);
  EXPECT_FALSE(EditDriveLayout(kEditPath, [](LayoutBuffer&) {}));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 23",
                                                      "IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:Test error 29"}));
}

}  // namespace
}  // namespace kestrin::test
