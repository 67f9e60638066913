// The GPT codec against tables made and checked by sgdisk, sfdisk, parted
// and partx, and against forged or damaged tables in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "GptImage.h"
#include "ImageMedia.h"
#include "LayoutCodec.h"
#include "MemoryMedium.h"
#include "NewGuid.h"
#include "PartitionedLoopDevice.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "Port.h"
#include "RecordingMedium.h"
#include "RuleFindings.h"
#include "TestSupport.h"

using namespace kestrin;
using namespace kestrin::test;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

LayoutBuffer decode(SectorReader& medium, bool& found) {
  LayoutBuffer layout;
  EXPECT_EQ(DecodeGpt(medium, layout, found), ERROR_SUCCESS);
  return layout;
}

// The GUID of a text "{XXXXXXXX-XXXX-...}", parsed here rather than by the
// code under test.
Guid guid(const char* text) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string digits;
  for (const char* c = text; *c != 0; ++c) {
    if (std::isxdigit(static_cast<unsigned char>(*c))) digits.push_back(*c);
  }
  Guid g;
  for (int i = 0; i < 16; ++i)
    g.bytes[kOrder[i]] = static_cast<std::uint8_t>(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
  return g;
}

const std::vector<std::string> kGapTable = {"-n", "1:2048:+1M", "-t", "1:8300",   "-c", "1:root",
                                            "-n", "3:6144:+2M", "-t", "3:ef00",   "-c", "3:EFI sys",
                                            "-A", "3:set:0",    "-A", "3:set:62", "-A", "1:set:60"};

// A temporary folder of the test's own, and an image file in it.
class GptCodecImages : public ::testing::Test {
 protected:
  TempDir dir;
  std::string image = dir.file("disk.img");
};
using GptCodecDecode = GptCodecImages;
using GptCodecEncode = GptCodecImages;
using GptCodecEmpty = GptCodecImages;
using GptCodecWipe = GptCodecImages;

}  // namespace

// --- reading ---

TEST_F(GptCodecDecode, ReadsTableWithGapKeepingArrayPositionsAsNumbers) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  auto medium = OpenImage(image, 512);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_TRUE(found);
  EXPECT_EQ(layout.partitionStyle(), kStyleGpt);
  ASSERT_EQ(layout.partitionCount(), 2u);
  EXPECT_EQ(layout.slot(2).partitionNumber(), 3u);
  EXPECT_EQ(layout.slot(2).gptAttributes(), 0x4000000000000001u);
  ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskDump, Peer::Sgdisk});
}

TEST_F(GptCodecDecode, ReadsTableOnFourKibSectors) {
  MakeSparseFile(image, 64 * kMiB);
  PartitionedLoopDevice loop(image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  ASSERT_EQ(PartitionWithSgdisk(loop.path(),
                                {"-n", "1:256:+2M", "-c", "1:data", "-n", "4:0:+4M", "-t", "4:ef00", "-A", "4:set:2"}),
            "");
  loop.detach();

  auto medium = OpenImage(image, 0);  // the sector size is detected from the table
  ASSERT_EQ(medium->sectorSize(), 4096u);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(layout.partitionCount(), 2u);
  EXPECT_EQ(layout.slot(1).startingOffset(), 256 * 4096);
  PartitionedLoopDevice again(image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
  ASSERT_TRUE(again.attached()) << again.failure();
  ExpectPeersSeeLayout(layout, again.path(), 4096, {Peer::SfdiskDump, Peer::Sgdisk});
}

TEST_F(GptCodecDecode, FallsBackToBackupWhenPrimaryHeaderOrArrayIsDamaged) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  MemoryMedium pristine = LoadImage(image, 512);
  bool found = false;
  LayoutBuffer expected = decode(pristine, found);
  ASSERT_TRUE(found);

  for (std::uint64_t damagedByte : {512u + 60u, 2u * 512u + 3u}) {  // a header field; entry 1's type
    SCOPED_TRACE(damagedByte);
    MemoryMedium medium = pristine;
    medium.bytes[damagedByte] ^= 0x40;
    LayoutBuffer layout = decode(medium, found);
    ASSERT_TRUE(found);
    EXPECT_TRUE(std::memcmp(layout.data(), expected.data(), expected.size()) == 0);
  }
}

TEST_F(GptCodecDecode, ReadsAsRawWhenBothCopiesAreDamaged) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  MemoryMedium medium = LoadImage(image, 512);
  medium.bytes[512 + 60] ^= 0x01;                        // primary header
  medium.bytes[medium.bytes.size() - 512 + 60] ^= 0x01;  // backup header
  bool found = true;
  decode(medium, found);
  EXPECT_FALSE(found);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeLayout(medium, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionStyle(), kStyleRaw);
  EXPECT_EQ(layout.partitionCount(), 0u);
}

