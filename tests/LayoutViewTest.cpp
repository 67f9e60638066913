// What the partition table view shows for a layout (row texts per style,
// filler rows, status text, menu state) with the real catalogue, the order
// in which a refresh hands these to its target, and the view of images
// that sfdisk and sgdisk made, read through Kestrin's own disk stack.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmulatedPort.h"
#include "FakeTable.h"
#include "LayoutView.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "RecordingPort.h"
#include "TestSupport.h"

namespace kestrin {
namespace {

using test::FakeTable;
using test::RecordingPort;

const std::string kPath = "\\\\.\\PhysicalDrive0";
const std::string kType07 = "(0x07) Advanced Unix QNX QNX OS/2 HPFS WindowsNT NTFS";
const std::string kLinuxFilesystem = "{0FC63DAF-8483-4772-8E79-3D69D8477DE4}";
const std::string kBasicData = "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}";

ViewRow row(std::string number, std::vector<std::string> cells) { return ViewRow{std::move(number), std::move(cells)}; }
const ViewRow kFiller{"0", {}};

LayoutBuffer layoutOf(std::uint32_t style, std::uint32_t count) {
  LayoutBuffer layout;
  layout.setPartitionStyle(style);
  layout.setPartitionCount(count);
  return layout;
}

void setGptEntry(LayoutBuffer& layout, int entry, const std::string& typeText, std::uint64_t attributes = 0) {
  LayoutSlot slot = layout.slot(entry);
  slot.setStyle(kStyleGpt);
  slot.setPartitionNumber(static_cast<std::uint32_t>(entry));
  slot.setStartingOffset(static_cast<std::int64_t>(entry) << 20);
  slot.setPartitionLength(std::int64_t{1} << 20);
  slot.setGptPartitionType(StringToGuid(typeText));
  slot.setGptAttributes(attributes);
}

// --- row texts ---

TEST(LayoutViewRows, MbrLayoutWithABootableType7FirstSlot) {
  LayoutBuffer layout = layoutOf(kStyleMbr, 4);
  LayoutSlot first = layout.slot(1);
  first.setPartitionNumber(1);
  first.setStartingOffset(1048576);
  first.setPartitionLength(104857600);
  first.setMbrHiddenSectors(2048);
  first.setMbrPartitionType(0x07);
  first.setMbrBootIndicator(true);
  std::vector<ViewRow> rows = LayoutRows(layout);
  ASSERT_EQ(rows.size(), 4u) << "no filler rows for MBR";
  EXPECT_EQ(rows[0], row("1", {"1048576", "104857600", "2048", kType07, "True"}));
  for (const ViewRow& r : rows) EXPECT_EQ(r.cells.size(), 5u) << "an MBR row has no Attributes cell";
  EXPECT_EQ(StatusText(kStyleMbr, 4), "Style: MBR, Count=4");
}

TEST(LayoutViewRows, AllZeroMbrSlotShowsTheEmptyEntryType) {
  LayoutBuffer layout = layoutOf(kStyleMbr, 1);
  EXPECT_EQ(SlotRow(layout, 1), row("0", {"0", "0", "0", "(0x00) NO-Partition empty entry", "False"}));
}

TEST(LayoutViewRows, AnyNonZeroBootIndicatorShowsTrue) {
  LayoutBuffer layout = layoutOf(kStyleMbr, 1);
  for (std::uint8_t boot : {0x01, 0x80, 0xFF}) {
    layout.bytes()[48 + 33] = boot;
    EXPECT_EQ(SlotRow(layout, 1).cells.at(4), "True") << int(boot);
  }
}

TEST(LayoutViewRows, MbrTypeTextWithOrWithoutCatalogueEntry) {
  EXPECT_EQ(MbrTypeText(0x07), kType07);
  EXPECT_EQ(MbrTypeText(0x00), "(0x00) NO-Partition empty entry");
  EXPECT_EQ(MbrTypeText(0xEE), "(0xEE) EFI");
  EXPECT_EQ(MbrTypeText(0x0B), "(0x0B) Windows95 with 32-bit FAT") << "upper-case hexadecimal";
  EXPECT_EQ(MbrTypeText(0x27), "39");
  EXPECT_EQ(MbrTypeText(0xEF), "239");
}

TEST(LayoutViewRows, NumbersAreSignedOrUnsignedPlainDecimal) {
  LayoutBuffer layout = layoutOf(kStyleMbr, 1);
  LayoutSlot slot = layout.slot(1);
  slot.setPartitionNumber(0xFFFFFFFF);
  slot.setStartingOffset(-1);
  slot.setPartitionLength(INT64_MIN);
  slot.setMbrHiddenSectors(0xFFFFFFFF);
  slot.setMbrPartitionType(0x27);
  EXPECT_EQ(SlotRow(layout, 1), row("4294967295", {"-1", "-9223372036854775808", "4294967295", "39", "False"}));
}

TEST(LayoutViewRows, GptRowHasEmptyHiddenSectorsAndBootCells) {
  LayoutBuffer layout = layoutOf(kStyleGpt, 3);
  setGptEntry(layout, 1, kBasicData, 0);
  setGptEntry(layout, 2, kLinuxFilesystem, 1ull << 63);
  setGptEntry(layout, 3, std::string(kNullGuidText), 0x0123456789ABCDEFull);
  EXPECT_EQ(SlotRow(layout, 1),
            row("1", {"1048576", "1048576", "", " PARTITION_BASIC_DATA_GUID", "", "0x0000000000000000"}));
  EXPECT_EQ(SlotRow(layout, 2), row("2", {"2097152", "1048576", "", kLinuxFilesystem, "", "0x8000000000000000"}));
  EXPECT_EQ(SlotRow(layout, 3),
            row("3", {"3145728", "1048576", "", " PARTITION_ENTRY_UNUSED_GUID", "", "0x0123456789ABCDEF"}));
}

TEST(LayoutViewRows, GptTypeTextAsksTheCatalogueWithUpperCaseText) {
  EXPECT_EQ(GptTypeText(StringToGuid("{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}")), " PARTITION_SYSTEM_GUID");
  EXPECT_EQ(GptTypeText(StringToGuid("{0fc63daf-8483-4772-8e79-3d69d8477de4}")), kLinuxFilesystem);
}

TEST(LayoutViewRows, OtherStylesShowNumberOffsetAndLengthOnly) {
  for (std::uint32_t style : {2u, 3u, 0xFFFFFFFFu}) {
    LayoutBuffer layout = layoutOf(style, 1);
    layout.slot(1).setPartitionNumber(5);
    layout.slot(1).setStartingOffset(512);
    layout.slot(1).setPartitionLength(1024);
    layout.slot(1).setMbrPartitionType(7);
    EXPECT_EQ(LayoutRows(layout), std::vector<ViewRow>{row("5", {"512", "1024"})}) << style;
  }
}

TEST(LayoutViewRows, TheHeaderStyleDecidesNotTheSlotStyle) {
  LayoutBuffer layout = layoutOf(kStyleGpt, 1);
  setGptEntry(layout, 1, kBasicData);
  layout.slot(1).setStyle(kStyleMbr);
  EXPECT_EQ(SlotRow(layout, 1).cells.size(), 6u);
  layout.setPartitionStyle(kStyleMbr);
  layout.slot(1).setStyle(kStyleGpt);
  EXPECT_EQ(SlotRow(layout, 1).cells.size(), 5u);
}

TEST(LayoutViewRows, GptLayoutsBelowFourSlotsGetFillerRows) {
  for (std::uint32_t count : {1u, 2u, 3u}) {
    LayoutBuffer layout = layoutOf(kStyleGpt, count);
    for (int e = 1; e <= static_cast<int>(count); ++e) setGptEntry(layout, e, kBasicData);
    std::vector<ViewRow> rows = LayoutRows(layout);
    ASSERT_EQ(rows.size(), 4u) << count;
    for (std::size_t i = 0; i < 4; ++i) {
      if (i < count) {
        EXPECT_EQ(rows[i].number, std::to_string(i + 1));
      } else {
        EXPECT_EQ(rows[i], kFiller) << "row " << i << " of " << count;
      }
    }
  }
}

TEST(LayoutViewRows, OneFillerRowOnlyWhereTheArrayAndAnEditsRecordHaveRoom) {
  EXPECT_TRUE(LayoutRows(layoutOf(kStyleGpt, 0)).empty());
  LayoutBuffer five = layoutOf(kStyleGpt, 5);
  five.setGptMaxPartitionCount(5);  // an entry array without room
  for (int e = 1; e <= 5; ++e) setGptEntry(five, e, kBasicData);
  std::vector<ViewRow> rows = LayoutRows(five);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4].number, "5");
  LayoutBuffer four = layoutOf(kStyleGpt, 4);
  four.setGptMaxPartitionCount(4);
  EXPECT_EQ(LayoutRows(four).size(), 4u);
  // An array with room: one filler row for the next entry, whether the
  // record read holds 64 slots or the whole table; none for a 65th entry,
  // which no edit's record can carry.
  five.setGptMaxPartitionCount(128);
  EXPECT_EQ(LayoutRows(five).size(), 6u);
  LayoutBuffer whole(5);
  std::copy_n(five.data(), whole.size(), whole.data());
  ASSERT_EQ(LayoutRows(whole).size(), 6u);
  EXPECT_EQ(LayoutRows(whole)[5], kFiller);
  LayoutBuffer full = layoutOf(kStyleGpt, 64);
  full.setGptMaxPartitionCount(128);
  EXPECT_EQ(LayoutRows(full).size(), 64u);
  EXPECT_EQ(LayoutRows(layoutOf(kStyleMbr, 1)).size(), 1u);
  EXPECT_EQ(LayoutRows(layoutOf(kStyleRaw, 2)).size(), 2u);
}

