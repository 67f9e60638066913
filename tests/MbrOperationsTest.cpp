// The MBR entry operations over a recording port: what each writes into the
// layout, byte for byte, and what each refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <iostream>
#include <utility>

#include "EditingFixture.h"
#include "ImageFixture.h"
#include "MbrBytes.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using namespace editing;

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
  port.layout = seededLayout(kStyleMbr, 64);
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

// Deleting an empty slot, or making it the first one (which would move
// partition 1 into it), changes nothing that was meant.
TEST_F(MbrOperations, RefusesToDeleteOrMakeFirstAnEmptySlot) {
  port.layout = seededLayout(kStyleMbr, 4);
  port.layout.slot(2).setMbrPartitionType(0);
  expectEachRefused({[] { return DeletePartitionMBR(kEditPath, 2); }, [] { return SetPartitionNumberOneMBR(kEditPath, 2); }},
                    "not a valid part number");
}

// --- what every MBR and GPT operation refuses, one table for both styles ---

const std::string kLinuxDataText = "{0fc63daf-8483-4772-8e79-3d69d8477de4}";

// Each operation with the only style it writes, whether it sends the
// update after the write, and whether it refuses an entry past the table's
// count (a GPT create may fill any slot). The last one changes the whole
// table and takes no entry.
struct LayoutOperation {
  const char* name;
  std::function<bool(const std::string& path, std::uint8_t entry)> call;
  std::uint32_t style;
  bool sendsUpdate;
  bool refusesPastTheCount;
};
using Path = const std::string&;
const LayoutOperation kLayoutOperations[] = {
    {"CreatePartitionMBR", [](Path p, std::uint8_t e) { return CreatePartitionMBR(p, e, 40 << 20, 1 << 20, false, 0x83); },
     kStyleMbr, true, true},
    {"DeletePartitionMBR", [](Path p, std::uint8_t e) { return DeletePartitionMBR(p, e); }, kStyleMbr, true, true},
    {"SetPartitionTypeMBR", [](Path p, std::uint8_t e) { return SetPartitionTypeMBR(p, e, 0x0C); }, kStyleMbr, true, true},
    {"SetPartitionBootMBR", [](Path p, std::uint8_t e) { return SetPartitionBootMBR(p, e, true); }, kStyleMbr, true, true},
    {"SetPartitionNumberOneMBR", [](Path p, std::uint8_t e) { return SetPartitionNumberOneMBR(p, e); }, kStyleMbr, false,
     true},
    {"CreatePartitionGPT",
     [](Path p, std::uint8_t e) { return CreatePartitionGPT(p, e, 40 << 20, 1 << 20, kLinuxDataText); }, kStyleGpt, true,
     false},
    {"DeletePartitionGPT", [](Path p, std::uint8_t e) { return DeletePartitionGPT(p, e); }, kStyleGpt, true, true},
    {"SetPartitionTypeGPT", [](Path p, std::uint8_t e) { return SetPartitionTypeGPT(p, e, kLinuxDataText); }, kStyleGpt,
     true, true},
    {"SetPartitionAttributesGPT", [](Path p, std::uint8_t e) { return SetPartitionAttributesGPT(p, e, 1); }, kStyleGpt,
     true, true},
    {"SetDiskIdMBR", [](Path p, std::uint8_t) { return SetDiskIdMBR(p, 1); }, kStyleMbr, true, false},
};
void PrintTo(const LayoutOperation& operation, std::ostream* out) { *out << operation.name; }
std::string operationName(const ::testing::TestParamInfo<LayoutOperation>& info) { return info.param.name; }

class LayoutOperations : public EditingFixture, public ::testing::WithParamInterface<LayoutOperation> {};
// The operations on one entry of the table.
class EntryOperations : public LayoutOperations {};

