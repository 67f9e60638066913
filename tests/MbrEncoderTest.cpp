// Writing MBR layouts: what reaches the disk is read back by sfdisk, partx,
// parted and fdisk; refused layouts leave every byte as it was; writes go
// out in the crash-safe order and only where a sector changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "ByteOrder.h"
#include "ImageMedia.h"
#include "LayoutCodec.h"
#include "MbrBytes.h"
#include "MbrSparseMedium.h"
#include "MemoryMedium.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "RuleFindings.h"
#include "Port.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Two primaries, an extended partition and three logical drives on 8 MiB.
constexpr const char* kSmallScript =
    "label: dos\n"
    "label-id: 0x0badcafe\n"
    "start=64,size=1024,type=83,bootable\n"
    "start=1088,size=1024,type=7\n"
    "start=2112,type=5\n"
    "start=2176,size=512,type=83\n"
    "start=2752,size=512,type=82\n"
    "start=3328,size=512,type=c\n";
constexpr std::uint64_t kSmallSize = 8 * kMiB;

LayoutBuffer decode(SectorReader& medium) {
  LayoutBuffer layout;
  EXPECT_EQ(DecodeMbr(medium, layout), ERROR_SUCCESS);
  return layout;
}

// The small sfdisk image, loaded into memory.
MemoryMedium smallDisk(const TempDir& dir) {
  std::string image = dir.file("small.img");
  EXPECT_EQ(MakeSfdiskImage(image, kSmallSize, kSmallScript), "");
  MemoryMedium disk(kSmallSize, 512);
  disk.bytes = ReadFileRange(image, 0, kSmallSize);
  return disk;
}

// The EBR sectors of a decoded layout, in chain order.
std::vector<std::uint64_t> ebrSectors(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  std::vector<std::uint64_t> ebrs;
  for (int entry = 1; entry <= 4; ++entry) {
    std::uint8_t type = layout.slot(entry).mbrPartitionType();
    if (type == 0x05 || type == 0x0F) ebrs.push_back(layout.slot(entry).startingOffset() / sectorSize);
  }
  for (int link = 6; link <= static_cast<int>(layout.partitionCount()); link += 4) {
    if (layout.slot(link).mbrPartitionType() != 0) ebrs.push_back(layout.slot(link).startingOffset() / sectorSize);
  }
  return ebrs;
}

void expectSameEntries(const LayoutBuffer& written, const LayoutBuffer& read) {
  ASSERT_EQ(read.partitionCount(), written.partitionCount());
  EXPECT_EQ(read.mbrSignature(), written.mbrSignature());
  for (int entry = 1; entry <= static_cast<int>(written.partitionCount()); ++entry) {
    SCOPED_TRACE("slot " + std::to_string(entry));
    ConstLayoutSlot w = written.slot(entry);
    ConstLayoutSlot r = read.slot(entry);
    EXPECT_EQ(r.mbrPartitionType(), w.mbrPartitionType());
    if (w.mbrPartitionType() == 0) continue;
    EXPECT_EQ(r.startingOffset(), w.startingOffset());
    EXPECT_EQ(r.partitionLength(), w.partitionLength());
    EXPECT_EQ(r.mbrBootIndicator(), w.mbrBootIndicator());
  }
}

// Fills bytes [from, to) of the sector at `offset` of an image with a
// pattern, standing for boot code that must survive.
void fillPattern(const std::string& image, std::uint64_t offset, std::size_t from, std::size_t to) {
  std::vector<std::uint8_t> pattern(to - from);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(0x5A ^ (i * 7));
  WriteFileRange(image, offset + from, pattern);
}