TEST_F(GptCodecDecode, RefusesMoreThanSixtyFourUsedEntries) {
  ASSERT_EQ(MakeSgdiskImage(image, 8 * kMiB, SgdiskPartitionsInARow(65, "+4K")), "");
  MemoryMedium medium = LoadImage(image, 512);
  LayoutBuffer layout;
  bool found = false;
  EXPECT_EQ(DecodeGpt(medium, layout, found), ERROR_INSUFFICIENT_BUFFER);

  ASSERT_EQ(PartitionWithSgdisk(image, {"-d", "30"}), "");
  medium = LoadImage(image, 512);
  ASSERT_EQ(DecodeGpt(medium, layout, found), ERROR_SUCCESS);
  ASSERT_EQ(layout.partitionCount(), 64u);
  EXPECT_EQ(layout.slot(29).partitionNumber(), 29u);
  EXPECT_EQ(layout.slot(30).partitionNumber(), 31u);
  EXPECT_EQ(layout.slot(64).partitionNumber(), 65u);
}

TEST_F(GptCodecDecode, IgnoresHostileHeadersInEitherCopy) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  const MemoryMedium pristine = LoadImage(image, 512);
  const std::uint64_t sectors = pristine.sectorCount();

  using Forge = std::function<void(std::span<std::uint8_t> header, std::uint64_t myLba)>;
  auto set32 = [](std::size_t field, std::uint32_t v) {
    return Forge([=](std::span<std::uint8_t> h, std::uint64_t) { writeLe32(h, field, v); });
  };
  auto set64 = [](std::size_t field, std::uint64_t v) {
    return Forge([=](std::span<std::uint8_t> h, std::uint64_t) { writeLe64(h, field, v); });
  };
  const std::vector<std::pair<std::string, Forge>> forgeries = {
      {"signature", [](std::span<std::uint8_t> h, std::uint64_t) { h[7] = 'X'; }},
      {"header size below 92", set32(kGptHeaderSizeField, 91)},
      {"header size past the sector", set32(kGptHeaderSizeField, 513)},
      {"MyLBA elsewhere", set64(kGptMyLbaField, 5)},
      {"huge entry count", set32(kGptEntryCountField, 0xFFFFFFFFu)},
      {"no entries", set32(kGptEntryCountField, 0)},
      {"entry size 0", set32(kGptEntrySizeField, 0)},
      {"entry size odd", set32(kGptEntrySizeField, 129)},
      {"entry size not a multiple of 8", set32(kGptEntrySizeField, 132)},
      {"array past the end", set64(kGptEntryLbaField, sectors - 8)},
      {"array at a huge LBA", set64(kGptEntryLbaField, 0xFFFFFFFFFFFFFFF0u)},
      {"array on its own header",
       [](std::span<std::uint8_t> h, std::uint64_t myLba) { writeLe64(h, kGptEntryLbaField, myLba); }},
      {"array inside the usable range", set64(kGptEntryLbaField, 2048)},
      {"usable range reversed", set64(kGptFirstUsableField, sectors - 2)},
      {"last usable past the disk", set64(kGptLastUsableField, sectors)},
  };
  bool found = false;
  MemoryMedium reference = pristine;
  LayoutBuffer expected = decode(reference, found);
  ASSERT_TRUE(found);
  for (const auto& [what, forge] : forgeries) {
    SCOPED_TRACE(what);
    MemoryMedium medium = pristine;
    forge(GptSectorAt(medium.bytes, 512, 1), 1);
    GptReseal(medium.bytes, 512, 1);
    LayoutBuffer layout = decode(medium, found);
    EXPECT_TRUE(found);
    EXPECT_TRUE(std::memcmp(layout.data(), expected.data(), expected.size()) == 0);

    forge(GptSectorAt(medium.bytes, 512, sectors - 1), sectors - 1);
    GptReseal(medium.bytes, 512, sectors - 1);
    decode(medium, found);
    EXPECT_FALSE(found);
  }

  MemoryMedium wrongCrc = pristine;
  wrongCrc.bytes[512 + kGptHeaderCrcField] ^= 1;
  wrongCrc.bytes[(sectors - 1) * 512 + kGptHeaderCrcField] ^= 1;
  decode(wrongCrc, found);
  EXPECT_FALSE(found);
}

