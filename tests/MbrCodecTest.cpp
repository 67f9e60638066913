// The MBR half of the codec: reading MBR disks with EBR chains, hostile
// chains, and writing layouts back. Images made by sfdisk and fdisk are the
// reference for what a disk holds; Kestrin's writes are read back by sfdisk,
// partx and parted.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ByteOrder.h"
#include "ImageMedia.h"
#include "LayoutCodec.h"
#include "MbrBytes.h"
#include "MemoryMedium.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "Port.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Two primaries (the first bootable), an extended partition and three
// logical drives, as sfdisk lays them out.
constexpr const char* kThreeLogicalsScript =
    "label: dos\n"
    "label-id: 0x5eed1234\n"
    "start=2048,size=8192,type=83,bootable\n"
    "start=10240,size=8192,type=7\n"
    "start=20480,type=5\n"
    "start=22528,size=4096,type=83\n"
    "start=28672,size=4096,type=82\n"
    "start=34816,size=4096,type=c\n";

bool slotIsAllZero(const LayoutBuffer& layout, int entry) {
  auto bytes = layout.slot(entry).bytes();
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// --- reading images made by peer tools ---

TEST(MbrDecode, ReadsPrimariesAndLogicalDrivesAsSfdiskSeesThem) {
  TempDir dir;
  std::string image = dir.file("three-logicals.img");
  ASSERT_EQ(MakeSfdiskImage(image, 64 * kMiB, kThreeLogicalsScript), "");
  auto medium = OpenImage(image, 512);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(*medium, layout), ERROR_SUCCESS);
  ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskJson}, true);
  // The dispatcher reaches the same result through the boot signature.
  LayoutBuffer viaDispatcher;
  ASSERT_EQ(DecodeLayout(*medium, viaDispatcher), ERROR_SUCCESS);
  EXPECT_TRUE(std::equal(layout.bytes().begin(), layout.bytes().end(), viaDispatcher.bytes().begin()));
}

// The sfdisk of this system cannot be told a sector size, so the 4096-byte
// image is made and listed by fdisk, which can.
TEST(MbrDecode, ReadsA4096ByteSectorImageAsFdiskSeesIt) {
  TempDir dir;
  std::string image = dir.file("4k.img");
  MakeSparseFile(image, 256 * kMiB);
  // Primary 1 at 256, extended from 2048 with logical drives at 2304 and
  // 3584 (the second one retyped to 07), primary 3 bootable at 40960.
  std::string commands =
      "o\nn\np\n1\n256\n1279\n"
      "n\ne\n2\n2048\n32767\n"
      "n\nl\n2304\n3327\n"
      "n\nl\n3584\n4607\nt\n6\n7\n"
      "n\np\n3\n40960\n49151\na\n3\n"
      "w\n";
  RunResult made = test::Run({"fdisk", "-b", "4096", image}, commands);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  auto medium = OpenImage(image, 4096);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(*medium, layout), ERROR_SUCCESS);
  PeerTable peer = FdiskList(image, 4096);
  ASSERT_EQ(peer.partitions.size(), 5u) << "fdisk did not make the expected table";
  ExpectPeersSeeLayout(layout, image, 4096, {Peer::Fdisk}, true);
}

TEST(MbrDecode, StopsAtAnEbrChainThatLoopsBack) {
  TempDir dir;
  std::string image = dir.file("loop.img");
  ASSERT_EQ(MakeSfdiskImage(image, 64 * kMiB, kThreeLogicalsScript), "");
  // Follow the chain in the raw bytes to the third EBR and make its link
  // point back at the second one.
  auto sectorAt = [&image](std::uint64_t lba) { return ReadFileRange(image, lba * 512, 512); };
  auto linkStart = [](const std::vector<std::uint8_t>& ebr) { return readLe32(ebr, 446 + 16 + 8); };
  std::uint32_t extendedStart = readLe32(sectorAt(0), 446 + 2 * 16 + 8);
  std::uint64_t second = extendedStart + linkStart(sectorAt(extendedStart));
  std::uint64_t third = extendedStart + linkStart(sectorAt(second));
  std::vector<std::uint8_t> thirdEbr = sectorAt(third);
  ASSERT_EQ(thirdEbr[446 + 16 + 4], 0) << "the third EBR should end the chain";
  PutMbrEntry(thirdEbr, 0, 1, 0, 0x05, static_cast<std::uint32_t>(second - extendedStart), 8);
  WriteFileRange(image, third * 512, thirdEbr);

  auto medium = OpenImage(image, 512);
  ASSERT_NE(medium, nullptr);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(*medium, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 16u);
  // The looping link is shown as the disk has it; the walk did not follow it.
  EXPECT_EQ(layout.slot(14).mbrPartitionType(), 0x05);
  EXPECT_EQ(layout.slot(14).startingOffset(), static_cast<std::int64_t>(second * 512));
  EXPECT_EQ(layout.slot(13).partitionNumber(), 5u);
}