TEST(LayoutViewRows, CountUsesItsLowByteAndNeverReadsPastSlot64) {
  LayoutBuffer layout = layoutOf(kStyleMbr, 65);
  layout.slot(64).setPartitionNumber(64);
  std::vector<ViewRow> rows = LayoutRows(layout);
  ASSERT_EQ(rows.size(), 64u);
  EXPECT_EQ(rows.back().number, "64");

  EXPECT_EQ(LayoutRows(layoutOf(kStyleMbr, 255)).size(), 64u);
  EXPECT_TRUE(LayoutRows(layoutOf(kStyleGpt, 256)).empty()) << "low byte 0: no rows, no fillers";
  std::vector<ViewRow> wrapped = LayoutRows(layoutOf(kStyleGpt, 258));
  ASSERT_EQ(wrapped.size(), 4u) << "low byte 2: two slots and two fillers";
  EXPECT_EQ(wrapped[2], kFiller);
  EXPECT_EQ(LayoutRows(layoutOf(kStyleMbr, 300)).size(), 44u);
}

TEST(LayoutViewStatus, StyleWordAndCount) {
  EXPECT_EQ(StatusText(kStyleGpt, 2), "Style: GPT, Count=2");
  EXPECT_EQ(StatusText(kStyleGpt, 0), "Style: GPT, Count=0");
  EXPECT_EQ(StatusText(kStyleRaw, 0), "Style: , Count=0");
  EXPECT_EQ(StatusText(7, 255), "Style: , Count=255");
}