TEST_P(LayoutOperations, WritesTheLayoutAndSendsTheUpdateOrNot) {
  port.layout = seededLayout(GetParam().style, 4);
  EXPECT_TRUE(GetParam().call(kEditPath, 2));
  EXPECT_EQ(port.requestCodes(), GetParam().sendsUpdate ? kWithUpdate : kWithoutUpdate);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_P(EntryOperations, EntryNumbersOutsideTheTableAreRefusedBeforeTheDiskIsOpened) {
  port.layout = seededLayout(GetParam().style, 4);
  for (std::uint8_t entry : {0, 65, 70, 128, 255}) {
    port.calls.clear();
    messages.shown.clear();
    EXPECT_FALSE(GetParam().call(kEditPath, entry));
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Entry number " + std::to_string(entry) +
                                                       " is outside the partition table (1 to 64)"});
    EXPECT_TRUE(port.calls.empty()) << "entry " << int(entry);
  }
}

// A style read from another disk must never reach the write: an MBR type
// byte lands in a GPT type GUID, a GPT type over an MBR slot.
TEST_P(LayoutOperations, RefusesALayoutOfAnotherStyleAndWritesNothing) {
  for (std::uint32_t style : {kStyleMbr, kStyleGpt, kStyleRaw}) {
    if (style == GetParam().style) continue;
    SCOPED_TRACE("style " + std::to_string(style));
    port.layout = seededLayout(style, style == kStyleRaw ? 0 : 4);
    expectEachRefused({[this] { return GetParam().call(kEditPath, 1); }}, GetParam().style == kStyleMbr ? "MBR only" : "GPT only");
  }
}

// A slot past the count is filled and silently dropped, and making it first
// would empty slot 1.
TEST_P(EntryOperations, RefusesAnEntryPastTheTableAndWritesNothing) {
  if (!GetParam().refusesPastTheCount) {
    port.layout = seededLayout(GetParam().style, 2);
    EXPECT_TRUE(GetParam().call(kEditPath, 3));
    return;
  }
  for (auto [count, entry] : {std::pair{0u, 5}, std::pair{2u, 3}, std::pair{4u, 5}}) {
    SCOPED_TRACE("count " + std::to_string(count) + " entry " + std::to_string(entry));
    port.layout = seededLayout(GetParam().style, count);
    expectEachRefused({[this, entry] { return GetParam().call(kEditPath, static_cast<std::uint8_t>(entry)); }},
                      "not a valid part number");
  }
}

TEST_P(LayoutOperations, FailedReadOrWriteShowsOneMessageAndSendsNoUpdate) {
  port.layout = seededLayout(GetParam().style, 4);
  port.failRequest(IOCTL_DISK_SET_DRIVE_LAYOUT_EX, ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetParam().call(kEditPath, 2));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:Test error 87"}));
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);

  port = RecordingPort();
  messages.shown.clear();
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(GetParam().call(kEditPath, 2));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 122"}));
  EXPECT_TRUE(port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).empty());
}

INSTANTIATE_TEST_SUITE_P(Each, LayoutOperations, ::testing::ValuesIn(kLayoutOperations), operationName);
INSTANTIATE_TEST_SUITE_P(Each, EntryOperations,
                         ::testing::ValuesIn(std::begin(kLayoutOperations), std::end(kLayoutOperations) - 1),
                         operationName);

// --- through Kestrin's disk stack, on images made and checked by the peers ---

// Two primaries: 10 MiB at 1 MiB (Linux, bootable) and 10 MiB at 11 MiB (NTFS).
const std::string kTwoPrimaries =
    "label: dos\nlabel-id: 0x11223344\n"
    "start=2048, size=20480, type=83, bootable\n"
    "start=22528, size=20480, type=7\n";

// A primary, and an extended partition with two logical drives.
const std::string kPrimaryAndTwoLogicals =
    "label: dos\n"
    "start=2048, size=20480, type=83\n"
    "start=22528, size=40960, type=5\n"
    "start=24576, size=8192, type=83\n"
    "start=34816, size=8192, type=7\n";

class MbrOperationsOnImage : public ImageFixture {
 protected:
  void SetUp() override {
    ImageFixture::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(PartitionWithSfdisk(image, kTwoPrimaries), "");
    writeMarker(2 << 20);
    writeMarker(12 << 20);
    writeMarker(kImageSize - 4096);
  }

