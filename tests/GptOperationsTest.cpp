// The GPT entry operations over a recording port: the count rules of the
// create, what each writes into the slot, and the GUID text that does not
// convert.

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <utility>

#include "EditingFixture.h"
#include "Errors.h"
#include "ImageFixture.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using namespace editing;

// The Linux filesystem data type, in lower case, and its 16 stored bytes:
// the first three groups little-endian, the last eight in text order.
const std::string kLinuxDataText = "{0fc63daf-8483-4772-8e79-3d69d8477de4}";
const Guid kLinuxData = {
    {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47, 0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4}};

class GptOperations : public EditingFixture {
 protected:
  void SetUp() override {
    port.layout.setPartitionStyle(kStyleGpt);
    port.layout.setGptMaxPartitionCount(128);
  }
};

// What create writes into slot `entry` of `expected`.
void expectCreated(LayoutBuffer& expected, int entry, std::int64_t offset, std::int64_t length, const Guid& type) {
  LayoutSlot slot = expected.slot(entry);
  slot.setStyle(kStyleGpt);
  slot.setPartitionNumber(static_cast<std::uint32_t>(entry));
  slot.setStartingOffset(offset);
  slot.setPartitionLength(length);
  slot.setGptPartitionType(type);
  slot.setRewritePartition(true);
}

TEST_F(GptOperations, CreateOnAnEmptyTableRaisesTheCountToFour) {
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 1, 1 << 20, 8 << 20, kLinuxDataText));
  LayoutBuffer expected = asRead(port.layout);
  expected.setPartitionCount(4);
  expectCreated(expected, 1, 1 << 20, 8 << 20, kLinuxData);
  // Slots 2 to 4 travel as all-zero slots.
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(GptOperations, CreateBeyondTheCountRaisesItToTheEntryNumber) {
  port.layout = seededLayout(kStyleGpt, 3);
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 6, 1 << 20, 1 << 20, kLinuxDataText));
  LayoutBuffer expected = asRead(port.layout);
  expected.setPartitionCount(6);
  for (int entry = 1; entry <= 3; ++entry) expected.slot(entry).setRewritePartition(false);
  expectCreated(expected, 6, 1 << 20, 1 << 20, kLinuxData);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
}

TEST_F(GptOperations, CreateInsideTheCountKeepsTheCount) {
  port.layout = seededLayout(kStyleGpt, 5);
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 2, 1 << 20, 1 << 20, kLinuxDataText));
  EXPECT_EQ(writtenLayout().partitionCount(), 5u);
}

TEST_F(GptOperations, CreateOnEmptyTableAtEntryTwoStillUsesFour) {
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 2, 1 << 20, 1 << 20, kLinuxDataText));
  EXPECT_EQ(writtenLayout().partitionCount(), 4u);
}

TEST_F(GptOperations, CreateInTheLastSlotRaisesTheCountTo64AndNoFurther) {
  port.layout = seededLayout(kStyleGpt, 2);
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 64, 1 << 20, 1 << 20, kLinuxDataText));
  LayoutBuffer written = writtenLayout();
  EXPECT_EQ(written.partitionCount(), 64u);
  EXPECT_EQ(written.slot(64).gptPartitionType(), kLinuxData);
  EXPECT_FALSE(CreatePartitionGPT(kEditPath, 65, 1 << 20, 1 << 20, kLinuxDataText));
  EXPECT_EQ(port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).size(), 1u);
}

TEST_F(GptOperations, CreateInAUsedSlotKeepsItsIdAttributesAndName) {
  port.layout = seededLayout(kStyleGpt, 3);
  LayoutSlot old = port.layout.slot(2);
  old.setGptAttributes(0x8000000000000001ull);
  for (std::size_t i = 0; i < kSlotGptNameUnits; ++i) {
    writeLe16(old.bytes(), kSlotGptNameOffset + 2 * i, i < 4 ? u"data"[i] : 0);
  }
  Guid id = std::as_const(port.layout).slot(2).gptPartitionId();
  ASSERT_FALSE(id.isNull());
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 2, 3 << 20, 5 << 20, kLinuxDataText));
  LayoutBuffer written = writtenLayout();
  EXPECT_EQ(written.slot(2).gptPartitionId(), id);
  EXPECT_EQ(written.slot(2).gptAttributes(), 0x8000000000000001ull);
  EXPECT_EQ(written.slot(2).gptName(), u"data");
  // Everything but style, number, offset, length, type and the mark as read;
  // the other slots of 1..32 lose their mark.
  LayoutBuffer expected = asRead(port.layout);
  for (int entry = 1; entry <= 3; ++entry) expected.slot(entry).setRewritePartition(false);
  expectCreated(expected, 2, 3 << 20, 5 << 20, kLinuxData);
  EXPECT_TRUE(SameLayout(expected, written));
}