TEST(LayoutViewMenu, EachStyleEnablesItsOwnItems) {
  EXPECT_EQ(MenuStateForStyle(kStyleMbr), (StyleMenuState{true, false}));
  EXPECT_EQ(MenuStateForStyle(kStyleGpt), (StyleMenuState{false, true}));
  EXPECT_FALSE(MenuStateForStyle(kStyleRaw).has_value());
  EXPECT_FALSE(MenuStateForStyle(3).has_value());
  EXPECT_EQ(StyleMenuState{}, (StyleMenuState{true, true})) << "all items enabled before the first read";
}

// --- the refresh sequence ---

class RefreshTest : public ::testing::Test {
 protected:
  // Refreshes the view and gives what it handed the target this time.
  std::vector<std::string> refresh() {
    target.events.clear();
    RefreshLayoutView(kPath, state, target);
    return target.events;
  }

  RecordingPort port;
  ScopedPort installed{port};
  FakeTable target;
  LayoutViewState state;
};

TEST_F(RefreshTest, MbrLayoutInStepOrder) {
  port.layout = layoutOf(kStyleMbr, 4);
  for (int e = 1; e <= 4; ++e) port.layout.slot(e).setPartitionNumber(static_cast<std::uint32_t>(e));
  EXPECT_EQ(refresh(), (std::vector<std::string>{"clear", "menu mbr=on gpt=off", "status Style: MBR, Count=4", "row 1",
                                                 "row 2", "row 3", "row 4"}));
  EXPECT_EQ(state.diskStyle, 0u);
  EXPECT_EQ(state.entryCount, 4);
  ASSERT_EQ(port.calls.size(), 3u) << "open, read, close";
  EXPECT_EQ(port.calls[0].path, kPath);
  EXPECT_EQ(port.calls[0].access, GENERIC_READ);
  EXPECT_EQ(port.requestCodes(), std::vector<std::uint32_t>{IOCTL_DISK_GET_DRIVE_LAYOUT_EX});
}