// Refuses `layout` on `disk`, writing nothing, with a problem of `rule` about
// slot `entry` among its findings.
void expectRefused(SectorDevice& disk, const LayoutBuffer& layout, const char* rule, int entry) {
  check::Findings why;
  EXPECT_EQ(EncodeMbr(disk, layout, &why), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(NamesProblem(why, rule, entry));
}

// --- rewrites checked by peer tools ---

TEST(MbrEncode, RewritingOnePrimaryAgreesWithEveryPeerAndKeepsTheEbrs) {
  TempDir dir;
  std::string image = dir.file("rewrite.img");
  ASSERT_EQ(MakeSfdiskImage(image, kSmallSize, kSmallScript), "");
  LayoutBuffer layout;
  std::vector<std::uint64_t> ebrs;
  {
    auto medium = OpenImage(image, 512);
    ASSERT_NE(medium, nullptr);
    layout = decode(*medium);
    ebrs = ebrSectors(layout, 512);
  }
  ASSERT_EQ(ebrs.size(), 3u);
  // Boot code in sector 0 and in every EBR, which must all survive.
  fillPattern(image, 0, 0, 440);
  fillPattern(image, 0, 444, 446);
  for (std::uint64_t ebr : ebrs) fillPattern(image, ebr * 512, 0, 446);
  std::vector<std::vector<std::uint8_t>> ebrBefore;
  for (std::uint64_t ebr : ebrs) ebrBefore.push_back(ReadFileRange(image, ebr * 512, 512));
  std::vector<std::uint8_t> sector0Before = ReadFileRange(image, 0, 512);

  // Primary 2 becomes a bootable FAT32 partition; primary 1 loses its flag.
  layout.slot(2).setMbrPartitionType(0x0C);
  layout.slot(2).setMbrBootIndicator(true);
  layout.slot(2).setRewritePartition(true);
  layout.slot(1).setMbrBootIndicator(false);
  {
    auto medium = OpenImage(image, 512, true);
    ASSERT_NE(medium, nullptr);
    ASSERT_EQ(EncodeMbr(*medium, layout), ERROR_SUCCESS);
    expectSameEntries(layout, decode(*medium));
  }

  std::string report;
  EXPECT_TRUE(SfdiskVerifies(image, &report)) << report;
  EXPECT_NE(report.find("No errors detected"), std::string::npos) << report;
  ASSERT_EQ(SfdiskDump(image).partitions.size(), 6u);
  ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskDump, Peer::SfdiskJson, Peer::Partx, Peer::Parted});

  for (std::size_t i = 0; i < ebrs.size(); ++i) {
    EXPECT_EQ(ReadFileRange(image, ebrs[i] * 512, 512), ebrBefore[i]) << "EBR " << i;
  }
  std::vector<std::uint8_t> sector0 = ReadFileRange(image, 0, 512);
  EXPECT_TRUE(std::equal(sector0.begin(), sector0.begin() + 440, sector0Before.begin()));
  EXPECT_TRUE(std::equal(sector0.begin() + 440, sector0.begin() + 446, sector0Before.begin() + 440));
  EXPECT_TRUE(std::equal(sector0.begin() + 446 + 32, sector0.end(), sector0Before.begin() + 446 + 32))
      << "entries 3 and 4 and the boot signature are unchanged";
}

TEST(MbrEncode, WritesTheSameEntryBytesAsSfdiskIncludingChsPastCylinder1023) {
  TempDir dir;
  std::string image = dir.file("big.img");
  // 20 GiB, sparse: primary 2 crosses cylinder 1024 (at LBA 16450560), the
  // extended partition and its logical drives lie past it.
  ASSERT_EQ(MakeSfdiskImage(image, 20 * 1024 * kMiB,
                            "label: dos\n"
                            "start=2048,size=16000000,type=83,bootable\n"
                            "start=16002048,size=500000,type=7\n"
                            "start=16502048,type=f\n"
                            "start=16504096,size=100000,type=83\n"
                            "start=16606240,size=100000,type=83\n"),
            "");
  auto medium = OpenImage(image, 512);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout = decode(*medium);
  std::vector<std::uint64_t> ebrs = ebrSectors(layout, 512);
  ASSERT_EQ(ebrs.size(), 2u);

  MbrSparseMedium blank(medium->sectorCount(), 512);
  ASSERT_EQ(EncodeMbr(blank, layout), ERROR_SUCCESS);
  std::vector<std::uint64_t> tables = ebrs;
  tables.insert(tables.begin(), 0);
  for (std::uint64_t lba : tables) {
    std::vector<std::uint8_t> ours = blank.sector(lba);
    std::vector<std::uint8_t> theirs = ReadFileRange(image, lba * 512, 512);
    EXPECT_TRUE(std::equal(ours.begin() + 440, ours.end(), theirs.begin() + 440)) << "table at LBA " << lba;
  }
}

