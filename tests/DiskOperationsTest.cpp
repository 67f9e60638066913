// The whole-disk operations over a recording port: the records they send,
// the order of their requests and their three different ways of failing.

#include <gtest/gtest.h>

#include <algorithm>

#include "EditingFixture.h"
#include "Errors.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using Sequence = std::vector<std::uint32_t>;
using Bytes = std::vector<std::uint8_t>;

class DiskOperations : public EditingFixture {
 protected:
  const PortCall& onlyRequest(std::uint32_t code) const {
    static const PortCall none;
    auto found = std::find_if(port.calls.begin(), port.calls.end(), [code](const PortCall& call) {
      return call.kind == PortCall::Kind::Control && call.code == code;
    });
    EXPECT_EQ(port.requests(code).size(), 1u);
    return found == port.calls.end() ? none : *found;
  }
};

TEST_F(DiskOperations, CreateDiskMbrSendsTheFixedSignatureThenDismountAndUpdate) {
  EXPECT_TRUE(CreateDisk(kEditPath, 0));
  EXPECT_EQ(port.calls.front().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(port.calls.front().attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(port.requestCodes(),
            (Sequence{IOCTL_DISK_CREATE_DISK, FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_UPDATE_PROPERTIES}));
  Bytes expected(24, 0);
  expected[4] = 0x04;
  expected[5] = 0x03;
  expected[6] = 0x02;
  expected[7] = 0x01;
  EXPECT_EQ(onlyRequest(IOCTL_DISK_CREATE_DISK).input, expected);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, CreateDiskMbrUsesTheSameSignatureOnEveryDisk) {
  EXPECT_TRUE(CreateDisk("\\\\.\\PhysicalDrive1", 0));
  EXPECT_TRUE(CreateDisk("\\\\.\\PhysicalDrive2", 0));
  std::vector<PortCall> creates = port.requests(IOCTL_DISK_CREATE_DISK);
  ASSERT_EQ(creates.size(), 2u);
  EXPECT_EQ(creates[0].input, creates[1].input);
  EXPECT_EQ(readLe32(creates[1].input, 4), 0x01020304u);
}

TEST_F(DiskOperations, CreateDiskGptGivesANewDiskGuidEachTimeAnd128Entries) {
  EXPECT_TRUE(CreateDisk(kEditPath, 1));
  EXPECT_TRUE(CreateDisk(kEditPath, 1));
  std::vector<PortCall> creates = port.requests(IOCTL_DISK_CREATE_DISK);
  ASSERT_EQ(creates.size(), 2u);
  Bytes ids[2];
  for (int i = 0; i < 2; ++i) {
    const Bytes& record = creates[static_cast<std::size_t>(i)].input;
    ASSERT_EQ(record.size(), 24u);
    EXPECT_EQ(readLe32(record, 0), 1u);
    EXPECT_EQ(readLe32(record, 20), 128u);
    ids[i].assign(record.begin() + 4, record.begin() + 20);
    EXPECT_NE(ids[i], Bytes(16, 0));
  }
  EXPECT_NE(ids[0], ids[1]);
}

TEST_F(DiskOperations, CreateDiskRawCarriesOnlyTheStyle) {
  EXPECT_TRUE(CreateDisk(kEditPath, 2));
  Bytes expected(24, 0);
  expected[0] = 2;
  EXPECT_EQ(onlyRequest(IOCTL_DISK_CREATE_DISK).input, expected);
}

TEST_F(DiskOperations, CreateDiskRefusesAnUnknownStyleWithoutOpeningTheDisk) {
  for (std::uint8_t style : {3, 4, 255}) {
    EXPECT_FALSE(CreateDisk(kEditPath, style));
  }
  EXPECT_TRUE(port.calls.empty());
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"Partition style 3 is not MBR (0), GPT (1) or RAW (2)",
                                                      "Partition style 4 is not MBR (0), GPT (1) or RAW (2)",
                                                      "Partition style 255 is not MBR (0), GPT (1) or RAW (2)"}));
}

TEST_F(DiskOperations, CreateDiskThatFailsShowsOneMessageAndSendsNothingMore) {
  port.failRequest(IOCTL_DISK_CREATE_DISK, ERROR_WRITE_PROTECT);
  EXPECT_FALSE(CreateDisk(kEditPath, 1));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:Test error 19"}));
  EXPECT_EQ(port.requestCodes(), (Sequence{IOCTL_DISK_CREATE_DISK}));
  EXPECT_TRUE(closedOnceAtTheEnd());
}

TEST_F(DiskOperations, CreateDiskOnADiskThatCannotBeOpenedReportsTheInvalidHandle) {
  port.failOpen(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDisk(kEditPath, 0));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:Test error 6"}));
  EXPECT_EQ(port.requestCodes(), (Sequence{IOCTL_DISK_CREATE_DISK}));
}