  void expectHealthy() {
    EXPECT_TRUE(SfdiskAccepts(image));
    EXPECT_TRUE(markersIntact());
    EXPECT_TRUE(messages.shown.empty()) << messages.shown.front();
  }
};

TEST_F(MbrOperationsOnImage, CreateAddsAPrimaryThatThePeersSee) {
  double us = MicrosecondsOf(
      [&] { EXPECT_TRUE(CreatePartitionMBR(kImagePath, 3, 43008 * kSector, 8192 * kSector, false, 0x0C)); });
  RecordProperty("microseconds", static_cast<int>(us));
  std::cout << "[ timing   ] CreatePartitionMBR on a 64 MiB image: " << us << " us\n";
  PeerTable dump = SfdiskDump(image);
  ASSERT_TRUE(dump.ok) << dump.text();
  ASSERT_EQ(dump.partitions.size(), 3u) << dump.text();
  PeerPartition created = dump.partition(3);
  ASSERT_EQ(created.number, 3) << dump.text();
  EXPECT_EQ(created.start, 43008u);
  EXPECT_EQ(created.size, 8192u);
  EXPECT_EQ(created.type, "c");
  EXPECT_FALSE(created.bootable);
  EXPECT_TRUE(dump.partition(1).bootable);
  EXPECT_EQ(dump.partition(2).start, 22528u);
  EXPECT_EQ(dump.id, "0x11223344");
  PeerPartition parted = PartedPrint(image).partition(3);
  ASSERT_EQ(parted.number, 3);
  EXPECT_EQ(parted.start, 43008 * kSector);
  EXPECT_EQ(parted.start + parted.size - 1, (43008 + 8192) * kSector - 1);
  EXPECT_EQ(PartxShow(image).numbers(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(port.requestCodes(), kWithUpdate);
  expectHealthy();
}

TEST_F(MbrOperationsOnImage, DeleteRemovesTheEntryAndKeepsTheOther) {
  EXPECT_TRUE(DeletePartitionMBR(kImagePath, 1));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 1u) << dump.text();
  ASSERT_EQ(dump.partition(2).number, 2) << dump.text();
  EXPECT_EQ(dump.partition(2).start, 22528u);
  EXPECT_EQ(dump.partition(2).type, "7");
  EXPECT_EQ(PartxShow(image).numbers(), (std::vector<int>{2}));
  EXPECT_EQ(PartedPrint(image).partitions.size(), 1u);
  expectHealthy();
}

TEST_F(MbrOperationsOnImage, RetypeAndBootFlagReachTheTable) {
  EXPECT_TRUE(SetPartitionTypeMBR(kImagePath, 2, 0x0B));
  EXPECT_TRUE(SetPartitionBootMBR(kImagePath, 1, false));
  EXPECT_TRUE(SetPartitionBootMBR(kImagePath, 2, true));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 2u) << dump.text();
  EXPECT_EQ(dump.partition(2).type, "b");
  EXPECT_TRUE(dump.partition(2).bootable);
  EXPECT_EQ(dump.partition(1).type, "83");
  EXPECT_FALSE(dump.partition(1).bootable);
  expectHealthy();
}

TEST_F(MbrOperationsOnImage, DiskSignatureReachesTheTable) {
  EXPECT_TRUE(SetDiskIdMBR(kImagePath, 0xDEADBEEF));
  PeerTable dump = SfdiskDump(image);
  EXPECT_EQ(dump.id, "0xdeadbeef");
  EXPECT_EQ(dump.partitions.size(), 2u);
  EXPECT_EQ(PartxShow(image).partition(1).uuid, "deadbeef-01");
  expectHealthy();
}

TEST_F(MbrOperationsOnImage, MakeFirstExchangesTheTwoPrimaries) {
  EXPECT_TRUE(SetPartitionNumberOneMBR(kImagePath, 2));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 2u) << dump.text();
  EXPECT_EQ(dump.partition(1).start, 22528u);
  EXPECT_EQ(dump.partition(1).type, "7");
  EXPECT_EQ(dump.partition(2).start, 2048u);
  EXPECT_EQ(dump.partition(2).type, "83");
  EXPECT_TRUE(dump.partition(2).bootable);
  EXPECT_EQ(port.requestCodes(), kWithoutUpdate);
  expectHealthy();
}