TEST_F(RefreshTest, GptLayoutWithTwoSlotsShowsFourRows) {
  port.layout = layoutOf(kStyleGpt, 2);
  setGptEntry(port.layout, 1, kBasicData);
  setGptEntry(port.layout, 2, kLinuxFilesystem);
  EXPECT_EQ(refresh(), (std::vector<std::string>{"clear", "menu mbr=off gpt=on", "status Style: GPT, Count=2", "row 1",
                                                 "row 2", "row 0", "row 0"}));
  ASSERT_EQ(target.rows.size(), 4u);
  EXPECT_EQ(target.rows[3], kFiller);
  EXPECT_EQ(state.diskStyle, 1u);
}

TEST_F(RefreshTest, EmptyGptLayoutHasNoRows) {
  port.layout = layoutOf(kStyleGpt, 0);
  EXPECT_EQ(refresh(), (std::vector<std::string>{"clear", "menu mbr=off gpt=on", "status Style: GPT, Count=0"}));
}

TEST_F(RefreshTest, RawDiskLeavesTheMenuAsItWas) {
  port.layout = layoutOf(kStyleGpt, 0);
  refresh();
  port.layout = layoutOf(kStyleRaw, 0);
  EXPECT_EQ(refresh(), (std::vector<std::string>{"clear", "status Style: , Count=0"}));
  EXPECT_EQ(state.diskStyle, 2u);
  EXPECT_EQ(state.entryCount, 0);
}

TEST_F(RefreshTest, ReadFailureRightAfterStartShowsOneMessageAndChangesNothing) {
  port.failOpen(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(refresh(),
            (std::vector<std::string>{"clear", "status ", "error IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 6"}));
  EXPECT_EQ(state.diskStyle, 0u);
  EXPECT_EQ(state.entryCount, 0);
}

TEST_F(RefreshTest, ReadFailureEmptiesTheStatusAndKeepsTheStateOfTheLastGoodRead) {
  port.layout = layoutOf(kStyleGpt, 5);
  refresh();
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_NOT_READY);
  EXPECT_EQ(refresh(), (std::vector<std::string>{"clear", "status ",
                                                 "error IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Test error 21"}));
  EXPECT_EQ(state.diskStyle, 1u);
  EXPECT_EQ(state.entryCount, 5);
}

TEST_F(RefreshTest, SlotsOfAnEarlierReadNeverShow) {
  port.layout = layoutOf(kStyleGpt, 5);
  for (int e = 1; e <= 5; ++e) setGptEntry(port.layout, e, kBasicData);
  RefreshLayoutView(kPath, state, target);
  // The disk now reports two entries; the port leaves the bytes past them
  // as the caller's buffer had them, so a reused buffer would show 3 and 4.
  port.layout.setPartitionCount(2);
  target.rows.clear();
  RefreshLayoutView(kPath, state, target);
  ASSERT_EQ(target.rows.size(), 4u);
  EXPECT_EQ(target.rows[2], kFiller);
  EXPECT_EQ(target.rows[3], kFiller);
}

TEST_F(RefreshTest, AnErrorWhileAddingRowsIsShownNotRaised) {
  port.layout = layoutOf(kStyleMbr, 4);
  target.failOnRow = true;
  EXPECT_NO_THROW(RefreshLayoutView(kPath, state, target));
  EXPECT_EQ(target.events, (std::vector<std::string>{"clear", "menu mbr=on gpt=off", "status Style: MBR, Count=4",
                                                     "error row failed"}));
  EXPECT_EQ(state.entryCount, 4) << "the steps done before the error stay done";
}

// A port that returns a whole buffer whatever its count says, as no
// system does: the view must still stay inside the 64 slots.
class OverfullPort : public RecordingPort {
 public:
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override {
    if (code != IOCTL_DISK_GET_DRIVE_LAYOUT_EX || outputSize != kLayoutBufferSize) {
      return RecordingPort::DiskControl(handle, code, input, inputSize, output, outputSize, bytesReturned);
    }
    std::memcpy(output, layout.data(), kLayoutBufferSize);
    return true;
  }
};