TEST(MbrEncode, A4096ByteSectorRewriteAgreesWithFdisk) {
  TempDir dir;
  std::string image = dir.file("4k.img");
  MakeSparseFile(image, 256 * kMiB);
  RunResult made = test::Run({"fdisk", "-b", "4096", image},
                             "o\nn\np\n1\n256\n1279\nn\ne\n2\n2048\n32767\n"
                             "n\nl\n2304\n3327\nn\nl\n3584\n4607\nw\n");
  ASSERT_EQ(made.exitCode, 0) << made.err;
  // Sector 0 is 4096 bytes: everything past the table must survive too.
  fillPattern(image, 0, 512, 4096);
  std::vector<std::uint8_t> before = ReadFileRange(image, 0, 64 * 4096);

  auto medium = OpenImage(image, 4096, true);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout = decode(*medium);
  ASSERT_EQ(layout.partitionCount(), 12u);
  layout.slot(1).setMbrPartitionType(0x07);
  layout.slot(3).setStartingOffset(40960 * 4096);  // a new primary after the extended partition
  layout.slot(3).setPartitionLength(1024 * 4096);
  layout.slot(3).setMbrPartitionType(0x0C);
  ASSERT_EQ(EncodeMbr(*medium, layout), ERROR_SUCCESS);
  expectSameEntries(layout, decode(*medium));
  medium.reset();

  ExpectPeersSeeLayout(layout, image, 4096, {Peer::Fdisk});
  std::vector<std::uint8_t> after = ReadFileRange(image, 0, 64 * 4096);
  EXPECT_TRUE(std::equal(after.begin() + 512, after.end(), before.begin() + 512)) << "only the table changed";
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 446, before.begin()));
}

TEST(MbrEncode, AddsTheFirstLogicalDriveToAnEmptyExtendedPartition) {
  TempDir dir;
  std::string image = dir.file("empty-extended.img");
  ASSERT_EQ(MakeSfdiskImage(image, kSmallSize, "label: dos\nstart=64,size=1024,type=83\nstart=2048,type=5\n"), "");
  auto medium = OpenImage(image, 512, true);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout = decode(*medium);
  ASSERT_EQ(layout.partitionCount(), 4u);
  layout.setPartitionCount(8);
  LayoutSlot logical = layout.slot(5);
  logical.setStartingOffset((2048 + 64) * 512);
  logical.setPartitionLength(2048 * 512);
  logical.setMbrPartitionType(0x83);
  ASSERT_EQ(EncodeMbr(*medium, layout), ERROR_SUCCESS);
  expectSameEntries(layout, decode(*medium));
  medium.reset();

  EXPECT_TRUE(SfdiskAccepts(image));
  ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskDump, Peer::Partx});
}

// Deleting a logical drive empties its slot and leaves its EBR in the
// chain: an EBR with only a link (the first drive deleted) or with nothing
// (the last one deleted). Both read back the same, and the peers see the
// remaining drives.
TEST(MbrEncode, DeletingALogicalDriveKeepsItsEbrInTheChain) {
  for (int deleted : {5, 13}) {
    SCOPED_TRACE("slot " + std::to_string(deleted));
    TempDir dir;
    std::string image = dir.file("delete.img");
    ASSERT_EQ(MakeSfdiskImage(image, kSmallSize, kSmallScript), "");
    auto medium = OpenImage(image, 512, true);
    ASSERT_NE(medium, nullptr);
    LayoutBuffer layout = decode(*medium);
    auto slot = layout.slot(deleted).bytes();
    std::fill(slot.begin(), slot.end(), 0);
    layout.slot(deleted).setRewritePartition(true);
    ASSERT_EQ(EncodeMbr(*medium, layout), ERROR_SUCCESS);
    LayoutBuffer after = decode(*medium);
    expectSameEntries(layout, after);
    EXPECT_EQ(after.partitionCount(), 16u);
    medium.reset();

    EXPECT_TRUE(SfdiskAccepts(image));
    ASSERT_EQ(SfdiskDump(image).partitions.size(), 5u);
    ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskDump, Peer::Partx, Peer::Parted});
  }
}