TEST_F(GptCodecDecode, LeavesOutEntriesThatLieOutsideTheDisk) {
  ASSERT_EQ(
      MakeSgdiskImage(image, 4 * kMiB, {"-a", "8", "-n", "1:2048:+256K", "-n", "2:3072:+256K", "-n", "3:4096:+256K"}),
      "");
  MemoryMedium medium = LoadImage(image, 512);
  const std::uint64_t last = medium.sectorCount() - 1;
  for (std::uint64_t header : {std::uint64_t{1}, last}) {
    writeLe64(GptEntryAt(medium.bytes, 512, header, 0), 40, last + 1);  // ends past the disk
    writeLe64(GptEntryAt(medium.bytes, 512, header, 1), 32, 3700);      // starts after its end
    GptReseal(medium.bytes, 512, header);
  }
  bool found = false;
  LayoutBuffer layout = decode(medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(layout.partitionCount(), 1u);
  EXPECT_EQ(layout.slot(1).partitionNumber(), 3u);
  EXPECT_EQ(layout.slot(1).startingOffset(), 4096 * 512);
}

// --- writing ---

namespace {

// Fills the whole image with a pattern, so that any stray write shows.
void fillPattern(const std::string& path, std::uint64_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 4096) & 0xFF);
  MakeSparseFile(path, 0);
  WriteFileRange(path, 0, bytes);
}

// The sectors of `after` that differ from `before`.
std::vector<std::uint64_t> changedSectors(const std::vector<std::uint8_t>& before,
                                          const std::vector<std::uint8_t>& after, std::uint32_t sectorSize) {
  std::vector<std::uint64_t> changed;
  for (std::uint64_t lba = 0; lba * sectorSize < before.size(); ++lba) {
    if (std::memcmp(before.data() + lba * sectorSize, after.data() + lba * sectorSize, sectorSize) != 0) {
      changed.push_back(lba);
    }
  }
  return changed;
}

// Sector 0, the two headers and the two 128-entry arrays.
bool isTableSector(std::uint64_t lba, std::uint64_t sectorCount, std::uint32_t sectorSize) {
  const std::uint64_t arraySectors = 16384 / sectorSize;
  return lba <= 1 + arraySectors || lba >= sectorCount - 1 - arraySectors;
}

// What the delete operation does to a slot.
void deleteSlot(LayoutBuffer& layout, int entry) {
  LayoutSlot slot = layout.slot(entry);
  slot.setStartingOffset(0);
  slot.setPartitionLength(0);
  slot.setPartitionNumber(0);
  slot.setGptPartitionType(Guid{});
  slot.setRewritePartition(true);
}

// What the create operation does to slot `entry`.
void createSlot(LayoutBuffer& layout, int entry, std::int64_t offset, std::int64_t length, const char* type) {
  if (layout.partitionCount() < static_cast<std::uint32_t>(entry)) layout.setPartitionCount(entry);
  LayoutSlot slot = layout.slot(entry);
  slot.setStyle(kStyleGpt);
  slot.setPartitionNumber(entry);
  slot.setStartingOffset(offset);
  slot.setPartitionLength(length);
  slot.setGptPartitionType(guid(type));
  slot.setRewritePartition(true);
}

constexpr const char* kLinuxData = "{0FC63DAF-8483-4772-8E79-3D69D8477DE4}";

// Refuses `layout` on `medium` with a problem of `rule` about slot `entry`
// among its findings.
void expectGptRefused(SectorDevice& medium, const LayoutBuffer& layout, const char* rule, int entry) {
  check::Findings why;
  EXPECT_EQ(EncodeGpt(medium, layout, &why), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(NamesProblem(why, rule, entry));
}

constexpr const char* kEfiSystem = "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}";

const std::vector<std::string> kFourEntries = {"-n", "1:2048:+2M", "-c", "1:alpha", "-n", "2:0:+2M",
                                               "-c", "2:beta",     "-n", "3:0:+2M", "-c", "3:gamma",
                                               "-t", "3:8200",     "-n", "5:0:+2M", "-c", "5:epsilon"};

}  // namespace