TEST_F(GptOperations, CreateLeavesTheRewriteMarksOfSlots33To64AsRead) {
  port.layout = seededLayout(kStyleGpt, 64);
  for (int entry = 1; entry <= 64; ++entry) port.layout.slot(entry).setRewritePartition(true);
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 40, 1 << 20, 1 << 20, kLinuxDataText));
  LayoutBuffer written = writtenLayout();
  for (int entry = 1; entry <= 64; ++entry) {
    EXPECT_EQ(written.slot(entry).rewritePartition(), entry > 32 ? 1 : 0) << "entry " << entry;
  }
}

TEST_F(GptOperations, NullTypeTextIsAccepted) {
  port.layout = seededLayout(kStyleGpt, 2);
  EXPECT_TRUE(CreatePartitionGPT(kEditPath, 3, 1 << 20, 1 << 20, std::string(kNullGuidText)));
  EXPECT_TRUE(SetPartitionTypeGPT(kEditPath, 1, std::string(kNullGuidText)));
  EXPECT_TRUE(port.layout.slot(3).gptPartitionType().isNull());
  EXPECT_TRUE(port.layout.slot(1).gptPartitionType().isNull());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(GptOperations, MalformedTypeTextRaisesAfterTheReadAndWritesNothing) {
  port.layout = seededLayout(kStyleGpt, 2);
  const std::vector<std::string> bad = {"",
                                        "0fc63daf-8483-4772-8e79-3d69d8477de4",
                                        "{0fc63daf-8483-4772-8e79-3d69d8477de4",
                                        "{0fc63daf-8483-4772-8e793d69d8477de4}",
                                        "{0fc63daf-8483-4772-8e79-3d69d8477dg4}",
                                        "{0fc63daf-8483-4772-8e79-3d69d8477de4} "};
  for (const std::string& text : bad) {
    for (int operation = 0; operation < 2; ++operation) {
      port.calls.clear();
      EXPECT_EQ(ErrorOf<ConversionError>([&] {
                  if (operation == 0) {
                    CreatePartitionGPT(kEditPath, 1, 1 << 20, 1 << 20, text);
                  } else {
                    SetPartitionTypeGPT(kEditPath, 1, text);
                  }
                }),
                "'" + text + "' n'est pas une valeur GUID correcte");
      EXPECT_EQ(port.requestCodes(), kReadOnly) << text;
      EXPECT_TRUE(closedOnceAtTheEnd()) << text;
    }
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(GptOperations, DeleteNullsTheTypeAndKeepsCountIdAttributesAndName) {
  port.layout = seededLayout(kStyleGpt, 5);
  port.layout.slot(4).setRewritePartition(false);
  EXPECT_TRUE(DeletePartitionGPT(kEditPath, 4));
  LayoutBuffer expected = asRead(port.layout);
  LayoutSlot slot = expected.slot(4);
  slot.setStyle(kStyleGpt);
  slot.setStartingOffset(0);
  slot.setPartitionLength(0);
  slot.setPartitionNumber(0);
  slot.setGptPartitionType(Guid{});
  slot.setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
}

TEST_F(GptOperations, RetypeStoresTheGuidInSystemByteOrder) {
  port.layout = seededLayout(kStyleGpt, 2);
  EXPECT_TRUE(SetPartitionTypeGPT(kEditPath, 2, kLinuxDataText));
  LayoutBuffer expected = asRead(port.layout);
  expected.slot(2).setGptPartitionType(kLinuxData);
  expected.slot(2).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, writtenLayout()));
}

TEST_F(GptOperations, AttributesAreStoredWholeWithoutAMask) {
  port.layout = seededLayout(kStyleGpt, 2);
  EXPECT_TRUE(SetPartitionAttributesGPT(kEditPath, 1, 0xF00D00000000BEEFull));
  EXPECT_EQ(port.layout.slot(1).gptAttributes(), 0xF00D00000000BEEFull);
  EXPECT_TRUE(SetPartitionAttributesGPT(kEditPath, 1, 0));
  EXPECT_EQ(port.layout.slot(1).gptAttributes(), 0u);
  LayoutBuffer expected = asRead(seededLayout(kStyleGpt, 2));
  expected.slot(1).setGptAttributes(0);
  expected.slot(1).setRewritePartition(true);
  EXPECT_TRUE(SameLayout(expected, port.layout));
}

// The entry numbers, styles and failed requests that every GPT operation
// refuses are checked with the MBR operations', in MbrOperationsTest.

// --- through Kestrin's disk stack, on images made and checked by the peers ---

const std::string kLinuxDataUpper = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
const std::string kBasicDataUpper = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

class GptOperationsOnImage : public ImageFixture {
 protected:
  // Two entries of 8 MiB: "data" (Linux) at sector 2048, a basic data entry
  // after it; 128 slots in the array. Made by sfdisk (sgdisk waits a second
  // after every write); the sgdisk-made image has a test of its own.
  void SetUp() override {
    ImageFixture::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(PartitionWithSfdisk(image,
                                  "label: gpt\n"
                                  "start=2048, size=16384, type=" +
                                      kLinuxDataUpper +
                                      ", name=\"data\"\n"
                                      "start=18432, size=16384, type=" +
                                      kBasicDataUpper + "\n"),
              "");
    writeMarker(2 << 20);
    writeMarker(10 << 20);
    writeMarker(40 << 20);
  }

  // sgdisk's view of entry `number`; the test fails when sgdisk lists none.
  PeerPartition sgdiskInfo(int number) {
    std::optional<PeerPartition> entry = SgdiskInfo(image, number);
    EXPECT_TRUE(entry.has_value()) << "sgdisk lists no entry " << number;
    return entry.value_or(PeerPartition{});
  }

  void expectHealthy() {
    EXPECT_TRUE(SgdiskAccepts(image));
    EXPECT_TRUE(markersIntact());
    EXPECT_TRUE(messages.shown.empty()) << messages.shown.front();
  }
};

TEST_F(GptOperationsOnImage, CreateAddsAnEntryThatThePeersSee) {
  double us = MicrosecondsOf(
      [&] { EXPECT_TRUE(CreatePartitionGPT(kImagePath, 3, 34816 * kSector, 16384 * kSector, kLinuxDataText)); });
  RecordProperty("microseconds", static_cast<int>(us));
  std::cout << "[ timing   ] CreatePartitionGPT on a 64 MiB image: " << us << " us\n";
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 3u) << dump.text();
  EXPECT_EQ(dump.partition(3).start, 34816u);
  EXPECT_EQ(dump.partition(3).size, 16384u);
  EXPECT_EQ(dump.partition(3).type, kLinuxDataUpper);
  EXPECT_EQ(dump.partition(1).name, "data");
  EXPECT_EQ(dump.partition(2).type, kBasicDataUpper);
  PeerPartition parted = PartedPrint(image).partition(3);
  ASSERT_EQ(parted.number, 3);
  EXPECT_EQ(parted.start, 34816 * kSector);
  EXPECT_EQ(PartxShow(image).numbers(), (std::vector<int>{1, 2, 3}));
  expectHealthy();
}

