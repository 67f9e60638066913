#include "DamagedImages.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <span>

#include "ByteOrder.h"
#include "GptImage.h"
#include "PeerImages.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kSmallSectors = kVerifyImageSize / kSector;
constexpr std::uint64_t kHostileImageSize = 4ull << 20;
const std::string kCli = std::string(KESTRIN_BINARY_DIR) + "/cli/kestrin-cli";

const std::string kGptScript = "label: gpt\n,4MiB,L\n,4MiB,U\n";
// Primaries 1, 3 and 4, the extended partition 2 with logical drives 5 and 6.
const std::string kMbrScript = "label: dos\n,2MiB,83\n,8MiB,5\n,2MiB,7\n,2MiB,83\n,2MiB,82\n,2MiB,83\n";

using Damage = std::function<void(const std::string&)>;

// Rewrites the image with `change` applied to its bytes.
void changeImage(const std::string& image, const std::function<void(std::vector<std::uint8_t>&)>& change) {
  std::vector<std::uint8_t> bytes = ReadFileBytes(image);
  change(bytes);
  WriteFileRange(image, 0, bytes);
}

// Sets GPT entry `index`'s first and last sector in both copies, checksums resealed.
Damage gptEntryExtent(std::uint32_t index, std::uint64_t first, std::uint64_t last) {
  return [=](const std::string& image) {
    changeImage(image, [&](std::vector<std::uint8_t>& bytes) {
      for (std::uint64_t header : {std::uint64_t{1}, kSmallSectors - 1}) {
        std::span<std::uint8_t> entry = GptEntryAt(bytes, kSector, header, index);
        writeLe64(entry, 32, first);
        writeLe64(entry, 40, last);
        GptReseal(bytes, kSector, header);
      }
    });
  };
}

Damage flipByte(std::uint64_t offset) {
  return [=](const std::string& image) {
    changeImage(image, [&](std::vector<std::uint8_t>& bytes) { bytes.at(offset) ^= 0x5A; });
  };
}

// Primary entry `index` of the MBR: `field` 4 is the type, 8 the start, 12 the size.
Damage mbrField(int index, std::size_t field, std::uint32_t value) {
  return [=](const std::string& image) {
    changeImage(image, [&](std::vector<std::uint8_t>& bytes) {
      const std::size_t at = 446 + 16 * static_cast<std::size_t>(index) + field;
      if (field == 4) {
        bytes[at] = static_cast<std::uint8_t>(value);
      } else {
        writeLe32(bytes, at, value);
      }
    });
  };
}

// Entry `index` of the EBR number `ebr` (0 the first) of the chain.
Damage ebrField(int ebr, int index, std::size_t field, std::uint32_t value) {
  return [=](const std::string& image) {
    changeImage(image, [&](std::vector<std::uint8_t>& bytes) {
      const std::uint64_t extended = readLe32(bytes, 446 + 16 + 8);
      std::uint64_t lba = extended;
      for (int i = 0; i < ebr; ++i) lba = extended + readLe32(bytes, lba * kSector + 446 + 16 + 8);
      writeLe32(bytes, lba * kSector + 446 + 16 * static_cast<std::size_t>(index) + field, value);
    });
  };
}

// sgdisk's hybrid MBR of partition 1, then the start of one of its two
// entries moved: the 0xEE entry (onto the mirror) or the mirror.
Damage hybridMoved(bool protectiveEntry) {
  return [=](const std::string& i) {
    ASSERT_EQ(Run({"sgdisk", "-h", "1", i}).exitCode, 0);
    const std::vector<std::uint8_t> sector0 = ReadFileRange(i, 0, kSector);
    const bool firstIsProtective = sector0[446 + 4] == 0xEE;
    mbrField(firstIsProtective == protectiveEntry ? 0 : 1, 8, 4096)(i);
  };
}

// An MBR written by sfdisk over the GPT, which it leaves behind.
Damage mbrOverGpt(const std::string& script) {
  return [=](const std::string& i) { ASSERT_EQ(Run({"sfdisk", "-q", "--wipe", "never", i}, script).exitCode, 0); };
}

// A 16 MiB image that sfdisk partitions from `script`, then `damage`.
Damage verifyImage(const std::string& script, Damage damage) {
  return [=](const std::string& image) {
    MakeSparseFile(image, kVerifyImageSize);
    ASSERT_EQ(Run({"sfdisk", "-q", image}, script).exitCode, 0) << script;
    if (damage) damage(image);
  };
}

void patchGptHeader(const std::string& path, std::uint64_t lba,
                    const std::function<void(std::span<std::uint8_t>)>& change) {
  std::vector<std::uint8_t> header = ReadFileRange(path, lba * kSector, kSector);
  change(header);
  writeLe32(header, 16, 0);
  const std::uint32_t size = readLe32(header, 12);
  // The checksum over the header's own length, capped at the sector, so
  // that a header claiming any length still passes the checksum test.
  const uInt covered = std::min<std::uint32_t>(size, kSector);
  writeLe32(header, 16, static_cast<std::uint32_t>(crc32(0, header.data(), covered)));
  WriteFileRange(path, lba * kSector, header);
}