TEST_F(DiskOperations, CreateDiskIgnoresFailedDismountAndUpdate) {
  port.failRequest(FSCTL_DISMOUNT_VOLUME, ERROR_ACCESS_DENIED);
  port.failRequest(IOCTL_DISK_UPDATE_PROPERTIES, ERROR_NOT_READY);
  EXPECT_TRUE(CreateDisk(kEditPath, 2));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(port.requestCodes().size(), 3u);
}

TEST_F(DiskOperations, FailuresCarryTheErrorOfTheFailedRequestItself) {
  ForgetfulPort forgetful(port);
  ScopedPort installed(forgetful);
  port.failRequest(IOCTL_DISK_CREATE_DISK, ERROR_CRC);
  port.failRequest(IOCTL_DISK_DELETE_DRIVE_LAYOUT, ERROR_NOT_READY);
  EXPECT_FALSE(CreateDisk(kEditPath, 0));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:Test error 23"}));
  try {
    DeleteDriveLayout(kEditPath);
    ADD_FAILURE() << "no error raised";
  } catch (const KestrinError& error) {
    EXPECT_EQ(std::string(error.what()), "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:Test error 21");
  }
}

TEST_F(DiskOperations, DeleteLayoutSendsDismountDeleteUpdateAndShowsNothing) {
  DeleteDriveLayout(kEditPath);
  EXPECT_EQ(port.calls.front().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(port.calls.front().attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(port.requestCodes(),
            (Sequence{FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_DELETE_DRIVE_LAYOUT, IOCTL_DISK_UPDATE_PROPERTIES}));
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, DeleteLayoutThatFailsRaisesAfterClosingAndSendsNoUpdate) {
  port.failRequest(IOCTL_DISK_DELETE_DRIVE_LAYOUT, ERROR_WRITE_PROTECT);
  try {
    DeleteDriveLayout(kEditPath);
    ADD_FAILURE() << "no error raised";
  } catch (const KestrinError& error) {
    EXPECT_EQ(std::string(error.what()), "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:Test error 19");
    // Closed before the error reached the caller.
    EXPECT_TRUE(closedOnceAtTheEnd());
  }
  EXPECT_EQ(port.requestCodes(), (Sequence{FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_DELETE_DRIVE_LAYOUT}));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, DeleteLayoutOnADiskThatCannotBeOpenedRaisesWithTheInvalidHandleText) {
  port.failOpen(ERROR_FILE_NOT_FOUND);
  try {
    DeleteDriveLayout(kEditPath);
    ADD_FAILURE() << "no error raised";
  } catch (const KestrinError& error) {
    EXPECT_EQ(std::string(error.what()), "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:Test error 6");
  }
  EXPECT_TRUE(port.requests(IOCTL_DISK_UPDATE_PROPERTIES).empty());
}

TEST_F(DiskOperations, SetDiskAttributesSendsTheZeroedFortyByteRecord) {
  EXPECT_TRUE(SetDiskAttributes(kEditPath, 0x0102030405060708ull, 0x1112131415161718ull));
  EXPECT_EQ(port.calls.front().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(port.calls.front().attributes, 0u);
  EXPECT_EQ(port.requestCodes(), (Sequence{IOCTL_DISK_SET_DISK_ATTRIBUTES}));
  Bytes expected = {40, 0, 0, 0, 0, 0, 0, 0,  // version, persist false, padding
                    8,  7, 6, 5, 4, 3, 2, 1,  // attributes
                    0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11};  // mask
  expected.resize(40, 0);  // reserved
  EXPECT_EQ(onlyRequest(IOCTL_DISK_SET_DISK_ATTRIBUTES).input, expected);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, SetDiskAttributesChangesOnlyTheMaskedBits) {
  port.attributes = DISK_ATTRIBUTE_READ_ONLY;
  EXPECT_TRUE(SetDiskAttributes(kEditPath, DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY);
  EXPECT_TRUE(SetDiskAttributes(kEditPath, 0, DISK_ATTRIBUTE_OFFLINE));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_READ_ONLY);
  // A zero mask still sends the request, and it changes nothing.
  EXPECT_TRUE(SetDiskAttributes(kEditPath, DISK_ATTRIBUTE_OFFLINE, 0));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_READ_ONLY);
  EXPECT_EQ(port.requests(IOCTL_DISK_SET_DISK_ATTRIBUTES).size(), 3u);
}

TEST_F(DiskOperations, SetDiskAttributesOnADiskThatCannotBeOpenedSendsNothing) {
  port.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(SetDiskAttributes(kEditPath, 1, 1));
  EXPECT_TRUE(port.requestCodes().empty());
  EXPECT_EQ(port.closeCount(), 0u);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, SetDiskAttributesThatFailsReturnsFalseSilently) {
  port.failRequest(IOCTL_DISK_SET_DISK_ATTRIBUTES, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetDiskAttributes(kEditPath, 2, 2));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(closedOnceAtTheEnd());
}

}  // namespace
}  // namespace kestrin::test