// --- what is written, and in which order ---

TEST(MbrEncode, TheLayoutAsReadWritesNothing) {
  TempDir dir;
  MemoryMedium disk = smallDisk(dir);
  LayoutBuffer layout = decode(disk);
  ASSERT_EQ(layout.partitionCount(), 16u);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 0u);
  EXPECT_EQ(disk.flushes, 0u);
}

TEST(MbrEncode, ChangingOneLogicalDriveWritesOnlyItsEbr) {
  TempDir dir;
  MemoryMedium disk = smallDisk(dir);
  std::vector<std::uint8_t> before = disk.bytes;
  LayoutBuffer layout = decode(disk);
  std::uint64_t ebr = ebrSectors(layout, 512).at(1);
  layout.slot(9).setMbrPartitionType(0x83);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 1u);
  EXPECT_EQ(disk.flushes, 1u);
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == disk.bytes[i]) continue;
    EXPECT_EQ(i, ebr * 512 + 446 + 4) << "only the type byte of the second EBR's first entry changes";
  }
  expectSameEntries(layout, decode(disk));
}

// A hand-made layout: primary 1, an extended partition at LBA 1000 and
// three logical drives with their EBRs at 1000, 1200 and 1400.
LayoutBuffer threeLogicals() {
  LayoutBuffer layout;
  layout.setMbrSignature(0x11223344);
  layout.setPartitionCount(16);
  auto set = [&layout](int entry, std::uint64_t lba, std::uint64_t sectors, std::uint8_t type) {
    LayoutSlot slot = layout.slot(entry);
    slot.setStartingOffset(static_cast<std::int64_t>(lba * 512));
    slot.setPartitionLength(static_cast<std::int64_t>(sectors * 512));
    slot.setMbrPartitionType(type);
  };
  set(1, 64, 900, 0x83);
  set(2, 1000, 1000, 0x05);
  set(5, 1010, 100, 0x83);
  set(6, 1200, 200, 0x05);
  set(9, 1210, 100, 0x07);
  set(10, 1400, 200, 0x05);
  set(13, 1410, 100, 0x0B);
  return layout;
}

TEST(MbrEncode, WritesEbrsFromTheLastToTheFirstThenSector0EachFlushed) {
  MbrSparseMedium disk(4096, 512);
  ASSERT_EQ(EncodeMbr(disk, threeLogicals()), ERROR_SUCCESS);
  EXPECT_EQ(disk.log, (std::vector<std::string>{"w1400", "f", "w1200", "f", "w1000", "f", "w0", "f"}));
  expectSameEntries(threeLogicals(), decode(disk));
}

TEST(MbrEncode, StopsAtTheFirstFailedWrite) {
  MbrSparseMedium disk(4096, 512);
  disk.failWriteNumber = 2;
  disk.failError = ERROR_WRITE_FAULT;
  EXPECT_EQ(EncodeMbr(disk, threeLogicals()), ERROR_WRITE_FAULT);
  EXPECT_EQ(disk.log, (std::vector<std::string>{"w1400", "f"}));
  EXPECT_FALSE(HasMbrBootSignature(disk.sector(0))) << "sector 0 must not point at a half-written chain";
  EXPECT_FALSE(HasMbrBootSignature(disk.sector(1000)));
}

TEST(MbrEncode, AnEntryThatKeepsItsMeaningKeepsItsBytes) {
  // An EBR laid out unusually (link first, logical in the last entry, CHS
  // and boot flag values of another tool) is left alone when the layout
  // does not change it, and sector 0's odd CHS bytes stay too.
  MemoryMedium disk(4096 * 512, 512);
  PutMbrEntry(disk.bytes, 0, 0, 0x00, 0x0F, 1000, 2000);
  disk.bytes[446 + 1] = 0xAB;  // CHS bytes no current tool would write
  PutMbrEntry(disk.bytes, 1000 * 512, 0, 0, 0x05, 500, 100);
  PutMbrEntry(disk.bytes, 1000 * 512, 3, 0x01, 0x83, 10, 100);
  disk.bytes[1000 * 512 + 446 + 3 * 16 + 2] = 0xCD;
  PutMbrBootSignature(disk.bytes, 1500 * 512);
  std::vector<std::uint8_t> before = disk.bytes;
  LayoutBuffer layout = decode(disk);
  ASSERT_EQ(layout.partitionCount(), 12u);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 0u);

  // A new primary: sector 0 is rewritten, the extended partition's entry
  // keeps its odd bytes.
  layout.slot(3).setStartingOffset(64 * 512);
  layout.slot(3).setPartitionLength(100 * 512);
  layout.slot(3).setMbrPartitionType(0x83);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 1u);
  EXPECT_EQ(disk.bytes[446 + 1], 0xAB);
  expectSameEntries(layout, decode(disk));
}