TEST_F(GptOperationsOnImage, CreateBeyondTheCountLandsInThatSlot) {
  EXPECT_TRUE(CreatePartitionGPT(kImagePath, 6, 34816 * kSector, 8192 * kSector, kLinuxDataText));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 3u) << dump.text();
  EXPECT_EQ(dump.partition(6).start, 34816u);
  EXPECT_EQ(PartxShow(image).numbers(), (std::vector<int>{1, 2, 6}));
  // Read back, the stack reports the used entries only, in array order: the
  // new one is the third slot and keeps the number of its array position.
  LayoutBuffer layout = currentLayout();
  ASSERT_EQ(layout.partitionCount(), 3u);
  EXPECT_EQ(layout.slot(3).startingOffset(), static_cast<std::int64_t>(34816 * kSector));
  EXPECT_EQ(layout.slot(3).partitionNumber(), 6u);
  expectHealthy();
}

TEST_F(GptOperationsOnImage, CreateOverAnEntryKeepsItsUniqueGuidAndName) {
  std::string uuidBefore = SfdiskDump(image).partition(1).uuid;
  ASSERT_EQ(uuidBefore.size(), 36u);
  EXPECT_TRUE(CreatePartitionGPT(kImagePath, 1, 4096 * kSector, 4096 * kSector, kLinuxDataText));
  PeerPartition entry = SfdiskDump(image).partition(1);
  EXPECT_EQ(entry.uuid, uuidBefore);
  EXPECT_EQ(entry.name, "data");
  EXPECT_EQ(entry.start, 4096u);
  EXPECT_EQ(entry.size, 4096u);
  expectHealthy();
}

