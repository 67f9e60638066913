// The MBR entry operations over a recording port: what each writes into the
// layout, byte for byte, and what each refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "EditingFixture.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using Sequence = std::vector<std::uint32_t>;
const Sequence kWithUpdate = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, IOCTL_DISK_SET_DRIVE_LAYOUT_EX,
                              IOCTL_DISK_UPDATE_PROPERTIES};
const Sequence kWithoutUpdate = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
                                 IOCTL_DISK_SET_DRIVE_LAYOUT_EX};

class MbrOperations : public EditingFixture {};

// What create writes into slot `entry` of `expected`, field by field.
void expectCreated(LayoutBuffer& expected, int entry, std::int64_t offset, std::int64_t length, bool boot,
                   std::uint8_t type) {
  LayoutSlot slot = expected.slot(entry);
  slot.setStyle(kStyleMbr);
  slot.setStartingOffset(offset);
  slot.setPartitionLength(length);
  slot.setPartitionNumber(static_cast<std::uint32_t>(entry));
  slot.setMbrPartitionType(type);
  slot.setMbrBootIndicator(boot);
  slot.setMbrRecognizedPartition(true);
  slot.setMbrHiddenSectors(0);
  slot.setRewritePartition(true);
}

TEST_F(MbrOperations, CreateOnAnEmptyTableRaisesTheCountToFour) {
  port.layout.setPartitionStyle(kStyleMbr);
  port.layout.setPartitionCount(0);
  EXPECT_TRUE(CreatePartitionMBR(kEditPath, 1, 1 << 20, 100 << 20, true, 0x0C));
  LayoutBuffer expected = asRead(port.layout);
  expected.setPartitionCount(4);
  expectCreated(expected, 1, 1 << 20, 100 << 20, true, 0x0C);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(MbrOperations, CreateAboveTheCountFillsTheSlotAndKeepsTheCount) {
  port.layout = seededLayout(kStyleMbr, 4);
  EXPECT_TRUE(CreatePartitionMBR(kEditPath, 5, 0x7E00, 0x100000, false, 0x83));
  LayoutBuffer written = writtenLayout();
  EXPECT_EQ(written.partitionCount(), 4u);
  LayoutBuffer expected = asRead(port.layout);
  for (int entry = 1; entry <= 4; ++entry) expected.slot(entry).setRewritePartition(false);
  expectCreated(expected, 5, 0x7E00, 0x100000, false, 0x83);
  EXPECT_TRUE(SameLayout(expected, written));
}

TEST_F(MbrOperations, CreateKeepsTheServiceFlagAndPartitionIdOfTheSlot) {
  port.layout = seededLayout(kStyleMbr, 4);
  ConstLayoutSlot before = std::as_const(port.layout).slot(2);
  Guid id = before.mbrPartitionId();
  std::uint8_t service = before.isServicePartition();
  ASSERT_FALSE(id.isNull());
  ASSERT_NE(service, 0);
  EXPECT_TRUE(CreatePartitionMBR(kEditPath, 2, 1 << 20, 1 << 30, false, 0x07));
  LayoutBuffer written = writtenLayout();
  EXPECT_EQ(written.slot(2).mbrPartitionId(), id);
  EXPECT_EQ(written.slot(2).isServicePartition(), service);
  // Offsets and lengths are bytes, stored as given, not turned into sectors.
  EXPECT_EQ(written.slot(2).startingOffset(), 1 << 20);
  EXPECT_EQ(written.slot(2).partitionLength(), 1 << 30);
}

TEST_F(MbrOperations, CreateClearsTheRewriteMarksOfTheFirst32SlotsOnly) {
  port.layout = seededLayout(kStyleMbr, 64);
  for (int entry = 1; entry <= 64; ++entry) port.layout.slot(entry).setRewritePartition(true);
  EXPECT_TRUE(CreatePartitionMBR(kEditPath, 3, 1 << 20, 1 << 20, false, 0x83));
  LayoutBuffer written = writtenLayout();
  for (int entry = 1; entry <= 64; ++entry) {
    bool marked = entry == 3 || entry > 32;
    EXPECT_EQ(written.slot(entry).rewritePartition(), marked ? 1 : 0) << "entry " << entry;
  }
  EXPECT_EQ(written.partitionCount(), 64u);
}

TEST_F(MbrOperations, CreateInTheLastSlotWritesTheBufferEnd) {
  port.layout = seededLayout(kStyleMbr, 4);
  EXPECT_TRUE(CreatePartitionMBR(kEditPath, 64, 5 << 20, 1 << 20, true, 0x05));
  LayoutBuffer written = writtenLayout();
  EXPECT_EQ(written.slot(64).partitionNumber(), 64u);
  EXPECT_EQ(written.slot(64).mbrPartitionType(), 0x05);
  EXPECT_EQ(written.slot(64).rewritePartition(), 1);
}

TEST_F(MbrOperations, DeleteZeroesExactlyTheEntryFieldsAndMarksTheSlot) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(3).setMbrPartitionType(0x83);
  port.layout.slot(3).setMbrBootIndicator(true);
  port.layout.slot(3).setMbrRecognizedPartition(true);
  port.layout.slot(3).setMbrHiddenSectors(2048);
  port.layout.slot(3).setRewritePartition(false);
  EXPECT_TRUE(DeletePartitionMBR(kEditPath, 3));
  LayoutBuffer expected = asRead(port.layout);
  LayoutSlot slot = expected.slot(3);
  slot.setStyle(kStyleMbr);
  slot.setStartingOffset(0);
  slot.setPartitionLength(0);
  slot.setPartitionNumber(0);
  slot.setMbrPartitionType(0);
  slot.setMbrBootIndicator(false);
  slot.setMbrRecognizedPartition(false);
  slot.setMbrHiddenSectors(0);
  slot.setRewritePartition(true);
  // Service flag, padding and partition id keep their patterned bytes; the
  // count is unchanged, so the slot stays as an unused entry.
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
}