// --- hostile and unusual disks built by hand ---

// A disk of `sectors` sectors with an extended partition at LBA 64 of
// `extendedSectors` and a chain of `ebrs` EBRs 16 sectors apart, each with
// a logical drive of 8 sectors right after it and a link to the next.
MemoryMedium chainDisk(int ebrs, std::uint32_t sectorSize = 512, std::uint64_t sectors = 2048,
                       std::uint32_t extendedSectors = 1024) {
  MemoryMedium disk(sectors * sectorSize, sectorSize);
  PutMbrEntry(disk.bytes, 0, 0, 0, 0x0F, 64, extendedSectors);
  for (int i = 0; i < ebrs; ++i) {
    std::uint64_t ebr = 64 + 16 * static_cast<std::uint64_t>(i);
    PutMbrEntry(disk.bytes, ebr * sectorSize, 0, 0, 0x83, 1, 8);
    if (i + 1 < ebrs)
      PutMbrEntry(disk.bytes, ebr * sectorSize, 1, 0, 0x05, static_cast<std::uint32_t>(16 * (i + 1)), 16);
  }
  return disk;
}

TEST(MbrDecode, FifteenEbrsFillTheRecordAndASixteenthDoesNotFit) {
  MemoryMedium fits = chainDisk(15);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(fits, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 64u);
  EXPECT_EQ(layout.slot(61).partitionNumber(), 15u);
  EXPECT_EQ(layout.slot(61).startingOffset(), (64 + 16 * 14 + 1) * 512);

  MemoryMedium tooMany = chainDisk(16);
  EXPECT_EQ(DecodeMbr(tooMany, layout), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(DecodeLayout(tooMany, layout), ERROR_INSUFFICIENT_BUFFER);
  LayoutBuffer primariesOnly(3);
  EXPECT_EQ(DecodeMbr(fits, primariesOnly), ERROR_INSUFFICIENT_BUFFER);
}

TEST(MbrDecode, AnEbrThatLinksToItselfEndsTheChain) {
  MemoryMedium disk = chainDisk(2);
  // The second EBR (LBA 80) links to itself.
  PutMbrEntry(disk.bytes, 80 * 512, 1, 0, 0x05, 16, 16);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 12u);
  EXPECT_EQ(layout.slot(10).startingOffset(), 80 * 512);
}

TEST(MbrDecode, DoesNotFollowALinkOutsideTheExtendedPartition) {
  MemoryMedium disk = chainDisk(3, 512, 4096, 40);
  // The extended partition covers LBA 64 .. 103: the second EBR (80) is in
  // it, the third (96) too, but a link to 104 is not. Point the second
  // EBR's link just past the end, at a sector that looks like an EBR.
  PutMbrEntry(disk.bytes, 80 * 512, 1, 0, 0x05, 40, 8);
  PutMbrEntry(disk.bytes, 104 * 512, 0, 0, 0x83, 1, 8);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 12u);
  EXPECT_EQ(layout.slot(10).startingOffset(), 104 * 512) << "the link is still shown";
  // A link that wraps to before the extended partition (start field near
  // 2^32) is not followed either.
  PutMbrEntry(disk.bytes, 80 * 512, 1, 0, 0x05, 0xFFFFFFF0u, 8);
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 12u);
}

TEST(MbrDecode, StopsAtAnEbrPastTheEndOfATruncatedImage) {
  // The table claims more disk than the image holds: the third EBR (LBA 96)
  // lies past the end of a 90-sector image.
  MemoryMedium full = chainDisk(3);
  MemoryMedium truncated(90 * 512, 512);
  std::copy_n(full.bytes.begin(), truncated.bytes.size(), truncated.bytes.begin());
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(truncated, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 12u);
  EXPECT_EQ(layout.slot(9).partitionNumber(), 2u);

  MemoryMedium nothing(0, 512);
  EXPECT_EQ(DecodeMbr(nothing, layout), ERROR_SECTOR_NOT_FOUND);
}