// A GPT whose two headers are changed alike, their checksums made right, so
// the damage is not simply read past by taking the other copy.
Damage gptHeadersPatched(const std::function<void(std::span<std::uint8_t>)>& change) {
  return [=](const std::string& path) {
    MakeSmallGpt(path);
    const std::uint64_t last = std::filesystem::file_size(path) / kSector - 1;
    patchGptHeader(path, 1, change);
    patchGptHeader(path, last, change);
  };
}

// An extended partition with two logical drives by sfdisk.
void makeHostileChain(const std::string& p) {
  MakeSparseFile(p, kHostileImageSize);
  ASSERT_EQ(Run({"sfdisk", "-q", p}, "label: dos\n2048,6000,5\n4096,512,83\n6144,512,83\n").exitCode, 0);
}

}  // namespace

void MakeSmallMbr(const std::string& path) {
  ASSERT_EQ(MakeSfdiskImage(path, kHostileImageSize, "label: dos\nlabel-id: 0x11223344\n2048,2048,83,*\n4096,2048,7\n"),
            "");
}
void MakeSmallGpt(const std::string& path) {
  ASSERT_EQ(MakeSfdiskImage(path, kHostileImageSize, "label: gpt\n2048,2048,L\n4096,2048,U\n"), "");
}

std::vector<DamagedImage> VerifyCases() {
  const std::uint64_t last = kSmallSectors - 1;
  auto gpt = [](Damage damage) { return verifyImage(kGptScript, std::move(damage)); };
  auto mbr = [](Damage damage) { return verifyImage(kMbrScript, std::move(damage)); };
  auto resized = [](std::uint64_t size) {
    return [=](const std::string& i) { std::filesystem::resize_file(i, size); };
  };
  // Fields: name, make, rule, warning, sgdisk, what the peer says, its exit status.
  return {
      {"clean GPT", gpt(nullptr), "", false, true, "No problems found"},
      {"primary header", gpt(flipByte(512 + 60)), "gpt-primary-header", false, true, "invalid main GPT header"},
      {"primary array", gpt(flipByte(1024 + 10)), "gpt-primary-array", false, true,
       "Main partition table CRC mismatch"},
      {"backup header", gpt(flipByte(last * kSector + 60)), "gpt-backup-header", false, true,
       "invalid backup GPT header"},
      {"backup array", gpt(flipByte((last - 32) * kSector + 10)), "gpt-backup-array", false, true,
       "Backup partition table: ERROR"},
      {"grown disk", gpt(resized(kVerifyImageSize + (1 << 20))), "gpt-backup-not-at-end", false, true,
       "doesn't reside"},
      {"protective MBR size", gpt(mbrField(0, 12, 1000)), "protective-mbr-size", false, true},
      {"no MBR in front",
       gpt([](const std::string& i) { changeImage(i, [](std::vector<std::uint8_t>& b) { b[510] = b[511] = 0; }); }),
       "gpt-without-mbr", false, true, "Found valid GPT with corrupt MBR"},
      {"overlap", gpt(gptEntryExtent(1, 2148, 12000)), "overlap", false, true, "overlap"},
      {"outside usable area", gpt(gptEntryExtent(1, 12288, last - 5)), "outside-usable-area", false, true,
       "overlaps the last partition"},
      {"past the end", gpt(gptEntryExtent(1, 12288, last + 100)), "past-end", false, true, "too big for the disk"},
      {"ends before start", gpt(gptEntryExtent(1, 12288, 12000)), "ends-before-start", false, true,
       "ends before it begins"},
      {"copies differ", gpt([=](const std::string& i) {
         changeImage(i, [&](std::vector<std::uint8_t>& b) {
           writeLe64(b, last * kSector + 40, 40);
           GptReseal(b, kSector, last);
         });
       }),
       "gpt-copies-differ", false, true, "first usable LBA pointer"},
      {"hybrid MBR overlap", gpt(hybridMoved(true)), "hybrid-mbr", false, true, "MBR partitions 1 and 2 overlap"},
      {"hybrid MBR", gpt(hybridMoved(false)), "hybrid-mbr", false, true, "has no corresponding GPT partition"},
      {"protective entry turned 0x83", gpt(mbrField(0, 4, 0x83)), "gpt-behind-mbr", false, true,
       "has no corresponding GPT partition", 2},
      {"clean MBR", mbr(nullptr), "", false, false, "No errors detected"},
      {"boot byte 0x01", mbr([](const std::string& i) { WriteFileRange(i, 446 + 16, {0x01}); }), "boot-flag", false,
       false, "No errors detected"},
      {"misaligned start", verifyImage("label: dos\nstart=63,size=4096,type=83\n", nullptr), "misaligned", true},
      {"GPT left behind an MBR", gpt(mbrOverGpt("label: dos\n,4MiB,83\n")), "gpt-leftover", true, true,
       "No problems found"},
      {"GPT behind an MBR of other partitions", gpt(mbrOverGpt("label: dos\n,10MiB,83\n")), "gpt-behind-mbr", false,
       true, "has no corresponding GPT partition", 2},
      {"small GPT array", verifyImage("label: gpt\ntable-length: 8\n,10MiB,L\n", nullptr), "gpt-small-array", true},
      {"MBR overlap", mbr(mbrField(2, 8, 2148)), "overlap", false, false, "overlaps partition"},
      {"MBR entry of zero length", mbr(mbrField(2, 12, 0)), "zero-length"},
      {"two extended", mbr(mbrField(2, 4, 0x05)), "extended-twice", false, false, "Ignoring extra extended partition"},
      {"logical outside", mbr(ebrField(0, 0, 12, 30000)), "outside-extended"},
      {"EBR loop", mbr(ebrField(0, 1, 8, 0)), "ebr-loop", false, false, "Omitting partitions"},
      {"EBR leaves", mbr(ebrField(0, 1, 8, 20000)), "ebr-leaves-extended"},
      {"MBR past end", mbr(resized(10 << 20)), "past-end"},
  };
}