TEST(MbrEncode, NewExtendedPartitionOverOldDataGetsAnEmptyEbr) {
  // Where the extended partition is created, an old boot sector with a
  // boot signature would read as an EBR full of junk.
  MemoryMedium disk(4096 * 512, 512);
  for (std::size_t i = 0; i < 512; ++i) disk.bytes[2048 * 512 + i] = static_cast<std::uint8_t>(i * 13 + 1);
  PutMbrBootSignature(disk.bytes, 2048 * 512);
  std::vector<std::uint8_t> before = disk.bytes;
  LayoutBuffer layout;
  layout.setPartitionCount(4);
  layout.slot(1).setStartingOffset(2048 * 512);
  layout.slot(1).setPartitionLength(1024 * 512);
  layout.slot(1).setMbrPartitionType(0x05);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  LayoutBuffer after = decode(disk);
  EXPECT_EQ(after.partitionCount(), 4u);
  expectSameEntries(layout, after);
  EXPECT_TRUE(std::all_of(disk.bytes.begin() + 2048 * 512 + 446, disk.bytes.begin() + 2048 * 512 + 510,
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(
      std::equal(disk.bytes.begin() + 2048 * 512, disk.bytes.begin() + 2048 * 512 + 446, before.begin() + 2048 * 512))
      << "the rest of the sector is kept";
  EXPECT_EQ(disk.writes, 2u);
}

TEST(MbrEncode, AChainFoundCutShortIsWrittenBackAsItWas) {
  // The second EBR has lost its boot signature: the chain reads as one EBR
  // whose link leads nowhere.
  MemoryMedium disk(4096 * 512, 512);
  PutMbrEntry(disk.bytes, 0, 0, 0, 0x05, 1000, 1000);
  PutMbrEntry(disk.bytes, 1000 * 512, 0, 0, 0x83, 10, 100);
  PutMbrEntry(disk.bytes, 1000 * 512, 1, 0, 0x05, 200, 200);
  LayoutBuffer layout = decode(disk);
  ASSERT_EQ(layout.partitionCount(), 8u);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 0u);
  layout.slot(2).setStartingOffset(64 * 512);
  layout.slot(2).setPartitionLength(64 * 512);
  layout.slot(2).setMbrPartitionType(0x07);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 1u);
  expectSameEntries(layout, decode(disk));

  // Once something that reads as an EBR sits at the link's end, writing the
  // link again would add a group the layout does not have.
  PutMbrBootSignature(disk.bytes, 1200 * 512);
  std::vector<std::uint8_t> before = disk.bytes;
  expectRefused(disk, layout, "ebr-unexpected", 6);
  EXPECT_EQ(disk.bytes, before);
}

TEST(MbrEncode, EmptyGroupsNeedNoExtendedPartition) {
  // All logical drives and links deleted, then the extended partition: the
  // empty groups are dropped and the next read shows four slots.
  LayoutBuffer layout = threeLogicals();
  for (int entry = 2; entry <= 16; ++entry) {
    auto bytes = layout.slot(entry).bytes();
    std::fill(bytes.begin(), bytes.end(), 0);
  }
  MbrSparseMedium disk(4096, 512);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(decode(disk).partitionCount(), 4u);
  EXPECT_EQ(disk.log, (std::vector<std::string>{"w0", "f"}));
}