TEST_F(MbrOperationsOnImage, RetypesALogicalEntryFoundThroughTheReader) {
  ASSERT_EQ(PartitionWithSfdisk(image, kPrimaryAndTwoLogicals), "");
  LayoutBuffer layout = currentLayout();
  int logical = 0;
  for (int entry = 1; entry <= static_cast<int>(layout.partitionCount()) && entry <= kLayoutSlotCount; ++entry) {
    if (layout.slot(entry).startingOffset() == static_cast<std::int64_t>(34816 * kSector)) logical = entry;
  }
  ASSERT_GT(logical, 4) << "the second logical entry is not in the layout";
  EXPECT_TRUE(SetPartitionTypeMBR(kImagePath, static_cast<std::uint8_t>(logical), 0x0C));
  PeerTable dump = SfdiskDump(image);
  ASSERT_EQ(dump.partitions.size(), 4u) << dump.text();
  ASSERT_EQ(dump.partition(6).number, 6) << dump.text();
  EXPECT_EQ(dump.partition(6).type, "c");
  EXPECT_EQ(dump.partition(6).start, 34816u);
  EXPECT_EQ(dump.partition(5).type, "83");
  EXPECT_EQ(dump.partition(2).type, "5");
  expectHealthy();
}

// A partition turned into an extended partition in place would have its
// first sector written as an EBR, an extended partition turned into a
// partition would lose its logical drives, and a second logical drive in one
// EBR is seen by the kernel but not by sfdisk or parted, which would then
// hand its space out again: all are refused with nothing written.
TEST_F(MbrOperationsOnImage, RefusesWritesThatWouldPutAnEbrOverDataOrHideALogicalDrive) {
  ASSERT_EQ(PartitionWithSfdisk(image, kPrimaryAndTwoLogicals), "");
  struct Change {
    const char* what;
    std::function<bool()> write;
  };
  const Change refused[] = {
      {"a logical drive made extended", [] { return SetPartitionTypeMBR(kImagePath, 5, 0x05); }},
      {"a primary made extended", [] { return SetPartitionTypeMBR(kImagePath, 1, 0x0F); }},
      {"the extended partition made a partition", [] { return SetPartitionTypeMBR(kImagePath, 2, 0x83); }},
      {"a second logical drive in the first EBR",
       [] { return CreatePartitionMBR(kImagePath, 7, 51200 * kSector, 4096 * kSector, false, 0x83); }},
  };
  const std::vector<std::uint8_t> before = imageBytes();
  for (const Change& change : refused) {
    EXPECT_FALSE(change.write()) << change.what;
    EXPECT_TRUE(imageBytes() == before) << change.what;
    EXPECT_EQ(messages.shown.size(), 1u) << change.what;
    messages.shown.clear();
  }
  // One extended type for another keeps the chain.
  EXPECT_TRUE(SetPartitionTypeMBR(kImagePath, 2, 0x0F));
  PeerTable dump = SfdiskDump(image);
  EXPECT_EQ(dump.partition(2).type, "f");
  EXPECT_EQ(dump.partition(6).start, 34816u);
  expectHealthy();
}