TEST_F(GptCodecEncode, WritesChangedLayoutThatPeersAcceptKeepingUntouchedNumbers) {
  fillPattern(image, 32 * kMiB);
  ASSERT_EQ(MakeSgdiskImage(image, 32 * kMiB, kFourEntries), "");
  const std::vector<std::uint8_t> before = ReadFileBytes(image);
  auto medium = OpenImage(image, 512, true);
  bool found = false;
  const LayoutBuffer read = decode(*medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(read.partitionCount(), 4u);

  LayoutBuffer edited = read;
  deleteSlot(edited, 2);                                 // beta, number 2
  edited.slot(3).setGptPartitionType(guid(kEfiSystem));  // gamma, number 3
  edited.slot(4).setGptAttributes(0x8000000000000004u);  // epsilon, number 5
  const std::int64_t freeStart = read.slot(4).startingOffset() + read.slot(4).partitionLength();
  createSlot(edited, 5, freeStart, 1 * kMiB, kLinuxData);  // number 5 is taken
  ASSERT_EQ(EncodeGpt(*medium, edited), ERROR_SUCCESS);

  EXPECT_TRUE(SgdiskAccepts(image));
  LayoutBuffer written = decode(*medium, found);
  ASSERT_EQ(written.partitionCount(), 4u);
  ExpectPeersSeeLayout(written, image, 512, {Peer::SfdiskDump, Peer::Sgdisk, Peer::Parted, Peer::Partx});
  // Untouched partitions keep number, place and id; the new one takes the
  // first free position.
  const std::vector<std::pair<int, int>> sameEntry = {{1, 1}, {3, 3}, {4, 4}};  // read slot, written slot
  for (auto [from, to] : sameEntry) {
    EXPECT_EQ(written.slot(to).partitionNumber(), read.slot(from).partitionNumber());
    EXPECT_EQ(written.slot(to).startingOffset(), read.slot(from).startingOffset());
    EXPECT_EQ(written.slot(to).gptPartitionId(), read.slot(from).gptPartitionId());
    EXPECT_EQ(written.slot(to).gptName(), read.slot(from).gptName());
  }
  EXPECT_EQ(written.slot(2).partitionNumber(), 2u);
  EXPECT_EQ(written.slot(2).startingOffset(), freeStart);
  EXPECT_FALSE(written.slot(2).gptPartitionId().isNull());
  EXPECT_EQ(written.slot(3).gptPartitionType(), guid(kEfiSystem));
  EXPECT_EQ(written.slot(4).gptAttributes(), 0x8000000000000004u);

  const std::vector<std::uint8_t> after = ReadFileBytes(image);
  for (std::uint64_t lba : changedSectors(before, after, 512)) {
    EXPECT_TRUE(isTableSector(lba, medium->sectorCount(), 512)) << "sector " << lba << " changed";
  }
}

TEST_F(GptCodecEncode, RewritingTheSameLayoutWritesNothing) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  MemoryMedium medium = LoadImage(image, 512);
  bool found = false;
  LayoutBuffer layout = decode(medium, found);
  ASSERT_EQ(EncodeGpt(medium, layout), ERROR_SUCCESS);
  EXPECT_EQ(medium.writes, 0u);
}

TEST_F(GptCodecEncode, RefusesLayoutsTheDiskCannotHoldAndWritesNothing) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, {"-a", "8", "--resize-table=4", "-n", "1:2048:+1M", "-n", "3:4096:+1M"}),
            "");
  const MemoryMedium pristine = LoadImage(image, 512);
  MemoryMedium reader = pristine;
  bool found = false;
  const LayoutBuffer read = decode(reader, found);
  ASSERT_TRUE(found);
  const std::int64_t firstUsable = read.gptStartingUsableOffset();
  const std::int64_t endUsable = firstUsable + read.gptUsableLength();

  struct Refusal {
    const char* what;
    const char* rule;  // a problem the refusal names
    int entry;         // the slot it names
    std::function<void(LayoutBuffer&)> change;
  };
  const std::vector<Refusal> refusals = {
      {"negative offset", "not-whole-sectors", 1, [](LayoutBuffer& l) { l.slot(1).setStartingOffset(-512); }},
      {"negative length", "not-whole-sectors", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(-512); }},
      {"zero length", "zero-length", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(0); }},
      {"offset off a sector", "not-whole-sectors", 1,
       [](LayoutBuffer& l) { l.slot(1).setStartingOffset(2048 * 512 + 1); }},
      {"length off a sector", "not-whole-sectors", 1, [](LayoutBuffer& l) { l.slot(1).setPartitionLength(1000); }},
      {"before the usable range", "outside-usable-area", 1,
       [=](LayoutBuffer& l) { l.slot(1).setStartingOffset(firstUsable - 512); }},
      {"past the usable range", "outside-usable-area", 2,
       [=](LayoutBuffer& l) { l.slot(2).setPartitionLength(endUsable + 512 - 4096 * 512); }},
      {"overflowing end", "past-end", 2, [](LayoutBuffer& l) { l.slot(2).setPartitionLength(0x7FFFFFFFFFFFFE00); }},
      {"overlapping", "overlap", 1,
       [](LayoutBuffer& l) { l.slot(2).setStartingOffset(2048 * 512 + 1024 * 512 - 512); }},
      {"more entries than the array holds", "past-table", 0,
       [](LayoutBuffer& l) {
         createSlot(l, 3, 8192 * 512, 512, kLinuxData);
         createSlot(l, 4, 8200 * 512, 512, kLinuxData);
         createSlot(l, 5, 8208 * 512, 512, kLinuxData);
       }},
      {"another usable range", "gpt-other-usable-area", 0,
       [=](LayoutBuffer& l) { l.setGptStartingUsableOffset(firstUsable + 512); }},
      {"another usable length", "gpt-other-usable-area", 0,
       [=](LayoutBuffer& l) { l.setGptUsableLength(read.gptUsableLength() - 512); }},
      {"no disk id", "gpt-no-disk-id", 0, [](LayoutBuffer& l) { l.setGptDiskId(Guid{}); }},
      {"more slots than the record", "layout-record", 0, [](LayoutBuffer& l) { l.setPartitionCount(65); }},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    MemoryMedium medium = pristine;
    LayoutBuffer layout = read;
    refusal.change(layout);
    expectGptRefused(medium, layout, refusal.rule, refusal.entry);
    EXPECT_EQ(medium.writes, 0u);
    EXPECT_TRUE(medium.bytes == pristine.bytes);
  }
  // Four entries fit the array of four; the same three new ones after a
  // delete are accepted.
  MemoryMedium medium = pristine;
  LayoutBuffer layout = read;
  createSlot(layout, 3, 8192 * 512, 512, kLinuxData);
  createSlot(layout, 4, 8200 * 512, 512, kLinuxData);
  EXPECT_EQ(EncodeGpt(medium, layout), ERROR_SUCCESS);
}