TEST_F(MbrOperations, RetypeChangesOnlyTheTypeByteAndTheRewriteMark) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(2).setRewritePartition(false);
  EXPECT_TRUE(SetPartitionTypeMBR(kEditPath, 2, 0x0B));
  LayoutBuffer expected = asRead(port.layout);
  expected.slot(2).setMbrPartitionType(0x0B);
  expected.slot(2).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
}

TEST_F(MbrOperations, BootFlagIsWrittenAsZeroOrOne) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(1).setMbrBootIndicator(false);
  port.layout.slot(4).setMbrBootIndicator(true);
  EXPECT_TRUE(SetPartitionBootMBR(kEditPath, 1, true));
  EXPECT_TRUE(SetPartitionBootMBR(kEditPath, 4, false));
  // Both writes went to the in-memory disk; the second read saw the first.
  LayoutBuffer expected = asRead(seededLayout(kStyleMbr, 4));
  expected.slot(1).setMbrBootIndicator(true);
  expected.slot(1).setRewritePartition(true);
  expected.slot(4).setMbrBootIndicator(false);
  expected.slot(4).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, port.layout));
  EXPECT_EQ(port.requests(IOCTL_DISK_UPDATE_PROPERTIES).size(), 2u);
}

TEST_F(MbrOperations, DiskSignatureChangesTheHeaderAndMarksNoSlot) {
  port.layout = seededLayout(kStyleMbr, 6);
  EXPECT_TRUE(SetDiskIdMBR(kEditPath, 0x01020304));
  LayoutBuffer written = writtenLayout();
  LayoutBuffer expected = asRead(port.layout);
  expected.setMbrSignature(0x01020304);
  EXPECT_TRUE(SameLayout(expected, written));
  EXPECT_EQ(written.bytes()[8], 0x04);
  EXPECT_EQ(written.bytes()[11], 0x01);
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
}

TEST_F(MbrOperations, MakeFirstWithEntryOneOnlyMarksTheFirstSlot) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(1).setRewritePartition(false);
  EXPECT_TRUE(SetPartitionNumberOneMBR(kEditPath, 1));
  LayoutBuffer expected = asRead(port.layout);
  expected.slot(1).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);
}

TEST_F(MbrOperations, MakeFirstSwapsWholeSlotsAndSendsNoUpdate) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(1).setRewritePartition(false);
  port.layout.slot(3).setRewritePartition(false);
  LayoutBuffer read = asRead(port.layout);
  EXPECT_TRUE(SetPartitionNumberOneMBR(kEditPath, 3));
  LayoutBuffer written = writtenLayout();
  LayoutBuffer expected = read;
  std::copy(read.slot(3).bytes().begin(), read.slot(3).bytes().end(), expected.slot(1).bytes().begin());
  std::copy(read.slot(1).bytes().begin(), read.slot(1).bytes().end(), expected.slot(3).bytes().begin());
  expected.slot(1).setRewritePartition(true);
  expected.slot(3).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, written));
  // The numbers travel with their slots.
  EXPECT_EQ(written.slot(1).partitionNumber(), 3u);
  EXPECT_EQ(written.slot(3).partitionNumber(), 1u);
  EXPECT_EQ(written.partitionCount(), 4u);
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
}

TEST_F(MbrOperations, EntryNumbersOutsideTheTableAreRefusedBeforeTheDiskIsOpened) {
  port.layout = seededLayout(kStyleMbr, 4);
  for (std::uint8_t entry : {0, 65, 70, 255}) {
    port.calls.clear();
    messages.shown.clear();
    std::string text = "Entry number " + std::to_string(entry) + " is outside the partition table (1 to 64)";
    EXPECT_FALSE(CreatePartitionMBR(kEditPath, entry, 1 << 20, 1 << 20, false, 0x83));
    EXPECT_FALSE(DeletePartitionMBR(kEditPath, entry));
    EXPECT_FALSE(SetPartitionTypeMBR(kEditPath, entry, 0x07));
    EXPECT_FALSE(SetPartitionBootMBR(kEditPath, entry, true));
    EXPECT_FALSE(SetPartitionNumberOneMBR(kEditPath, entry));
    EXPECT_EQ(messages.shown, std::vector<std::string>(5, text));
    EXPECT_TRUE(port.calls.empty()) << "entry " << int(entry);
  }
}

TEST_F(MbrOperations, FailedReadOrWriteShowsOneMessagePerCall) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.failRequest(IOCTL_DISK_SET_DRIVE_LAYOUT_EX, ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(CreatePartitionMBR(kEditPath, 2, -1, -1, false, 0x83));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:Test error 87"}));
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);

  port = RecordingPort();
  messages.shown.clear();
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(SetDiskIdMBR(kEditPath, 1));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 122"}));
  EXPECT_TRUE(port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).empty());
}

}  // namespace
}  // namespace kestrin::test