TEST(MbrDecode, StopsAtAnEbrWithoutBootSignature) {
  MemoryMedium disk = chainDisk(3);
  disk.bytes[96 * 512 + 511] = 0;
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 12u);
}

TEST(MbrDecode, AnExtendedPartitionWithoutLogicalDrivesAddsNoSlots) {
  MemoryMedium disk(2048 * 512, 512);
  PutMbrEntry(disk.bytes, 0, 1, 0, 0x05, 64, 1024);
  PutMbrBootSignature(disk.bytes, 64 * 512);  // an empty EBR, as sfdisk writes one
  LayoutBuffer layout;
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 4u);
  EXPECT_EQ(layout.slot(2).mbrPartitionType(), 0x05);
  EXPECT_EQ(layout.slot(2).partitionNumber(), 0u);
  EXPECT_EQ(layout.slot(2).mbrRecognizedPartition(), 0);

  // An extended partition that starts at sector 0 would read the MBR as its
  // own EBR.
  PutMbrEntry(disk.bytes, 0, 1, 0, 0x05, 0, 1024);
  PutMbrEntry(disk.bytes, 0, 0, 0, 0x83, 1, 8);
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionCount(), 4u);
}

TEST(MbrDecode, ReportsEntriesFieldByField) {
  MemoryMedium disk(64 * 512, 4096);  // sizes here do not matter to the decoder
  PutMbrEntry(disk.bytes, 0, 0, 0x80, 0x07, 0xFFFFFFFFu, 0xFFFFFFFFu);
  PutMbrEntry(disk.bytes, 0, 1, 0x01, 0x83, 2, 3);  // a boot flag other than 0x80
  // Entry 3 has type 0 but other bytes set: it is still no entry.
  PutMbrEntry(disk.bytes, 0, 2, 0x80, 0x00, 5, 6);
  writeLe32(disk.bytes, 440, 0xCAFEF00D);
  LayoutBuffer layout;
  layout.bytes()[48 + 144 * 10] = 0xEE;  // stale data from an earlier use of the buffer
  ASSERT_EQ(DecodeMbr(disk, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.mbrSignature(), 0xCAFEF00Du);
  EXPECT_EQ(layout.partitionCount(), 4u);
  auto big = layout.slot(1);
  EXPECT_EQ(big.startingOffset(), std::int64_t{0xFFFFFFFF} * 4096);
  EXPECT_EQ(big.partitionLength(), std::int64_t{0xFFFFFFFF} * 4096);
  EXPECT_EQ(big.mbrBootIndicator(), 1);
  EXPECT_EQ(big.mbrHiddenSectors(), 0xFFFFFFFFu);
  EXPECT_EQ(big.partitionNumber(), 1u);
  EXPECT_EQ(layout.slot(2).mbrBootIndicator(), 0);
  EXPECT_EQ(layout.slot(2).partitionNumber(), 2u);
  EXPECT_TRUE(slotIsAllZero(layout, 3));
  EXPECT_TRUE(slotIsAllZero(layout, 4));
  EXPECT_TRUE(slotIsAllZero(layout, 11)) << "the whole record is filled";
}

TEST(MbrDecode, RecognisesTheBootSignatureAndAProtectiveEntry) {
  std::vector<std::uint8_t> sector(512, 0);
  EXPECT_FALSE(HasMbrBootSignature(sector));
  PutMbrEntry(sector, 0, 3, 0, 0xEE, 1, 100);
  EXPECT_TRUE(HasMbrBootSignature(sector));
  EXPECT_TRUE(HasProtectiveEntry(sector));
  PutMbrEntry(sector, 0, 3, 0, 0x83, 1, 100);
  EXPECT_FALSE(HasProtectiveEntry(sector));
  std::vector<std::uint8_t> shortSector(256, 0);
  EXPECT_FALSE(HasMbrBootSignature(shortSector));
  EXPECT_FALSE(HasProtectiveEntry(shortSector));
}

// --- the empty table and no table ---

// A pattern standing for boot code, in bytes [from, to) of `bytes`.
void fillPattern(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) bytes[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 11));
}

// The three-logicals disk as `image`, with boot code around its table in
// sector 0; returns that sector.
std::vector<std::uint8_t> threeLogicalsWithBootCode(const std::string& image) {
  EXPECT_EQ(MakeSfdiskImage(image, 64 * kMiB, kThreeLogicalsScript), "");
  std::vector<std::uint8_t> sector0 = ReadFileRange(image, 0, 512);
  fillPattern(sector0, 0, 440);
  fillPattern(sector0, 444, 446);
  WriteFileRange(image, 0, sector0);
  return sector0;
}