TEST_F(GptCodecEncode, KeepsOneValidCopyWhenWritingStopsPartWay) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  const std::vector<std::uint8_t> oldBytes = ReadFileBytes(image);
  MediumJournal journal(512);
  RecordingMedium full(OpenImage(image, 512, true), journal);
  bool found = false;
  const LayoutBuffer oldLayout = decode(full, found);
  LayoutBuffer change = oldLayout;
  deleteSlot(change, 1);
  createSlot(change, 3, 12288 * 512, 2048 * 512, kLinuxData);
  change.slot(3).setGptPartitionId(guid("{11111111-2222-3333-4444-555555555555}"));
  ASSERT_EQ(EncodeGpt(full, change), ERROR_SUCCESS);
  const LayoutBuffer newLayout = decode(full, found);

  // Backup array, backup header, primary array, primary header, sector 0,
  // each step flushed before the next begins.
  const std::uint64_t last = full.sectorCount() - 1;
  auto step = [&](std::uint64_t lba) { return lba == 0 ? 4 : lba == 1 ? 3 : lba < 34 ? 2 : lba == last ? 1 : 0; };
  std::vector<int> steps;
  bool flushed = true;
  for (const MediumEvent& e : journal.events()) {
    if (e.kind == MediumEvent::Kind::Flush) {
      flushed = true;
      continue;
    }
    if (!steps.empty() && steps.back() != step(e.lba)) {
      EXPECT_TRUE(flushed) << "no flush before sector " << e.lba;
    }
    steps.push_back(step(e.lba));
    flushed = false;
  }
  EXPECT_TRUE(flushed);
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
  // sgdisk's protective MBR is already what this program writes: no step 4.
  EXPECT_EQ(steps.front(), 0);
  EXPECT_EQ(steps.back(), 3);
  for (int s : {1, 2}) EXPECT_NE(std::find(steps.begin(), steps.end(), s), steps.end());

  for (std::size_t allowed = 0; allowed < steps.size(); ++allowed) {
    SCOPED_TRACE(allowed);
    WriteFileRange(image, 0, oldBytes);
    MediumJournal cutJournal(512);
    RecordingMedium cut(OpenImage(image, 512, true), cutJournal);
    cut.writesAllowed = allowed;
    EXPECT_EQ(EncodeGpt(cut, change), ERROR_WRITE_FAULT);
    LayoutBuffer seen = decode(cut, found);
    ASSERT_TRUE(found);
    EXPECT_TRUE(std::memcmp(seen.data(), oldLayout.data(), oldLayout.size()) == 0 ||
                std::memcmp(seen.data(), newLayout.data(), newLayout.size()) == 0);
  }
}

TEST_F(GptCodecEncode, RestoresDamagedPrimaryFromBackup) {
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  std::vector<std::uint8_t> bytes = ReadFileBytes(image);
  bytes[512 + 60] ^= 0xFF;
  WriteFileRange(image, 0, bytes);
  auto medium = OpenImage(image, 512, true);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(EncodeGpt(*medium, layout), ERROR_SUCCESS);
  EXPECT_TRUE(SgdiskAccepts(image));
  ExpectPeersSeeLayout(layout, image, 512, {Peer::SfdiskDump, Peer::Sgdisk});
}