TEST(MbrEncode, UsesTheWholeRangeOfThe32BitSectorFields) {
  // A disk of 2^33 sectors: a primary may start at the last value of the
  // start field and be as long as the size field allows.
  MbrSparseMedium disk(std::uint64_t{1} << 33, 512);
  LayoutBuffer layout;
  layout.setPartitionCount(4);
  layout.slot(1).setStartingOffset(std::int64_t{0xFFFFFFFF} * 512);
  layout.slot(1).setPartitionLength(std::int64_t{0xFFFFFFFF} * 512);
  layout.slot(1).setMbrPartitionType(0x83);
  ASSERT_EQ(EncodeMbr(disk, layout), ERROR_SUCCESS);
  expectSameEntries(layout, decode(disk));
  std::vector<std::uint8_t> sector0 = disk.sector(0);
  EXPECT_EQ(sector0[446 + 1], 0xFE);
  EXPECT_EQ(sector0[446 + 5], 0xFE);
}

// --- refusals: nothing is written, and the rule is named ---

struct Refusal {
  const char* what;
  const char* rule;  // a problem the refusal names
  int entry;         // the slot it names
  std::function<void(LayoutBuffer&)> change;
};

void setSlot(LayoutBuffer& layout, int entry, std::int64_t offset, std::int64_t length, std::uint8_t type) {
  LayoutSlot slot = layout.slot(entry);
  slot.setStartingOffset(offset);
  slot.setPartitionLength(length);
  slot.setMbrPartitionType(type);
}

// Changes to the small sfdisk disk's layout (primaries at 64 and 1088,
// extended at 2112 to the end at 16384, logical drives at 2176, 2752 and
// 3328 in slots 5, 9, 13, each EBR in the sector before its drive, links
// in slots 6 and 10) that must be refused.
const std::vector<Refusal>& refusals() {
  static const std::vector<Refusal> cases = {
      {"negative offset", "not-whole-sectors", 1, [](LayoutBuffer& l) { l.slot(1).setStartingOffset(-512); }},
      {"negative length", "not-whole-sectors", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(-512); }},
      {"zero length", "zero-length", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(0); }},
      {"offset not in sectors", "not-whole-sectors", 1,
       [](LayoutBuffer& l) { l.slot(1).setStartingOffset(64 * 512 + 1); }},
      {"length not in sectors", "not-whole-sectors", 1,
       [](LayoutBuffer& l) { l.slot(1).setPartitionLength(100 * 512 + 100); }},
      {"past the end of the disk", "past-end", 3,
       [](LayoutBuffer& l) { l.slot(3).setPartitionLength(14272 * 512 + 512); }},
      {"over sector 0", "overlap", 4, [](LayoutBuffer& l) { setSlot(l, 4, 0, 32 * 512, 0x83); }},
      {"primaries overlap", "overlap", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(1025 * 512); }},
      {"primary overlaps the extended partition", "overlap", 4,
       [](LayoutBuffer& l) { setSlot(l, 4, 4000 * 512, 512, 0x83); }},
      {"logical drives overlap", "overlap", 5,
       [](LayoutBuffer& l) {
         l.slot(5).setStartingOffset(3400 * 512);
         l.slot(5).setPartitionLength(100 * 512);
       }},
      {"logical drive over the next EBR", "ebr-inside-partition", 5,
       [](LayoutBuffer& l) { l.slot(5).setPartitionLength(576 * 512); }},
      {"logical drive at its own EBR", "outside-extended", 9,
       [](LayoutBuffer& l) { l.slot(9).setStartingOffset(l.slot(6).startingOffset()); }},
      {"logical drive before its EBR", "outside-extended", 9,
       [](LayoutBuffer& l) {
         l.slot(9).setStartingOffset(2700 * 512);
         l.slot(9).setPartitionLength(40 * 512);
       }},
      {"logical drive outside the extended partition", "outside-extended", 13,
       [](LayoutBuffer& l) { l.slot(3).setPartitionLength((3500 - 2112) * 512); }},
      {"two extended partitions", "extended-twice", 1, [](LayoutBuffer& l) { l.slot(1).setMbrPartitionType(0x0F); }},
      {"the extended partition made a partition in place", "extended-in-place", 3,
       [](LayoutBuffer& l) { l.slot(3).setMbrPartitionType(0x83); }},
      {"protective entry", "protective-type", 4, [](LayoutBuffer& l) { setSlot(l, 4, 40 * 512, 8 * 512, 0xEE); }},
      {"groups without an extended partition", "outside-extended", 5,
       [](LayoutBuffer& l) { l.slot(3).setMbrPartitionType(0); }},
      {"two links in a group", "ebr-loop", 8, [](LayoutBuffer& l) { setSlot(l, 8, 4000 * 512, 8 * 512, 0x05); }},
      {"two logical drives in a group", "ebr-two-drives", 7,
       [](LayoutBuffer& l) { setSlot(l, 7, 2700 * 512, 8 * 512, 0x83); }},
      {"link into a primary", "ebr-leaves-extended", 6,
       [](LayoutBuffer& l) { l.slot(6).setStartingOffset(1500 * 512); }},
      {"link reaching past the extended partition", "ebr-leaves-extended", 10,
       [](LayoutBuffer& l) {
         l.slot(3).setPartitionLength((3900 - 2112) * 512);
         l.slot(10).setPartitionLength((3950 - 3327) * 512);
       }},
      {"link at the extended partition's start", "ebr-leaves-extended", 10,
       [](LayoutBuffer& l) { l.slot(10).setStartingOffset(2112 * 512); }},
      {"link to its own EBR", "ebr-loop", 10,
       [](LayoutBuffer& l) { l.slot(10).setStartingOffset(l.slot(6).startingOffset()); }},
      {"link back to an earlier EBR", "ebr-loop", 14,
       [](LayoutBuffer& l) { setSlot(l, 14, l.slot(6).startingOffset(), 8 * 512, 0x05); }},
      {"group the chain does not reach", "ebr-chain-cut", 13,
       [](LayoutBuffer& l) { l.slot(10).setMbrPartitionType(0); }},
      {"new link past the last group", "ebr-missing", 14,
       [](LayoutBuffer& l) { setSlot(l, 14, 4000 * 512, 64 * 512, 0x05); }},
      {"more than 64 slots", "layout-record", 0, [](LayoutBuffer& l) { l.setPartitionCount(65); }},
  };
  return cases;
}