// Another tool may put a second logical drive into one EBR (the kernel and
// partx see it): it is read into the EBR's group of slots, kept when that EBR
// is rewritten, and deleted like any entry.
TEST_F(MbrOperationsOnImage, KeepsASecondLogicalDriveThatAnotherToolPutIntoAnEbr) {
  ASSERT_EQ(PartitionWithSfdisk(image, kPrimaryAndTwoLogicals), "");
  // The first EBR (at the extended partition's start) gets a second logical
  // drive in its third entry, in free space of the extended partition.
  constexpr std::uint64_t kEbr = 22528;
  std::vector<std::uint8_t> ebr = ReadFileRange(image, kEbr * kSector, kSector);
  PutMbrEntry(ebr, 0, 2, 0, 0x83, 51200 - kEbr, 4096);
  WriteFileRange(image, kEbr * kSector, ebr);
  auto partxStarts = [&] {
    std::vector<std::uint64_t> starts;
    for (const PeerPartition& p : PartxShow(image).partitions) starts.push_back(p.start);
    return starts;
  };
  ASSERT_EQ(partxStarts(), (std::vector<std::uint64_t>{2048, 22528, 24576, 51200, 34816}));

  EXPECT_EQ(currentLayout().slot(7).startingOffset(), static_cast<std::int64_t>(51200 * kSector));
  EXPECT_TRUE(SetPartitionTypeMBR(kImagePath, 5, 0x0C));
  const std::vector<std::uint8_t> after = ReadFileRange(image, kEbr * kSector, kSector);
  EXPECT_EQ(after[446 + 4], 0x0C);
  EXPECT_TRUE(std::equal(after.begin() + 446 + 16, after.end(), ebr.begin() + 446 + 16)) << "the EBR's other entries";
  EXPECT_EQ(partxStarts(), (std::vector<std::uint64_t>{2048, 22528, 24576, 51200, 34816}));

  EXPECT_TRUE(DeletePartitionMBR(kImagePath, 7));
  EXPECT_EQ(partxStarts(), (std::vector<std::uint64_t>{2048, 22528, 24576, 34816}));
  expectHealthy();
}

// Tables that another tool or a cut-short image left slightly damaged can
// still be changed elsewhere and repaired entry by entry: the damaged
// entries go back byte for byte or are deleted, while a new entry is still
// judged against them.
TEST_F(MbrOperationsOnImage, ADamagedTableIsChangedElsewhereAndRepairedEntryByEntry) {
  struct Damage {
    const char* what;
    std::vector<std::array<std::uint32_t, 4>> entries;  // slot index, type, start, sectors
  };
  const Damage damages[] = {
      {"an entry past the end", {{2, 0x83, 120000, 20000}}},
      {"an entry of length 0", {{2, 0x83, 50000, 0}}},
      {"overlapping primaries", {{2, 0x83, 30000, 10000}}},
      {"two extended partitions", {{2, 0x05, 50000, 10000}, {3, 0x05, 70000, 10000}}},
      {"an extended partition of length 0", {{2, 0x05, 50000, 0}}},
      {"an extended partition over sector 0", {{2, 0x05, 0, 2000}}},
  };
  const std::vector<std::uint8_t> pristine = ReadFileRange(image, 0, kSector);
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::vector<std::uint8_t> sector0 = pristine;
    for (const auto& [index, type, start, sectors] : damage.entries) {
      PutMbrEntry(sector0, 0, static_cast<int>(index), 0, static_cast<std::uint8_t>(type), start, sectors);
    }
    WriteFileRange(image, 0, sector0);
    auto damagedBytes = [&] {
      std::vector<std::uint8_t> now = ReadFileRange(image, 0, kSector);
      return std::vector<std::uint8_t>(now.begin() + 446 + 32, now.begin() + 510);
    };
    const std::vector<std::uint8_t> damaged = damagedBytes();

    // The layout written back as it was read changes nothing.
    EXPECT_TRUE(EditDriveLayout(kImagePath, [](LayoutBuffer&) {}));
    EXPECT_EQ(ReadFileRange(image, 0, kSector), sector0);
    EXPECT_TRUE(SetPartitionTypeMBR(kImagePath, 1, 0x0C));
    EXPECT_EQ(SfdiskDump(image).partition(1).type, "c");
    EXPECT_EQ(damagedBytes(), damaged) << "the damaged entries are not written back as they were";

    const auto [index, type, start, sectors] = damage.entries.front();
    if (damage.entries.size() == 1 && sectors > 0) {
      std::vector<std::uint8_t> before = imageBytes();
      EXPECT_FALSE(CreatePartitionMBR(kImagePath, 4, (start + 8) * kSector, 8 * kSector, false, 0x83));
      EXPECT_TRUE(imageBytes() == before) << "a new entry over a damaged one was written";
    }
    messages.shown.clear();
    for (const auto& entry : damage.entries)
      EXPECT_TRUE(DeletePartitionMBR(kImagePath, static_cast<std::uint8_t>(entry[0] + 1)));
    ASSERT_TRUE(SetPartitionTypeMBR(kImagePath, 1, 0x83));
    expectHealthy();
  }
}