TEST_F(GptOperationsOnImage, DeleteRemovesTheEntry) {
  EXPECT_TRUE(DeletePartitionGPT(kImagePath, 2));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 1u) << dump.text();
  EXPECT_EQ(dump.partition(1).name, "data");
  EXPECT_EQ(PartxShow(image).numbers(), (std::vector<int>{1}));
  EXPECT_EQ(PartedPrint(image).partitions.size(), 1u);
  expectHealthy();
}

TEST_F(GptOperationsOnImage, RetypeAndAttributesReachTheEntry) {
  EXPECT_TRUE(SetPartitionTypeGPT(kImagePath, 2, "{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}"));
  EXPECT_TRUE(SetPartitionAttributesGPT(kImagePath, 1, 0x8000000000000001ull));
  EXPECT_EQ(sgdiskInfo(2).type, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
  EXPECT_EQ(sgdiskInfo(1).attributes, 0x8000000000000001ull);
  EXPECT_TRUE(SetPartitionAttributesGPT(kImagePath, 1, 0));
  EXPECT_EQ(sgdiskInfo(1).attributes, 0u);
  EXPECT_EQ(sgdiskInfo(1).name, "data");
  expectHealthy();
}

TEST_F(GptOperationsOnImage, EditsAnImageMadeBySgdisk) {
  // sgdisk's own layout: usable area from sector 34, an entry with a name
  // and attribute bits, a second one left to be created below sector 2048.
  MakeSparseFile(image, kImageSize);
  ASSERT_EQ(PartitionWithSgdisk(image, {"-n", "1:2048:+8M", "-t", "1:8300", "-c", "1:root", "-A", "1:set:2", "-n",
                                        "2:18432:+8M", "-t", "2:0700"}),
            "");
  std::string uuidBefore = SfdiskDump(image).partition(1).uuid;
  EXPECT_TRUE(SetPartitionTypeGPT(kImagePath, 2, kLinuxDataText));
  EXPECT_TRUE(CreatePartitionGPT(kImagePath, 3, 34 * kSector, 2014 * kSector, kLinuxDataText));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 3u) << dump.text();
  EXPECT_EQ(dump.partition(2).type, kLinuxDataUpper);
  EXPECT_EQ(dump.partition(3).start, 34u);
  EXPECT_EQ(dump.partition(3).size, 2014u);
  EXPECT_EQ(dump.partition(1).uuid, uuidBefore);
  EXPECT_EQ(sgdiskInfo(1).attributes, 4u);
  EXPECT_EQ(sgdiskInfo(1).name, "root");
  EXPECT_TRUE(SgdiskAccepts(image));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(GptOperationsOnImage, MalformedTypeTextLeavesTheImageAsItWas) {
  std::vector<std::uint8_t> before = imageBytes();
  EXPECT_THROW(SetPartitionTypeGPT(kImagePath, 1, "{0FC63DAF-8483-4772-8E79-3D69D8477DE}"), ConversionError);
  EXPECT_THROW(CreatePartitionGPT(kImagePath, 3, 1 << 20, 1 << 20, "Linux"), ConversionError);
  EXPECT_TRUE(imageBytes() == before);
  EXPECT_TRUE(port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).empty());
  EXPECT_EQ(port.openCount(), port.closeCount());
}

}  // namespace
}  // namespace kestrin::test
