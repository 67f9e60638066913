// The kernel partition list sync: which partitions the kernel should hold
// for a layout, the BLKPG plan, and the plan carried out on a loop device
// of the test's own (hand-built layouts, so no codec is involved).

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <initializer_list>
#include <ostream>

#include "Guid.h"
#include "LayoutBuffer.h"
#include "PartitionSync.h"
#include "PartitionedLoopDevice.h"
#include "TestSupport.h"

namespace kestrin {

// Readable failure output for the lists and plans compared below.
void PrintTo(const KernelPartition& p, std::ostream* os) {
  *os << "#" << p.number << " at " << p.start << " length " << p.length << (p.container ? " (extended)" : "");
}
void PrintTo(const PartitionChange& c, std::ostream* os) {
  static const char* const kNames[] = {"remove ", "resize ", "add "};
  *os << kNames[static_cast<int>(c.kind)];
  PrintTo(c.partition, os);
}

namespace {

using test::HeldPartition;
using test::KernelPartitionList;
using test::PartitionedLoopDevice;
using test::TempDir;
using Kind = PartitionChange::Kind;

constexpr std::int64_t kMiB = 1 << 20;
const Guid kLinuxData = StringToGuid("{0FC63DAF-8483-4772-8E79-3D69D8477DE4}");

void setGptSlot(LayoutBuffer& layout, int entry, std::uint32_t number, std::int64_t start, std::int64_t length,
                const Guid& type = kLinuxData) {
  LayoutSlot slot = layout.slot(entry);
  slot.setStyle(kStyleGpt);
  slot.setPartitionNumber(number);
  slot.setStartingOffset(start);
  slot.setPartitionLength(length);
  slot.setGptPartitionType(type);
}

void setMbrSlot(LayoutBuffer& layout, int entry, std::uint8_t type, std::int64_t start, std::int64_t length) {
  LayoutSlot slot = layout.slot(entry);
  slot.setStyle(kStyleMbr);
  slot.setMbrPartitionType(type);
  slot.setStartingOffset(start);
  slot.setPartitionLength(length);
}

// A GPT layout of Linux data partitions, one a slot: {number, start, length}.
LayoutBuffer gptLayout(std::initializer_list<std::array<std::int64_t, 3>> partitions = {}) {
  LayoutBuffer layout;
  layout.setPartitionStyle(kStyleGpt);
  layout.setPartitionCount(static_cast<std::uint32_t>(partitions.size()));
  int entry = 0;
  for (const auto& [number, start, length] : partitions) {
    setGptSlot(layout, ++entry, static_cast<std::uint32_t>(number), start, length);
  }
  return layout;
}

// An MBR layout as the decoder reports one: four primaries (the third the
// extended partition), then EBR groups of four slots. The third group's EBR
// holds no logical drive, only the link onwards.
LayoutBuffer mbrLayoutWithLogicals(std::int64_t extendedStart) {
  LayoutBuffer layout;
  layout.setPartitionStyle(kStyleMbr);
  layout.setPartitionCount(20);
  setMbrSlot(layout, 1, 0x83, 1 * kMiB, 4 * kMiB);
  setMbrSlot(layout, 3, 0x05, extendedStart, 32 * kMiB);
  setMbrSlot(layout, 5, 0x83, extendedStart + 1 * kMiB, 4 * kMiB);   // logical, first EBR
  setMbrSlot(layout, 6, 0x05, extendedStart + 6 * kMiB, 6 * kMiB);   // link
  setMbrSlot(layout, 9, 0x07, extendedStart + 7 * kMiB, 4 * kMiB);   // logical, second EBR
  setMbrSlot(layout, 10, 0x05, extendedStart + 12 * kMiB, 1 * kMiB); // link to an EBR without a logical
  setMbrSlot(layout, 14, 0x05, extendedStart + 14 * kMiB, 6 * kMiB); // its link onwards
  setMbrSlot(layout, 17, 0x0C, extendedStart + 15 * kMiB, 4 * kMiB); // logical, fourth EBR
  return layout;
}

TEST(KernelPartitionsOfLayout, GptEntriesKeepTheirArrayPositionsAndEmptySlotsAreLeftOut) {
  LayoutBuffer layout = gptLayout();
  layout.setPartitionCount(3);
  setGptSlot(layout, 1, 4, 20 * kMiB, 2 * kMiB);
  setGptSlot(layout, 2, 1, 1 * kMiB, 3 * kMiB);
  setGptSlot(layout, 3, 2, 8 * kMiB, 1 * kMiB, Guid{});  // deleted: null type
  // A slot beyond the count is stale and must not count.
  setGptSlot(layout, 4, 7, 40 * kMiB, 1 * kMiB);

  std::vector<KernelPartition> wanted = KernelPartitionsOfLayout(layout, 512);

  std::vector<KernelPartition> expected{{1, 1 * kMiB, 3 * kMiB, false}, {4, 20 * kMiB, 2 * kMiB, false}};
  EXPECT_EQ(wanted, expected);
}

TEST(KernelPartitionsOfLayout, MbrPrimariesBySlotAndLogicalDrivesFromFiveInChainOrder) {
  const std::int64_t extended = 16 * kMiB;
  std::vector<KernelPartition> wanted = KernelPartitionsOfLayout(mbrLayoutWithLogicals(extended), 512);

  ASSERT_EQ(wanted.size(), 5u);
  EXPECT_EQ(wanted[0], (KernelPartition{1, 1 * kMiB, 4 * kMiB}));
  // The extended partition: only its first kilobyte is visible.
  EXPECT_EQ(wanted[1], (KernelPartition{3, extended, 1024}));
  EXPECT_TRUE(wanted[1].container);
  EXPECT_EQ(wanted[2], (KernelPartition{5, extended + 1 * kMiB, 4 * kMiB}));
  EXPECT_EQ(wanted[3], (KernelPartition{6, extended + 7 * kMiB, 4 * kMiB}));
  // The EBR without a logical drive takes no number.
  EXPECT_EQ(wanted[4], (KernelPartition{7, extended + 15 * kMiB, 4 * kMiB}));
}

TEST(KernelPartitionsOfLayout, ExtendedPartitionShowsOneSectorOnA4096ByteDisk) {
  std::vector<KernelPartition> wanted = KernelPartitionsOfLayout(mbrLayoutWithLogicals(16 * kMiB), 4096);
  ASSERT_GE(wanted.size(), 2u);
  EXPECT_EQ(wanted[1].length, 4096);
}

TEST(KernelPartitionsOfLayout, RawLayoutHasNoPartitions) {
  LayoutBuffer layout = mbrLayoutWithLogicals(16 * kMiB);
  layout.setPartitionStyle(kStyleRaw);
  EXPECT_TRUE(KernelPartitionsOfLayout(layout, 512).empty());
}

TEST(PlanPartitionChanges, RemovesFirstThenShrinksThenGrowsDataBeforeContainers) {
  std::vector<KernelPartition> current{{1, 1 * kMiB, 4 * kMiB},
                                       {2, 8 * kMiB, 8 * kMiB},
                                       {3, 20 * kMiB, 8 * kMiB},
                                       {6, 40 * kMiB, 1 * kMiB},
                                       {7, 50 * kMiB, 1 * kMiB}};
  std::vector<KernelPartition> wanted{{1, 1 * kMiB, 4 * kMiB},          // unchanged
                                      {2, 8 * kMiB, 10 * kMiB},         // grows
                                      {3, 20 * kMiB, 2 * kMiB},         // shrinks
                                      {4, 30 * kMiB, 1024, true},       // new extended partition
                                      {5, 31 * kMiB, 1 * kMiB},         // new logical drive
                                      {7, 52 * kMiB, 1 * kMiB}};        // moves
  std::vector<PartitionChange> plan = PlanPartitionChanges(current, wanted);

  std::vector<PartitionChange> expected{
      {Kind::Remove, {6, 40 * kMiB, 1 * kMiB}},  {Kind::Remove, {7, 50 * kMiB, 1 * kMiB}},
      {Kind::Resize, {3, 20 * kMiB, 2 * kMiB}},  {Kind::Resize, {2, 8 * kMiB, 10 * kMiB}},
      {Kind::Add, {7, 52 * kMiB, 1 * kMiB}},     {Kind::Add, {5, 31 * kMiB, 1 * kMiB}},
      {Kind::Add, {4, 30 * kMiB, 1024, true}}};
  EXPECT_EQ(plan, expected);
}

TEST(PlanPartitionChanges, NothingToDoWhenTheListsAgree) {
  std::vector<KernelPartition> list{{1, 1 * kMiB, 4 * kMiB}, {5, 8 * kMiB, 8 * kMiB}};
  EXPECT_TRUE(PlanPartitionChanges(list, list).empty());
}

// --- on a loop device of the test's own ---

std::map<int, std::pair<std::uint64_t, std::uint64_t>> inSysfsUnits(const std::vector<KernelPartition>& partitions) {
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> list;
  for (const KernelPartition& p : partitions) {
    list[p.number] = {static_cast<std::uint64_t>(p.start / 512), static_cast<std::uint64_t>(p.length / 512)};
  }
  return list;
}

TEST(SyncKernelPartitions, AppliesHandBuiltLayoutsPartitionByPartitionWhileTheKernelRefusesToReread) {
  TempDir dir;
  std::string image = dir.file("blank.img");
  test::MakeSparseFile(image, 64 * kMiB);  // no table at all on the disk
  PartitionedLoopDevice loop(image);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();

  // First a GPT-style list with a gap in the numbers.
  LayoutBuffer first = gptLayout({{1, 1 * kMiB, 4 * kMiB}, {3, 8 * kMiB, 4 * kMiB}});
  std::vector<KernelPartition> firstWanted = KernelPartitionsOfLayout(first, 512);
  PartitionSyncReport report = SyncKernelPartitions(loop.fd(), loop.sysfsDirectory(), firstWanted);
  EXPECT_TRUE(report.inLine);
  EXPECT_EQ(KernelPartitionList(loop.sysfsDirectory()), inSysfsUnits(firstWanted));

  // Partition 1 in use: the re-read is refused and BLKPG has to do it all.
  HeldPartition held(loop, 1, dir.path());
  ASSERT_TRUE(held.open());
  LayoutBuffer second = mbrLayoutWithLogicals(16 * kMiB);
  setMbrSlot(second, 1, 0x83, 1 * kMiB, 6 * kMiB);  // grows in place, while open
  std::vector<KernelPartition> secondWanted = KernelPartitionsOfLayout(second, 512);
  report = SyncKernelPartitions(loop.fd(), loop.sysfsDirectory(), secondWanted);

  EXPECT_EQ(report.rereadErrno, EBUSY);
  EXPECT_TRUE(report.refused.empty());
  EXPECT_TRUE(report.inLine);
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> expected{
      {1, {2048, 12288}}, {3, {32768, 2}}, {5, {34816, 8192}}, {6, {47104, 8192}}, {7, {63488, 8192}}};
  EXPECT_EQ(KernelPartitionList(loop.sysfsDirectory()), expected);
  // Partition 3 moves (it becomes the extended partition): removed, then
  // added again last.
  std::vector<PartitionChange> applied{{Kind::Remove, {3, 8 * kMiB, 4 * kMiB}},
                                       {Kind::Resize, {1, 1 * kMiB, 6 * kMiB}},
                                       {Kind::Add, {5, 17 * kMiB, 4 * kMiB}},
                                       {Kind::Add, {6, 23 * kMiB, 4 * kMiB}},
                                       {Kind::Add, {7, 31 * kMiB, 4 * kMiB}},
                                       {Kind::Add, {3, 16 * kMiB, 1024, true}}};
  EXPECT_EQ(report.applied, applied);
}

TEST(SyncKernelPartitions, APartitionInUseStaysAndTheOtherChangesAreStillMade) {
  TempDir dir;
  std::string image = dir.file("blank.img");
  test::MakeSparseFile(image, 64 * kMiB);
  PartitionedLoopDevice loop(image);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  LayoutBuffer layout = gptLayout({{1, 1 * kMiB, 4 * kMiB}, {2, 8 * kMiB, 4 * kMiB}});
  ASSERT_TRUE(SyncKernelPartitions(loop.fd(), loop.sysfsDirectory(), KernelPartitionsOfLayout(layout, 512)).inLine);

  HeldPartition held(loop, 2, dir.path());
  ASSERT_TRUE(held.open());
  LayoutBuffer without2 = gptLayout({{1, 1 * kMiB, 2 * kMiB}, {3, 20 * kMiB, 4 * kMiB}});
  PartitionSyncReport report =
      SyncKernelPartitions(loop.fd(), loop.sysfsDirectory(), KernelPartitionsOfLayout(without2, 512));

  EXPECT_FALSE(report.inLine);
  ASSERT_EQ(report.refused.size(), 1u);
  EXPECT_EQ(report.refused[0].kind, Kind::Remove);
  EXPECT_EQ(report.refused[0].partition.number, 2);
  EXPECT_EQ(report.refusedErrnos[0], EBUSY);
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> expected{
      {1, {2048, 4096}}, {2, {16384, 8192}}, {3, {40960, 8192}}};
  EXPECT_EQ(KernelPartitionList(loop.sysfsDirectory()), expected);
}

}  // namespace
}  // namespace kestrin