TEST(Refresh, ACountAbove64ShowsAtMost64RowsAndTheCountItself) {
  OverfullPort port;
  ScopedPort installed(port);
  port.layout = layoutOf(kStyleGpt, 65);
  for (int e = 1; e <= 64; ++e) setGptEntry(port.layout, e, kBasicData);
  FakeTable target;
  LayoutViewState state;
  RefreshLayoutView(kPath, state, target);
  EXPECT_EQ(state.entryCount, 65);
  ASSERT_EQ(target.rows.size(), 64u);
  EXPECT_EQ(target.rows.back().number, "64");
  EXPECT_EQ(target.events.at(2), "status Style: GPT, Count=65");
  for (const std::string& event : target.events) EXPECT_EQ(event.rfind("error", 0), std::string::npos) << event;
}

// --- images made by the peers, read through Kestrin's disk stack ---

class PeerImageView : public ::testing::Test {
 protected:
  std::vector<ViewRow> refresh() {
    RefreshLayoutView(kPath, state, target);
    return target.rows;
  }

  test::TempDir dir;
  std::string image = dir.file("disk.img");
  EmulatedPort stack{DiskMap{DiskSpec{image, 0}}};
  ScopedPort installed{stack};
  FakeTable target;
  LayoutViewState state;
};

TEST_F(PeerImageView, MbrMadeBySfdisk) {
  ASSERT_EQ(
      test::MakeSfdiskImage(image, 32 << 20,
                            "label: dos\nstart=2048, size=4096, type=7, bootable\nstart=8192, size=2048, type=27\n"),
      "");
  std::vector<ViewRow> rows = refresh();
  EXPECT_EQ(target.events.at(2), "status Style: MBR, Count=4");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], row("1", {std::to_string(2048 * 512), std::to_string(4096 * 512), "2048", kType07, "True"}));
  EXPECT_EQ(rows[1], row("2", {std::to_string(8192 * 512), std::to_string(2048 * 512), "8192", "39", "False"}));
  EXPECT_EQ(rows[2], row("0", {"0", "0", "0", "(0x00) NO-Partition empty entry", "False"}));
  EXPECT_EQ(rows[3], rows[2]);
}

TEST_F(PeerImageView, GptMadeBySgdiskAgreesWithSgdisk) {
  ASSERT_EQ(test::MakeSgdiskImage(image, 32 << 20,
                                  {"-n", "1:2048:+4M", "-t", "1:0700", "-n", "2:0:+2M", "-t", "2:8300", "-A",
                                   "2:set:63", "-A", "2:set:0"}),
            "");
  std::vector<ViewRow> rows = refresh();
  EXPECT_EQ(target.events.at(1), "menu mbr=off gpt=on");
  EXPECT_EQ(target.events.at(2), "status Style: GPT, Count=2");
  ASSERT_EQ(rows.size(), 4u);
  for (int number : {1, 2}) {
    std::optional<test::PeerPartition> peer = test::SgdiskInfo(image, number);
    ASSERT_TRUE(peer) << number;
    const ViewRow& r = rows[number - 1];
    ASSERT_EQ(r.cells.size(), 6u);
    EXPECT_EQ(r.cells[0], std::to_string(peer->start * 512));
    EXPECT_EQ(r.cells[1], std::to_string(peer->size * 512));
    std::string peerType = "{" + peer->type + "}";
    EXPECT_EQ(r.cells[3], peerType == kBasicData ? " PARTITION_BASIC_DATA_GUID" : peerType);
    char attributes[19];
    std::snprintf(attributes, sizeof attributes, "0x%016llX", static_cast<unsigned long long>(peer->attributes));
    EXPECT_EQ(r.cells[5], attributes);
  }
  EXPECT_EQ(rows[1].cells[3], kLinuxFilesystem);
  EXPECT_EQ(rows[1].cells[5], "0x8000000000000001");
  EXPECT_EQ(rows[2], kFiller);
}

TEST_F(PeerImageView, BlankImageIsRaw) {
  test::MakeSparseFile(image, 8 << 20);
  EXPECT_TRUE(refresh().empty());
  EXPECT_EQ(target.events, (std::vector<std::string>{"clear", "status Style: , Count=0"}));
  EXPECT_EQ(state.diskStyle, 2u);
}

TEST_F(PeerImageView, MissingDiskShowsTheInvalidHandleText) {
  RefreshLayoutView("\\\\.\\PhysicalDrive1", state, target);
  EXPECT_EQ(target.events,
            (std::vector<std::string>{"clear", "status ",
                                      "error IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:The disk handle is not valid"}));
}

}  // namespace
}  // namespace kestrin