TEST_F(GptCodecEncode, BuildsTableFromLayoutHeaderOnDiskWithoutOne) {
  MakeSparseFile(image, 16 * kMiB);
  auto medium = OpenImage(image, 512, true);
  const std::uint64_t sectors = medium->sectorCount();
  LayoutBuffer layout;
  layout.setPartitionStyle(kStyleGpt);
  layout.setGptDiskId(guid("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"));
  layout.setGptMaxPartitionCount(0);
  layout.setGptStartingUsableOffset(34 * 512);
  layout.setGptUsableLength(static_cast<std::int64_t>((sectors - 67) * 512));
  createSlot(layout, 1, 2048 * 512, 4 * kMiB, kLinuxData);
  expectGptRefused(*medium, layout, "gpt-geometry", 0);  // no entry count
  layout.setGptMaxPartitionCount(128);
  layout.setGptUsableLength(static_cast<std::int64_t>((sectors - 40) * 512));  // over the backup array
  expectGptRefused(*medium, layout, "gpt-geometry", 0);
  EXPECT_TRUE(ReadFileBytes(image) == std::vector<std::uint8_t>(16 * kMiB, 0));

  layout.setGptUsableLength(static_cast<std::int64_t>((sectors - 67) * 512));
  ASSERT_EQ(EncodeGpt(*medium, layout), ERROR_SUCCESS);
  EXPECT_TRUE(SgdiskAccepts(image));
  bool found = false;
  LayoutBuffer written = decode(*medium, found);
  ASSERT_TRUE(found);
  ExpectPeersSeeLayout(written, image, 512, {Peer::SfdiskDump, Peer::Sgdisk});
  EXPECT_EQ(written.gptDiskId(), layout.gptDiskId());
}