TEST(MbrWriteEmpty, ReplacesTheTableAndSignatureAndKeepsTheBootCode) {
  TempDir dir;
  std::string image = dir.file("empty.img");
  const std::vector<std::uint8_t> before = threeLogicalsWithBootCode(image);
  if (HasFailure()) return;
  {
    auto medium = OpenImage(image, 512, true);
    ASSERT_NE(medium, nullptr);
    ASSERT_EQ(WriteEmptyMbr(*medium, 0x01020304), ERROR_SUCCESS);
    LayoutBuffer layout;
    ASSERT_EQ(DecodeLayout(*medium, layout), ERROR_SUCCESS);
    EXPECT_EQ(layout.partitionStyle(), kStyleMbr);
    EXPECT_EQ(layout.partitionCount(), 4u);
    for (int entry = 1; entry <= 4; ++entry) EXPECT_TRUE(slotIsAllZero(layout, entry));
  }
  std::vector<std::uint8_t> after = ReadFileRange(image, 0, 512);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 440, before.begin()));
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 440, after.begin() + 444),
            (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(after[444], before[444]);
  EXPECT_EQ(after[445], before[445]);
  PeerTable peer = SfdiskJson(image);
  ASSERT_TRUE(peer.ok) << peer.error;
  EXPECT_EQ(peer.mbrId(), 0x01020304u);
  EXPECT_TRUE(peer.partitions.empty());
}

TEST(MbrWriteEmpty, WritesOnlyWhenSector0Changes) {
  MemoryMedium disk(64 * 4096, 4096);
  fillPattern(disk.bytes, 0, 4096);
  std::vector<std::uint8_t> before = disk.bytes;
  ASSERT_EQ(WriteEmptyMbr(disk, 0xDEADBEEF), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 1u);
  EXPECT_EQ(disk.flushes, 1u);
  EXPECT_TRUE(HasMbrBootSignature(disk.bytes));
  EXPECT_TRUE(std::equal(disk.bytes.begin() + 512, disk.bytes.end(), before.begin() + 512))
      << "a 4096-byte sector 0 keeps everything after its table";
  ASSERT_EQ(WriteEmptyMbr(disk, 0xDEADBEEF), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 1u);

  disk.readOnly = true;
  EXPECT_EQ(WriteEmptyMbr(disk, 0x1), ERROR_WRITE_PROTECT);
}

TEST(MbrClear, LeavesARawDiskWithItsBootCode) {
  TempDir dir;
  std::string image = dir.file("clear.img");
  const std::vector<std::uint8_t> before = threeLogicalsWithBootCode(image);
  if (HasFailure()) return;
  {
    auto medium = OpenImage(image, 512, true);
    ASSERT_NE(medium, nullptr);
    ASSERT_EQ(ClearMbr(*medium), ERROR_SUCCESS);
    LayoutBuffer layout;
    ASSERT_EQ(DecodeLayout(*medium, layout), ERROR_SUCCESS);
    EXPECT_EQ(layout.partitionStyle(), kStyleRaw);
    EXPECT_EQ(layout.partitionCount(), 0u);
  }
  std::vector<std::uint8_t> after = ReadFileRange(image, 0, 512);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 440, before.begin()));
  EXPECT_EQ(after[444], before[444]);
  EXPECT_EQ(after[445], before[445]);
  EXPECT_TRUE(std::all_of(after.begin() + 440, after.begin() + 444, [](std::uint8_t b) { return b == 0; }))
      << "the disk signature goes with the table";
  EXPECT_TRUE(std::all_of(after.begin() + 446, after.end(), [](std::uint8_t b) { return b == 0; }));
  PeerTable dump = SfdiskDump(image);
  EXPECT_FALSE(dump.ok);
  EXPECT_NE(dump.error.find("does not contain a recognized partition table"), std::string::npos) << dump.error;
}

TEST(MbrClear, WritesNothingOnADiskWithoutTable) {
  MemoryMedium disk(64 * 512, 512);
  fillPattern(disk.bytes, 0, 446);
  ASSERT_EQ(ClearMbr(disk), ERROR_SUCCESS);
  EXPECT_EQ(disk.writes, 0u);
  EXPECT_EQ(disk.flushes, 0u);
}

}  // namespace
}  // namespace kestrin::test
