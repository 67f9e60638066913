// The GPT codec against tables made and checked by sgdisk, sfdisk, parted
// and partx, and against forged or damaged tables in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "GptImage.h"
#include "GptLoopDevice.h"
#include "GptPeers.h"
#include "ImageMedium.h"
#include "LayoutCodec.h"
#include "MemoryMedium.h"
#include "Port.h"
#include "TestSupport.h"

using namespace kestrin;
using namespace kestrin::test;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::unique_ptr<ImageMedium> openImage(const std::string& path, std::uint32_t sectorSize, bool writable = false) {
  std::uint32_t error = 0;
  auto medium = ImageMedium::open(path, writable, sectorSize, error);
  EXPECT_EQ(error, ERROR_SUCCESS) << path;
  return medium;
}

// A sparse image of `size` bytes with the table that sgdisk makes from `args`.
void makeSgdiskImage(const std::string& path, std::uint64_t size, std::vector<std::string> args) {
  MakeSparseFile(path, size);
  args.insert(args.begin(), "sgdisk");
  args.push_back(path);
  RunResult r = Run(args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
}

MemoryMedium loadImage(const std::string& path, std::uint32_t sectorSize) {
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  MemoryMedium medium(bytes.size(), sectorSize);
  medium.bytes = std::move(bytes);
  return medium;
}

LayoutBuffer decode(SectorReader& medium, bool& found) {
  LayoutBuffer layout;
  EXPECT_EQ(DecodeGpt(medium, layout, found), ERROR_SUCCESS);
  return layout;
}

// The text form that the peers print (upper case, no braces), made here
// rather than by the code under test.
std::string bare(const Guid& guid) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text;
  char digits[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    std::snprintf(digits, sizeof digits, "%02X", guid.bytes[kOrder[i]]);
    text += digits;
  }
  return text;
}

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The layout says what sfdisk --dump and sgdisk -i say of `device`.
void expectPeersAgree(const LayoutBuffer& layout, const std::string& device, std::uint32_t sectorSize) {
  PeerTable dump = SfdiskDump(device);
  ASSERT_TRUE(dump.ok) << device;
  EXPECT_EQ(bare(layout.gptDiskId()), dump.diskId);
  EXPECT_EQ(layout.gptStartingUsableOffset(), static_cast<std::int64_t>(dump.firstUsable * sectorSize));
  EXPECT_EQ(layout.gptUsableLength(),
            static_cast<std::int64_t>((dump.lastUsable - dump.firstUsable + 1) * sectorSize));
  ASSERT_EQ(layout.partitionCount(), dump.entries.size());
  for (std::size_t i = 0; i < dump.entries.size(); ++i) {
    const PeerEntry& peer = dump.entries[i];
    ConstLayoutSlot slot = layout.slot(static_cast<int>(i + 1));
    SCOPED_TRACE("entry " + std::to_string(peer.number));
    EXPECT_EQ(slot.style(), kStyleGpt);
    EXPECT_EQ(slot.partitionNumber(), peer.number);
    EXPECT_EQ(slot.startingOffset(), static_cast<std::int64_t>(peer.start * sectorSize));
    EXPECT_EQ(slot.partitionLength(), static_cast<std::int64_t>(peer.size * sectorSize));
    EXPECT_EQ(bare(slot.gptPartitionType()), peer.type);
    EXPECT_EQ(bare(slot.gptPartitionId()), peer.uuid);
    EXPECT_EQ(narrow(slot.gptName()), peer.name);
    auto info = SgdiskInfo(device, peer.number);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(slot.gptAttributes(), info->attributes);
  }
  auto disk = SgdiskPrint(device);
  ASSERT_TRUE(disk.has_value());
  EXPECT_EQ(layout.gptMaxPartitionCount(), disk->entryCount);
}

const std::vector<std::string> kGapTable = {
    "-n", "1:2048:+1M", "-t", "1:8300", "-c", "1:root",   "-n", "3:6144:+2M",  "-t",
    "3:ef00", "-c", "3:EFI sys", "-A", "3:set:0", "-A", "3:set:62", "-A", "1:set:60"};

}  // namespace

// --- reading ---

TEST(GptCodecDecode, ReadsTableWithGapKeepingArrayPositionsAsNumbers) {
  TempDir dir;
  std::string image = dir.file("gap.img");
  makeSgdiskImage(image, 16 * kMiB, kGapTable);
  auto medium = openImage(image, 512);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_TRUE(found);
  EXPECT_EQ(layout.partitionStyle(), kStyleGpt);
  ASSERT_EQ(layout.partitionCount(), 2u);
  EXPECT_EQ(layout.slot(2).partitionNumber(), 3u);
  EXPECT_EQ(layout.slot(2).gptAttributes(), 0x4000000000000001u);
  expectPeersAgree(layout, image, 512);
}