TEST_F(MbrOperationsOnImage, CreateOverlappingAnotherEntryIsTheSystemsToRefuse) {
  // The operation checks nothing itself; whatever the stack answers, a
  // refusal is one message and leaves the disk as it was.
  std::vector<std::uint8_t> before = imageBytes();
  bool written = CreatePartitionMBR(kImagePath, 3, 4096 * kSector, 8192 * kSector, false, 0x83);
  if (written) {
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(SfdiskDump(image).partition(3).start, 4096u);
  } else {
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown.at(0).rfind("IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:", 0), 0u);
    EXPECT_TRUE(imageBytes() == before);
  }
  EXPECT_TRUE(markersIntact());
}

// Every operation on a disk of its style: one that is read-only refuses the
// write with the system's text and leaves the disk as it was (and takes it
// once writable again), one that does not exist fails at the read.
class LayoutOperationsOnImage : public ImageFixture, public ::testing::WithParamInterface<LayoutOperation> {
 protected:
  void SetUp() override {
    ImageFixture::SetUp();
    if (IsSkipped()) return;
    // Two primaries, or two GPT entries (Linux, then basic data) in the same places.
    ASSERT_EQ(PartitionWithSfdisk(image, GetParam().style == kStyleMbr ? kTwoPrimaries
                                                                       : "label: gpt\nstart=2048, size=20480\n"
                                                                         "start=22528, size=20480, type=EBD0A0A2-"
                                                                         "B9E5-4433-87C0-68B6B72699C7\n"),
              "");
    writeMarker(2 << 20);
    writeMarker(12 << 20);
  }
};

TEST_P(LayoutOperationsOnImage, WriteOnAReadOnlyDiskFailsWithTheWriteProtectText) {
  const std::vector<std::uint8_t> before = imageBytes();
  const std::string dumpBefore = SfdiskDump(image).text();
  ASSERT_TRUE(SetDiskAttributes(kImagePath, DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY));
  EXPECT_FALSE(GetParam().call(kImagePath, 2));
  EXPECT_EQ(messages.shown,
            (std::vector<std::string>{"IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:The disk is write-protected"}));
  EXPECT_TRUE(port.requests(IOCTL_DISK_UPDATE_PROPERTIES).empty());
  EXPECT_TRUE(imageBytes() == before);
  // Writable again, the same change goes through.
  messages.shown.clear();
  ASSERT_TRUE(SetDiskAttributes(kImagePath, 0, DISK_ATTRIBUTE_READ_ONLY));
  EXPECT_TRUE(GetParam().call(kImagePath, 2));
  EXPECT_NE(SfdiskDump(image).text(), dumpBefore);
  EXPECT_TRUE(SfdiskAccepts(image));
  EXPECT_TRUE(markersIntact());
  EXPECT_TRUE(messages.shown.empty()) << messages.shown.front();
}

TEST_P(LayoutOperationsOnImage, DiskThatDoesNotExistShowsTheReadFailureAndChangesNothing) {
  std::vector<std::uint8_t> before = imageBytes();
  EXPECT_FALSE(GetParam().call("\\\\.\\PhysicalDrive5", 1));
  EXPECT_EQ(messages.shown,
            (std::vector<std::string>{"IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:The disk handle is not valid"}));
  EXPECT_TRUE(imageBytes() == before);
}

INSTANTIATE_TEST_SUITE_P(Each, LayoutOperationsOnImage, ::testing::ValuesIn(kLayoutOperations), operationName);

}  // namespace
}  // namespace kestrin::test