TEST(MbrEncode, RefusesLayoutsTheDiskCannotHoldAndWritesNothing) {
  TempDir dir;
  const MemoryMedium pristine = smallDisk(dir);
  MemoryMedium disk = pristine;
  const LayoutBuffer original = decode(disk);
  ASSERT_EQ(original.partitionCount(), 16u);
  for (const Refusal& refusal : refusals()) {
    SCOPED_TRACE(refusal.what);
    disk = pristine;
    LayoutBuffer layout = original;
    refusal.change(layout);
    expectRefused(disk, layout, refusal.rule, refusal.entry);
    EXPECT_EQ(disk.writes, 0u);
    EXPECT_TRUE(disk.bytes == pristine.bytes);
  }
  // The unchanged layout is accepted without a finding, so each refusal
  // above and its reason are its change's.
  check::Findings none;
  EXPECT_EQ(EncodeMbr(disk, original, &none), ERROR_SUCCESS);
  EXPECT_TRUE(none.empty());
}

TEST(MbrEncode, RefusesValuesBeyondThe32BitSectorFields) {
  MbrSparseMedium disk(std::uint64_t{1} << 34, 512);
  LayoutBuffer layout;
  layout.setPartitionCount(4);
  setSlot(layout, 1, std::int64_t{1} << 32 << 9, 512, 0x83);
  expectRefused(disk, layout, "mbr-limit", 1);
  setSlot(layout, 1, 2048 * 512, std::int64_t{1} << 32 << 9, 0x83);
  expectRefused(disk, layout, "mbr-limit", 1);
  EXPECT_TRUE(disk.log.empty());
}

// The logical drives a peer lists: number -> {first sector, sectors}.
std::map<int, std::pair<std::uint64_t, std::uint64_t>> logicalDrives(const PeerTable& peer) {
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> drives;
  for (const PeerPartition& p : peer.partitions) {
    if (p.number >= 5) drives[p.number] = {p.start * peer.unit / 512, p.size * peer.unit / 512};
  }
  return drives;
}

