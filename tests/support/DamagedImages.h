#pragma once
// A catalogue of damaged disk images: each entry makes a clean table with
// sfdisk or sgdisk in an image file and then damages it in one way. The
// verify tests judge each with check::VerifyDisk and the peers' own checks,
// the hostile-input tests feed them to kestrin-cli, and fuzz/make-seeds.sh
// seeds the fuzzers with them (through DamagedImageCatalogue in
// BadInputTest, which writes every image to a folder).

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrin::test {

struct DamagedImage {
  DamagedImage(std::string name, std::function<void(const std::string&)> make, std::string rule = {},
               bool warning = false, bool sgdisk = false, std::string peerSays = {}, int peerExit = 0,
               std::uint32_t sectorSize = 512)
      : name(std::move(name)),
        make(std::move(make)),
        rule(std::move(rule)),
        warning(warning),
        sgdisk(sgdisk),
        peerSays(std::move(peerSays)),
        peerExit(peerExit),
        sectorSize(sectorSize) {}

  std::string name;
  // Makes the image at the path: the clean table, then the damage.
  std::function<void(const std::string&)> make;
  // The rule verify names (TableRules.h); empty for a clean table, or for a
  // file that holds no table at all (a RAW disk).
  std::string rule;
  bool warning;  // the rule is a warning, which leaves the table clean
  // The peer that judges the table: sgdisk -v, or sfdisk --verify; what it
  // says of it (empty: nothing asked) and its exit status where the table
  // has a problem (mostly 0, which is what verify improves on).
  bool sgdisk;
  std::string peerSays;
  int peerExit;
  std::uint32_t sectorSize;  // the sector size the image is read with
};

// A test's parameter is shown by its name.
inline void PrintTo(const DamagedImage& image, std::ostream* out) { *out << image.name; }

// The size of the images of VerifyCases, and its sectors of 512 bytes.
inline constexpr std::uint64_t kVerifyImageSize = 16ull << 20;

// Tables made by the peers on 16 MiB images, each clean or damaged so that
// verify names one rule: the headers and arrays of both GPT copies, the
// protective and hybrid MBRs, partitions that overlap or leave the disk, the
// EBR chain.
std::vector<DamagedImage> VerifyCases();

// Files that hardly hold a table at all, on 4 MiB images: empty or shorter
// than a sector, random entries, chains and arrays past the end, GPT
// headers whose checksums are right but whose sizes are absurd, sectors of
// the wrong size. Verify names what it finds first of its kind (a GPT of
// which neither copy can be read is "gpt-missing"). Making one of 4096-byte
// sectors runs kestrin-cli.
std::vector<DamagedImage> HostileImages();

// The clean tables the hostile images start from, on 4 MiB images by
// sfdisk: an MBR of a bootable Linux entry and an NTFS entry, a GPT of a
// Linux entry and a Basic Data entry.
void MakeSmallMbr(const std::string& path);
void MakeSmallGpt(const std::string& path);

// Both lists.
std::vector<DamagedImage> DamagedImageCatalogue();

// The name as a test or file name: letters and digits kept, the rest '_'.
std::string DamagedImageId(const std::string& name);

}  // namespace kestrin::test