TEST(GptCodecDecode, ReadsTableOnFourKibSectors) {
  TempDir dir;
  std::string image = dir.file("4k.img");
  MakeSparseFile(image, 64 * kMiB);
  GptLoopDevice loop(image, 4096);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  RunResult made = test::Run({"sgdisk", "-n", "1:256:+2M", "-c", "1:data", "-n", "4:0:+4M", "-t", "4:ef00", "-A",
                        "4:set:2", loop.path()});
  ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
  loop.detach();

  auto medium = openImage(image, 0);  // the sector size is detected from the table
  ASSERT_EQ(medium->sectorSize(), 4096u);
  bool found = false;
  LayoutBuffer layout = decode(*medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(layout.partitionCount(), 2u);
  EXPECT_EQ(layout.slot(1).startingOffset(), 256 * 4096);
  GptLoopDevice again(image, 4096);
  ASSERT_TRUE(again.attached()) << again.failure();
  expectPeersAgree(layout, again.path(), 4096);
}

TEST(GptCodecDecode, FallsBackToBackupWhenPrimaryHeaderOrArrayIsDamaged) {
  TempDir dir;
  std::string image = dir.file("fallback.img");
  makeSgdiskImage(image, 16 * kMiB, kGapTable);
  MemoryMedium pristine = loadImage(image, 512);
  bool found = false;
  LayoutBuffer expected = decode(pristine, found);
  ASSERT_TRUE(found);

  for (std::uint64_t damagedByte : {512u + 60u, 2u * 512u + 3u}) {  // a header field; entry 1's type
    SCOPED_TRACE(damagedByte);
    MemoryMedium medium = pristine;
    medium.bytes[damagedByte] ^= 0x40;
    LayoutBuffer layout = decode(medium, found);
    ASSERT_TRUE(found);
    EXPECT_TRUE(std::memcmp(layout.data(), expected.data(), LayoutBuffer::size()) == 0);
  }
}

TEST(GptCodecDecode, ReadsAsRawWhenBothCopiesAreDamaged) {
  TempDir dir;
  std::string image = dir.file("broken.img");
  makeSgdiskImage(image, 16 * kMiB, kGapTable);
  MemoryMedium medium = loadImage(image, 512);
  medium.bytes[512 + 60] ^= 0x01;                     // primary header
  medium.bytes[medium.bytes.size() - 512 + 60] ^= 0x01;  // backup header
  bool found = true;
  decode(medium, found);
  EXPECT_FALSE(found);
  LayoutBuffer layout;
  ASSERT_EQ(DecodeLayout(medium, layout), ERROR_SUCCESS);
  EXPECT_EQ(layout.partitionStyle(), kStyleRaw);
  EXPECT_EQ(layout.partitionCount(), 0u);
}

TEST(GptCodecDecode, RefusesMoreThanSixtyFourUsedEntries) {
  TempDir dir;
  std::string image = dir.file("many.img");
  std::vector<std::string> args = {"-a", "8"};
  for (int n = 1; n <= 65; ++n) {
    args.insert(args.end(), {"-n", std::to_string(n) + ":0:+4K"});
  }
  makeSgdiskImage(image, 8 * kMiB, args);
  MemoryMedium medium = loadImage(image, 512);
  LayoutBuffer layout;
  bool found = false;
  EXPECT_EQ(DecodeGpt(medium, layout, found), ERROR_INSUFFICIENT_BUFFER);

  ASSERT_EQ(test::Run({"sgdisk", "-d", "30", image}).exitCode, 0);
  medium = loadImage(image, 512);
  ASSERT_EQ(DecodeGpt(medium, layout, found), ERROR_SUCCESS);
  ASSERT_EQ(layout.partitionCount(), 64u);
  EXPECT_EQ(layout.slot(29).partitionNumber(), 29u);
  EXPECT_EQ(layout.slot(30).partitionNumber(), 31u);
  EXPECT_EQ(layout.slot(64).partitionNumber(), 65u);
}

TEST(GptCodecDecode, IgnoresHostileHeadersInEitherCopy) {
  TempDir dir;
  std::string image = dir.file("hostile.img");
  makeSgdiskImage(image, 16 * kMiB, kGapTable);
  const MemoryMedium pristine = loadImage(image, 512);
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
    EXPECT_TRUE(std::memcmp(layout.data(), expected.data(), LayoutBuffer::size()) == 0);

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

TEST(GptCodecDecode, LeavesOutEntriesThatLieOutsideTheDisk) {
  TempDir dir;
  std::string image = dir.file("outside.img");
  makeSgdiskImage(image, 4 * kMiB, {"-a", "8", "-n", "1:2048:+256K", "-n", "2:3072:+256K", "-n", "3:4096:+256K"});
  MemoryMedium medium = loadImage(image, 512);
  const std::uint64_t last = medium.sectorCount() - 1;
  for (std::uint64_t header : {std::uint64_t{1}, last}) {
    writeLe64(GptEntryAt(medium.bytes, 512, header, 0), 40, last + 1);  // ends past the disk
    writeLe64(GptEntryAt(medium.bytes, 512, header, 1), 32, 3700);       // starts after its end
    GptReseal(medium.bytes, 512, header);
  }
  bool found = false;
  LayoutBuffer layout = decode(medium, found);
  ASSERT_TRUE(found);
  ASSERT_EQ(layout.partitionCount(), 1u);
  EXPECT_EQ(layout.slot(1).partitionNumber(), 3u);
  EXPECT_EQ(layout.slot(1).startingOffset(), 4096 * 512);
}