std::vector<DamagedImage> HostileImages() {
  return {
      // Fields: name, make, the rule verify names (none: the disk is RAW).
      {"zero-length", [](const std::string& p) { MakeSparseFile(p, 0); }},
      {"shorter than a sector",
       [](const std::string& p) {
         MakeSparseFile(p, 0);
         WriteFileRange(p, 0, std::vector<std::uint8_t>(100, 0x55));
       }},
      {"boot signature over random entries",
       [](const std::string& p) {
         MakeSparseFile(p, kHostileImageSize);
         std::vector<std::uint8_t> sector(kSector);
         std::uint32_t x = 12345;
         for (auto& b : sector) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 24);
         sector[510] = 0x55;
         sector[511] = 0xAA;
         WriteFileRange(p, 0, sector);
       },
       "past-end"},
      {"MBR entries past the end",
       [](const std::string& p) {
         MakeSmallMbr(p);
         std::filesystem::resize_file(p, 1 << 20);
       },
       "past-end"},
      {"EBR chain past the end",
       [](const std::string& p) {
         makeHostileChain(p);
         std::filesystem::resize_file(p, 5000 * kSector);
       },
       "ebr-missing"},
      {"EBR linking to itself",
       [](const std::string& p) {
         makeHostileChain(p);
         // The first EBR sits at the start of the extended partition;
         // its link entry (the second) now names itself.
         std::vector<std::uint8_t> ebr = ReadFileRange(p, 2048 * kSector, kSector);
         writeLe32(ebr, 446 + 16 + 8, 0);
         WriteFileRange(p, 2048 * kSector, ebr);
       },
       "ebr-loop"},
      {"GPT cut inside its entry array",
       [](const std::string& p) {
         MakeSmallGpt(p);
         std::filesystem::resize_file(p, 5 * kSector + 100);
       },
       "gpt-missing"},
      {"GPT entry array past the end",
       gptHeadersPatched([](std::span<std::uint8_t> h) { writeLe64(h, 72, 1ull << 40); }), "gpt-missing"},
      {"GPT last usable sector past the end",
       gptHeadersPatched([](std::span<std::uint8_t> h) { writeLe64(h, 48, ~0ull); }), "gpt-missing"},
      {"GPT of four billion entries",
       gptHeadersPatched([](std::span<std::uint8_t> h) { writeLe32(h, 80, 0xFFFFFFFFu); }), "gpt-missing"},
      {"GPT entries of no size",
       gptHeadersPatched([](std::span<std::uint8_t> h) { writeLe32(h, 84, 0); }), "gpt-missing"},
      {"GPT header longer than its sector",
       gptHeadersPatched([](std::span<std::uint8_t> h) { writeLe32(h, 12, 0xFFFFFFFFu); }), "gpt-missing"},
      {"GPT of 4096-byte sectors read with 512-byte sectors",
       [](const std::string& p) {
         MakeSparseFile(p, kHostileImageSize);
         const std::vector<std::string> disk{"timeout", "-s", "KILL", "60", kCli, "--sector-size", "4096",
                                             "--disk",  p,    "--yes"};
         auto with = [&](std::vector<std::string> args) {
           args.insert(args.begin(), disk.begin(), disk.end());
           return Run(args);
         };
         ASSERT_EQ(with({"create-disk", "0", "gpt"}).exitCode, 0);
         ASSERT_EQ(with({"create-partition", "0", "1", "--type", "BASIC_DATA_GUID"}).exitCode, 0);
       },
       "gpt-missing"},
      {"GPT of 512-byte sectors read with 4096-byte sectors", MakeSmallGpt, "gpt-missing", false, false, "", 0, 4096},
  };
}

std::vector<DamagedImage> DamagedImageCatalogue() {
  std::vector<DamagedImage> all = VerifyCases();
  for (DamagedImage& image : HostileImages()) all.push_back(std::move(image));
  return all;
}

std::string DamagedImageId(const std::string& name) {
  std::string id;
  for (char c : name) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return id;
}

}  // namespace kestrin::test