// Logical drives added (slot 17) and deleted on a chain of three: the peers
// number them as the kernel does, from 5 in chain order, and read no other;
// the drives left keep their places and data. A new drive's EBR goes into
// the free run before it, at most 1 MiB back; only the last EBR's link changes.
TEST(MbrEncode, LogicalDrivesAddedAndDeletedReadAlikeInEveryPeer) {
  const std::string script =
      "label: dos\nstart=2048,size=20480,type=83\nstart=22528,type=5\nstart=24576,size=10240,type=83\n"
      "start=45056,size=10240,type=82\nstart=57344,size=10240,type=7\n";
  const struct {
    std::vector<int> edits;  // a start sector adds a drive of 2048 sectors there, -entry deletes one
    std::uint64_t ebr;       // where the added drive's EBR goes; 0: refused (ebr-no-room)
  } cases[] = {{{36864}, 34816}, {{100000}, 97952}, {{34816}, 0}, {{-5}, 0},         {{-9}, 0},
               {{-13}, 0},       {{-9, -5}, 0},     {{-5, -9, -13}, 0}, {{-13, -9, -5}, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.edits));
    TempDir dir;
    const std::string image = dir.file("logical.img");
    ASSERT_EQ(MakeSfdiskImage(image, 64 * kMiB, script), "");
    auto medium = OpenImage(image, 512, true);
    ASSERT_NE(medium, nullptr);
    LayoutBuffer layout = decode(*medium);
    const std::vector<std::uint64_t> ebrs = ebrSectors(layout, 512);
    std::vector<std::vector<std::uint8_t>> ebrBytes;
    for (std::uint64_t ebr : ebrs) ebrBytes.push_back(ReadFileRange(image, ebr * 512, 512));
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> chain;  // entry -> {start, sectors}
    for (int entry : {5, 9, 13}) {
      chain[entry] = {static_cast<std::uint64_t>(layout.slot(entry).startingOffset()) / 512, 10240};
      // The drive's data: its first sector filled with its entry number.
      ASSERT_EQ(medium->writeSectors(chain[entry].first, std::vector<std::uint8_t>(512, entry)), ERROR_SUCCESS);
    }
    for (int edit : c.edits) {
      layout = decode(*medium);
      if (edit < 0) {
        setSlot(layout, -edit, 0, 0, 0);
        chain.erase(-edit);
      } else {
        layout.setPartitionCount(20);
        setSlot(layout, 17, std::int64_t{edit} * 512, 2048 * 512, 0x83);
        chain[17] = {static_cast<std::uint64_t>(edit), 2048};
      }
      if (edit < 0 || c.ebr != 0) {
        ASSERT_EQ(EncodeMbr(*medium, layout), ERROR_SUCCESS);
      } else {
        expectRefused(*medium, layout, "ebr-no-room", 17);  // and the peers read the chain as it was
        chain.erase(17);
      }
    }
    if (chain.empty()) EXPECT_EQ(decode(*medium).partitionCount(), 4u);
    if (c.ebr != 0) EXPECT_EQ(decode(*medium).slot(14).startingOffset(), static_cast<std::int64_t>(c.ebr * 512));
    medium.reset();
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> numbered;
    for (const auto& [entry, place] : chain) {
      numbered[static_cast<int>(numbered.size()) + 5] = place;
      if (entry < 17) EXPECT_EQ(ReadFileRange(image, place.first * 512, 512), std::vector<std::uint8_t>(512, entry));
    }
    for (const PeerTable& peer : {SfdiskDump(image), PartedPrint(image), PartxShow(image)}) {
      EXPECT_EQ(logicalDrives(peer), numbered) << peer.text();
    }
    EXPECT_TRUE(SfdiskAccepts(image));
    if (c.ebr == 0) continue;
    for (std::size_t i : {0, 1}) EXPECT_EQ(ReadFileRange(image, ebrs[i] * 512, 512), ebrBytes[i]);
    const std::vector<std::uint8_t> linked = ReadFileRange(image, ebrs[2] * 512, 512);
    EXPECT_TRUE(std::equal(linked.begin(), linked.begin() + 462, ebrBytes[2].begin()));
    EXPECT_TRUE(std::equal(linked.begin() + 478, linked.end(), ebrBytes[2].begin() + 478));
  }
}

}  // namespace
}  // namespace kestrin::test