TEST_F(GptCodecEncode, WritesChangedLayoutOnFourKibSectors) {
  MakeSparseFile(image, 64 * kMiB);
  {
    PartitionedLoopDevice loop(image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
    if (!loop.attached()) GTEST_SKIP() << loop.failure();
    ASSERT_EQ(PartitionWithSgdisk(loop.path(), {"-n", "1:256:+2M", "-n", "2:0:+2M", "-n", "3:0:+2M"}), "");
  }
  auto medium = OpenImage(image, 4096, true);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_EQ(layout.partitionCount(), 3u);
  deleteSlot(layout, 1);
  layout.slot(3).setPartitionLength(8 * kMiB);
  ASSERT_EQ(EncodeGpt(*medium, layout), ERROR_SUCCESS);
  LayoutBuffer written = decode(*medium, found);
  ASSERT_EQ(written.partitionCount(), 2u);
  EXPECT_EQ(written.slot(1).partitionNumber(), 2u);
  EXPECT_EQ(written.slot(2).partitionLength(), static_cast<std::int64_t>(8 * kMiB));

  PartitionedLoopDevice loop(image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
  ASSERT_TRUE(loop.attached()) << loop.failure();
  EXPECT_TRUE(SgdiskAccepts(loop.path()));
  ExpectPeersSeeLayout(written, loop.path(), 4096, {Peer::SfdiskDump, Peer::Sgdisk, Peer::Parted, Peer::Partx});
}

// --- fresh tables and wiping ---

TEST_F(GptCodecEmpty, WritesFreshTableKeepingBootCodeWithSgdisksProtectiveMbr) {
  std::string reference = dir.file("reference.img");
  ASSERT_EQ(MakeSgdiskImage(reference, 20 * kMiB, {"-o"}), "");
  std::string image = dir.file("fresh.img");
  fillPattern(image, 20 * kMiB);
  const std::vector<std::uint8_t> before = ReadFileBytes(image);

  MediumJournal journal(512);
  RecordingMedium medium(OpenImage(image, 512, true), journal);
  const Guid id = guid("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  ASSERT_EQ(WriteEmptyGpt(medium, id, 0), ERROR_SUCCESS);
  const std::vector<std::uint8_t> after = ReadFileBytes(image);

  EXPECT_TRUE(SgdiskAccepts(image));
  PeerTable disk = SgdiskPrint(image);
  ASSERT_TRUE(disk.ok) << disk.text();
  EXPECT_EQ(disk.id, PeerGuidText(id));
  EXPECT_EQ(disk.entryCount, 128u);
  EXPECT_EQ(disk.firstUsable, 34u);
  EXPECT_EQ(disk.lastUsable, medium.sectorCount() - 34);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 446, after.begin()));
  const std::vector<std::uint8_t> sgdiskMbr = ReadFileRange(reference, 446, 66);
  EXPECT_TRUE(std::equal(sgdiskMbr.begin(), sgdiskMbr.end(), after.begin() + 446));
  // The protective MBR is the last write, so a cut leaves the old sector 0.
  ASSERT_FALSE(journal.events().empty());
  EXPECT_EQ(journal.events()[journal.events().size() - 2].lba, 0u);
  for (std::uint64_t lba : changedSectors(before, after, 512)) {
    EXPECT_TRUE(isTableSector(lba, medium.sectorCount(), 512)) << "sector " << lba << " changed";
  }
}

TEST_F(GptCodecEmpty, ProtectiveMbrOfLargeDisksMatchesSgdisk) {
  // Past cylinder 1023 the CHS fields saturate; past 2^32 sectors the size does.
  for (std::uint64_t size : {std::uint64_t{20} << 30, std::uint64_t{3} << 40}) {
    SCOPED_TRACE(size);
    std::string reference = dir.file("reference.img");
    std::string image = dir.file("kestrin.img");
    std::filesystem::remove(reference);
    ASSERT_EQ(MakeSgdiskImage(reference, size, {"-o"}), "");
    MakeSparseFile(image, size);
    auto medium = OpenImage(image, 512, true);
    ASSERT_EQ(WriteEmptyGpt(*medium, NewGuid(), 0), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileRange(image, 0, 512), ReadFileRange(reference, 0, 512));
  }
}

TEST_F(GptCodecEmpty, HonoursEntryCountAndRefusesWhatCannotFit) {
  MakeSparseFile(image, 16 * kMiB);
  auto medium = OpenImage(image, 512, true);
  const Guid id = guid("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  EXPECT_EQ(WriteEmptyGpt(*medium, id, 0xFFFFFFFFu), ERROR_INVALID_PARAMETER);
  MemoryMedium tiny(16 * 512, 512);
  EXPECT_EQ(WriteEmptyGpt(tiny, id, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(tiny.writes, 0u);
  EXPECT_TRUE(ReadFileBytes(image) == std::vector<std::uint8_t>(16 * kMiB, 0));

  for (auto [asked, held] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{4, 128}, {200, 200}, {0, 128}}) {
    SCOPED_TRACE(asked);
    ASSERT_EQ(WriteEmptyGpt(*medium, id, asked), ERROR_SUCCESS);
    EXPECT_TRUE(SgdiskAccepts(image));
    PeerTable disk = SgdiskPrint(image);
    ASSERT_TRUE(disk.ok) << disk.text();
    EXPECT_EQ(disk.entryCount, held);
    EXPECT_EQ(disk.firstUsable, 2 + held * 128 / 512);
    bool found = false;
    LayoutBuffer layout = decode(*medium, found);
    EXPECT_EQ(layout.gptMaxPartitionCount(), held);
    EXPECT_EQ(layout.partitionCount(), 0u);
  }
}

TEST_F(GptCodecEmpty, WritesFreshTableOnFourKibSectors) {
  MakeSparseFile(image, 64 * kMiB);
  {
    auto medium = OpenImage(image, 4096, true);
    ASSERT_EQ(WriteEmptyGpt(*medium, NewGuid(), 128), ERROR_SUCCESS);
  }
  PartitionedLoopDevice loop(image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  EXPECT_TRUE(SgdiskAccepts(loop.path()));
  PeerTable disk = SgdiskPrint(loop.path());
  ASSERT_TRUE(disk.ok) << disk.text();
  EXPECT_EQ(disk.firstUsable, 6u);
  EXPECT_EQ(disk.lastUsable, 64 * kMiB / 4096 - 6);
}

TEST_F(GptCodecWipe, ClearsBothHeadersAndNothingElse) {
  fillPattern(image, 16 * kMiB);
  ASSERT_EQ(MakeSgdiskImage(image, 16 * kMiB, kGapTable), "");
  MemoryMedium medium = LoadImage(image, 512);
  const std::vector<std::uint8_t> before = medium.bytes;
  ASSERT_EQ(WipeGpt(medium), ERROR_SUCCESS);
  bool found = true;
  decode(medium, found);
  EXPECT_FALSE(found);
  EXPECT_EQ(changedSectors(before, medium.bytes, 512), (std::vector<std::uint64_t>{1, medium.sectorCount() - 1}));

  // Sectors that hold no GPT header (an MBR disk's boot loader) stay.
  MemoryMedium mbrDisk(1 * kMiB, 512);
  std::fill(mbrDisk.bytes.begin(), mbrDisk.bytes.end(), 0x5A);
  ASSERT_EQ(WipeGpt(mbrDisk), ERROR_SUCCESS);
  EXPECT_EQ(mbrDisk.writes, 0u);
}

// A hybrid MBR (sgdisk -h 1:2) mirrors GPT partitions for a boot set-up that
// reads only the MBR. A table rewrite keeps it in step with the GPT, so that
// sgdisk finds nothing amiss: a mirror follows its partition when it is
// resized in place and goes with it when it is removed or moved; everything
// else in sector 0 stays byte for byte. A fresh table replaces it with a
// plain protective MBR.
TEST_F(GptCodecEncode, KeepsAHybridMbrInStepWithTheGptAndDropsItOnAFreshTable) {
  constexpr std::size_t kMirrorOf2 = 446 + 2 * 16;  // sgdisk -h puts 0xEE first, then the mirrors
  struct Case {
    const char* name;
    std::function<void(LayoutBuffer&)> change;
    std::optional<std::uint32_t> mirrorOf2Sectors;  // nullopt: the mirror is dropped
  };
  const std::uint32_t kEightMiB = 8 * kMiB / 512;
  const Case cases[] = {
      {"attributes", [](LayoutBuffer& l) { l.slot(1).setGptAttributes(0x4); }, kEightMiB},
      {"retype", [](LayoutBuffer& l) { l.slot(2).setGptPartitionType(guid("{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}")); },
       kEightMiB},
      {"create in free space", [](LayoutBuffer& l) { createSlot(l, 4, 40 * kMiB, kMiB, kLinuxData); }, kEightMiB},
      {"delete", [](LayoutBuffer& l) { deleteSlot(l, 2); }, std::nullopt},
      {"shrink", [](LayoutBuffer& l) { l.slot(2).setPartitionLength(4 * kMiB); }, kEightMiB / 2},
      {"grow",
       [](LayoutBuffer& l) {
         l.slot(3).setStartingOffset(30 * kMiB);
         l.slot(2).setPartitionLength(10 * kMiB);
       },
       kEightMiB / 4 * 5},
      {"move", [](LayoutBuffer& l) { l.slot(2).setStartingOffset(48 * kMiB); }, std::nullopt},
  };
  const std::string made = dir.file("made.img");
  ASSERT_EQ(MakeSgdiskImage(made, 64 * kMiB, {"-n", "1:2048:+8M", "-n", "2:0:+8M", "-n", "3:0:+8M"}), "");
  ASSERT_EQ(PartitionWithSgdisk(made, {"-h", "1:2"}), "");
  const std::vector<std::uint8_t> before = ReadFileRange(made, 0, 512);
  ASSERT_EQ(before[446 + 4], 0xEE);
  ASSERT_EQ(readLe32(before, kMirrorOf2 + 12), kEightMiB);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = dir.file("hybrid.img");
    std::filesystem::copy_file(made, image, std::filesystem::copy_options::overwrite_existing);

    auto medium = OpenImage(image, 512, true);
    bool found = false;
    LayoutBuffer edited = decode(*medium, found);
    ASSERT_TRUE(found);
    c.change(edited);
    ASSERT_EQ(EncodeGpt(*medium, edited), ERROR_SUCCESS);
    EXPECT_TRUE(SgdiskAccepts(image));

    std::vector<std::uint8_t> expected = before;
    if (!c.mirrorOf2Sectors) {
      std::fill_n(expected.begin() + kMirrorOf2, 16, 0);
    } else if (*c.mirrorOf2Sectors != kEightMiB) {
      writeLe32(expected, kMirrorOf2 + 12, *c.mirrorOf2Sectors);
      const std::vector<std::uint8_t> after = ReadFileRange(image, 0, 512);
      std::copy_n(after.begin() + kMirrorOf2 + 5, 3, expected.begin() + kMirrorOf2 + 5);  // its end CHS
    }
    EXPECT_EQ(ReadFileRange(image, 0, 512), expected);

    ASSERT_EQ(WriteEmptyGpt(*medium, NewGuid(), 128), ERROR_SUCCESS);
    const std::vector<std::uint8_t> fresh = ReadFileRange(image, 0, 512);
    EXPECT_EQ(fresh[446 + 4], 0xEE);
    EXPECT_EQ(fresh[446 + 16 + 4], 0x00);
  }
}

// After the disk grew, a rewrite lays the table out for the disk as it now
// is, as a fresh table would be: the backup copy at the new end, the usable
// area up to it, the protective MBR's size (0xFFFFFFFF past 2 TiB). The
// entries stay where they are.
TEST_F(GptCodecEncode, ARewriteAfterTheDiskGrewUsesTheWholeDisk) {
  for (std::uint64_t grown : std::initializer_list<std::uint64_t>{128 * kMiB, 3ull << 40}) {
    SCOPED_TRACE(grown);
    std::filesystem::remove(image);
    ASSERT_EQ(MakeSgdiskImage(image, 64 * kMiB, {"-n", "1:2048:+8M"}), "");
    ASSERT_EQ(::truncate(image.c_str(), static_cast<off_t>(grown)), 0);
    auto medium = OpenImage(image, 512, true);
    bool found = false;
    LayoutBuffer edited = decode(*medium, found);
    ASSERT_TRUE(found);
    edited.slot(1).setGptAttributes(0x4);
    ASSERT_EQ(EncodeGpt(*medium, edited), ERROR_SUCCESS);

    const std::uint64_t sectors = grown / 512;
    PeerTable dump = SfdiskDump(image);
    EXPECT_EQ(dump.error, "");
    EXPECT_EQ(dump.lastUsable, sectors - 34) << dump.output;
    EXPECT_TRUE(SgdiskAccepts(image));
    EXPECT_EQ(readLe32(ReadFileRange(image, 446 + 12, 4), 0), std::min<std::uint64_t>(sectors - 1, 0xFFFFFFFFu));
    ASSERT_EQ(dump.partitions.size(), 1u);
    EXPECT_EQ(dump.partitions[0].start, 2048u);
    EXPECT_EQ(dump.partitions[0].size, 8 * kMiB / 512);
  }
}
