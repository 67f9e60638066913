// The codec's whole-table tools over image files that the peers made:
// check::VerifyDisk, judged against the peers' own checks on the catalogue
// of damaged images, and the table backups (TableSectors, ReadBackup, the
// file's encoding, PlanRestore and RestoreBackup) undoing edits the peers
// make.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DamagedImages.h"
#include "ErrorCodes.h"
#include "ImageMedia.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "TableBackup.h"
#include "TableCheck.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

constexpr std::uint64_t kImageSize = 100ull << 20;
constexpr std::uint64_t kSector = 512;
constexpr std::size_t kEdge = 1 << 20;  // where the tables live: the first and the last MiB

// Every finding of `report`, one a line, for a failure message.
std::string listed(const check::Report& report) {
  std::string out;
  for (const check::Finding& f : report.findings) {
    out += "\n  " + std::string(f.severity == check::Severity::Problem ? "problem " : "warning ") + f.rule + ": " +
           f.text;
  }
  return out;
}

// ---- verify ----

// Checks what VerifyDisk makes of the image that `c` made: `c.rule` named,
// as a problem unless it is a warning, or no finding at all. Returns the report.
check::Report expectVerdict(const DamagedImage& c, const std::string& image) {
  check::Report report;
  std::unique_ptr<ImageMedium> disk = OpenImage(image, c.sectorSize);
  if (!disk) return report;
  EXPECT_EQ(check::VerifyDisk(*disk, report), ERROR_SUCCESS) << c.name;
  const bool problem = !c.rule.empty() && !c.warning;
  EXPECT_EQ(report.hasProblems(), problem) << c.name << listed(report);
  EXPECT_EQ(check::HasProblem(report.findings), problem) << c.name;
  if (c.rule.empty()) {
    EXPECT_TRUE(report.findings.empty()) << c.name << listed(report);
    return report;
  }
  const check::Severity severity = c.warning ? check::Severity::Warning : check::Severity::Problem;
  const bool named = std::any_of(report.findings.begin(), report.findings.end(), [&](const check::Finding& f) {
    return f.rule == c.rule && f.severity == severity && !f.text.empty();
  });
  EXPECT_TRUE(named) << c.name << ": no " << c.rule << listed(report);
  return report;
}

// Each damaged table is one the peers' checks mostly pass (exit status 0)
// while saying what is wrong; VerifyDisk names the rule, as a problem
// unless it is a warning, and finds no problem in a clean table.
TEST(TableVerify, NamesWhatThePeersFindAndCallsAProblemWhatTheyPass) {
  ASSERT_TRUE(HaveTool("sfdisk") && HaveTool("sgdisk"));
  for (const DamagedImage& c : VerifyCases()) {
    TempDir dir;
    const std::string image = dir.file("disk.img");
    c.make(image);
    ASSERT_FALSE(HasFatalFailure()) << c.name;
    RunResult peer = c.sgdisk ? test::Run({"sgdisk", "-v", image}) : test::Run({"sfdisk", "--verify", image});
    if (!c.peerSays.empty()) {
      EXPECT_NE((peer.out + peer.err).find(c.peerSays), std::string::npos) << c.name << ": " << peer.out + peer.err;
    }
    if (!c.rule.empty() && !c.warning) {
      EXPECT_EQ(peer.exitCode, c.peerExit) << c.name;
    }
    expectVerdict(c, image);
  }
}

// Files that hardly hold a table are read to the end: one shorter than a
// sector is a RAW disk, the others have the problem their damage makes.
TEST(TableVerify, NamesWhatIsWrongWithFilesThatHardlyHoldATable) {
  for (const DamagedImage& c : HostileImages()) {
    TempDir dir;
    const std::string image = dir.file("disk.img");
    c.make(image);
    ASSERT_FALSE(HasFatalFailure()) << c.name;
    const check::Report report = expectVerdict(c, image);
    EXPECT_EQ(report.style, c.rule.empty() ? "RAW" : c.rule.rfind("gpt-", 0) == 0 ? "GPT" : "MBR") << c.name;
  }
}

// ---- backups ----

// The bytes where the partition tables of either style live.
std::vector<std::uint8_t> tables(const std::string& image) {
  std::vector<std::uint8_t> bytes = ReadFileRange(image, 0, kEdge);
  std::vector<std::uint8_t> tail = ReadFileRange(image, std::filesystem::file_size(image) - kEdge, kEdge);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

// What the peers read of the image: sfdisk's dump and blkid's probe.
std::string peersSee(const std::string& image) {
  return Run({"sfdisk", "--dump", image}).out + Run({"blkid", "-p", "-o", "export", image}).out;
}

// A backup of the image's table sectors, as the file keeps it.
TableBackup backupOf(const std::string& image) {
  std::unique_ptr<ImageMedium> disk = OpenImage(image, kSector);
  TableBackup backup;
  if (!disk) return backup;
  std::vector<std::uint64_t> lbas;
  EXPECT_EQ(TableSectors(*disk, lbas), ERROR_SUCCESS) << image;
  EXPECT_TRUE(std::is_sorted(lbas.begin(), lbas.end()) && std::adjacent_find(lbas.begin(), lbas.end()) == lbas.end());
  EXPECT_EQ(ReadBackup(*disk, lbas, backup), ERROR_SUCCESS) << image;
  std::string error;
  std::optional<TableBackup> decoded = DecodeBackup(EncodeBackup(backup), error);
  EXPECT_TRUE(decoded.has_value()) << error;
  return decoded.value_or(backup);
}

// Puts `backup` back on the image; false (with a failed check) when it fails.
bool restore(const std::string& image, const TableBackup& backup) {
  std::unique_ptr<ImageMedium> disk = OpenImage(image, kSector, true);
  if (!disk) return false;
  bool partlyRestored = false;
  const std::uint32_t error = RestoreBackup(*disk, backup, partlyRestored);
  EXPECT_EQ(error, ERROR_SUCCESS) << image;
  EXPECT_FALSE(partlyRestored) << image;
  return error == ERROR_SUCCESS && !partlyRestored;
}

// An edit the peers make to the image; the empty text on success.
using Edit = std::function<std::string(const std::string&)>;
// sfdisk with `args`, the image standing where "@" is, and `script` as its input.
Edit sfdisk(std::vector<std::string> args, std::string script = {}) {
  return [=](const std::string& image) {
    std::vector<std::string> line{"sfdisk", "-q", "--no-reread", "--no-tell-kernel"};
    for (const std::string& arg : args) line.push_back(arg == "@" ? image : arg);
    RunResult run = Run(line, script);
    return run.exitCode == 0 ? std::string() : run.out + run.err;
  };
}
Edit sgdisk(std::vector<std::string> options) {
  return [=](const std::string& image) { return PartitionWithSgdisk(image, options); };
}

// A backup taken before each step (the table sectors of the disk as it is,
// which must also cover where the step puts a table of the other style)
// undoes that step alone, the first backup all of them, byte for byte, in the
// peers' eyes and verify's. A table of 256 entries whose primary header is
// damaged has its whole array laid out after sector 1 as the backup header
// describes it, and is not clean after the restore either; tables of more
// entries than the layout record holds turn into the other style and back.
TEST(TableBackupOnImage, EditsUndoneByRestoringTheFirstBackupLeaveTheTableSectorsAsTheyWere) {
  ASSERT_TRUE(HaveTool("sfdisk") && HaveTool("sgdisk") && HaveTool("blkid"));
  TempDir dir;
  const std::string mbr = dir.file("mbr.img");
  const std::string gpt = dir.file("gpt.img");
  const std::string big = dir.file("big.img");
  const std::string gpt128 = dir.file("gpt128.img");
  const std::string mbr17 = dir.file("mbr17.img");
  ASSERT_EQ(MakeSfdiskImage(mbr, kImageSize, "label: dos\nlabel-id: 0x11223344\n,10MiB,83,*\n,20MiB,7\n"), "");
  ASSERT_EQ(MakeSfdiskImage(gpt, kImageSize, "label: gpt\n,10MiB,L\n,20MiB,U\n"), "");
  ASSERT_EQ(MakeSgdiskImage(big, kImageSize, {"--resize-table=256", "-n1:2048:+10M", "-n200:0:+5M"}), "");
  std::vector<std::uint8_t> bigBytes = ReadFileRange(big, 0, kEdge);
  bigBytes[512] = 0;                                                       // the primary header's signature
  std::fill(bigBytes.begin() + 51 * 512, bigBytes.begin() + 52 * 512, 0);  // a sector of its array
  WriteFileRange(big, 0, bigBytes);
  ASSERT_EQ(MakeSgdiskImage(gpt128, kImageSize, SgdiskPartitionsInARow(128, "+64K")), "");
  std::string script = "label: dos\n,1MiB,83\n,,5\n";
  for (int i = 0; i < 17; ++i) script += ",1MiB,83\n";
  ASSERT_EQ(MakeSfdiskImage(mbr17, kImageSize, script), "");

  struct Case {
    std::string image;
    std::vector<Edit> edits;
    bool clean = true;  // verify finds nothing once it is restored
  };
  const std::vector<Case> cases{
      {mbr,
       {sfdisk({"--append", "@"}, ",8MiB,83\n"), sfdisk({"--part-type", "@", "1", "c"}),
        sfdisk({"--disk-id", "@", "0x0A0B0C0D"}), sfdisk({"--delete", "@", "2"}), sfdisk({"@"}, "label: gpt\n"),
        sgdisk({"-n", "1:0:+4M"})}},
      {gpt,
       {sgdisk({"-n", "3:0:+8M"}), sgdisk({"-A", "1:set:0", "-A", "1:set:63"}), sgdisk({"-d", "1"}),
        sgdisk({"-n", "9:0:+2M"}), sfdisk({"@"}, "label: dos\n")}},
      {big, {sgdisk({"-n", "3:0:+4K"}), sgdisk({"-d", "1"})}, false},
      {gpt128, {sfdisk({"@"}, "label: dos\n")}},
      {mbr17, {sfdisk({"@"}, "label: gpt\n")}},
  };
  for (const Case& c : cases) {
    const TableBackup first = backupOf(c.image);
    const auto tablesBefore = tables(c.image);
    const std::string peersBefore = peersSee(c.image);
    std::vector<std::uint8_t> beforeLast;
    TableBackup lastStep;
    for (std::size_t i = 0; i < c.edits.size(); ++i) {
      lastStep = backupOf(c.image);
      beforeLast = tables(c.image);
      ASSERT_EQ(c.edits[i](c.image), "") << c.image << " step " << i;
      ASSERT_NE(tables(c.image), beforeLast) << c.image << " step " << i << " changed nothing";
    }
    ASSERT_TRUE(restore(c.image, lastStep)) << c.image;
    EXPECT_EQ(tables(c.image), beforeLast) << c.image;
    ASSERT_TRUE(restore(c.image, first)) << c.image;
    EXPECT_TRUE(tables(c.image) == tablesBefore) << c.image;
    EXPECT_EQ(peersSee(c.image), peersBefore) << c.image;
    std::unique_ptr<ImageMedium> disk = OpenImage(c.image, kSector);
    ASSERT_NE(disk, nullptr);
    check::Report report;
    ASSERT_EQ(check::VerifyDisk(*disk, report), ERROR_SUCCESS) << c.image;
    EXPECT_EQ(report.hasProblems(), !c.clean) << c.image << listed(report);
  }
}

// A restore writes table sectors and nothing else: data written into a
// partition's last sectors after the backup stays, on an MBR disk whose
// last partition reaches the end and on a GPT of 8 entries whose partition
// reaches the backup array.
TEST(TableBackupOnImage, RestoresOnlyTableSectors) {
  ASSERT_TRUE(HaveTool("sfdisk") && HaveTool("sgdisk"));
  struct Case {
    std::string name;
    std::function<std::string(const std::string&)> make;
    Edit edit;
  };
  const std::vector<Case> cases{
      {"MBR", [](const std::string& i) { return MakeSfdiskImage(i, kImageSize, "label: dos\n,10MiB,83\n,,83\n"); },
       sfdisk({"--activate", "@", "2"})},
      {"GPT", [](const std::string& i) { return MakeSgdiskImage(i, kImageSize, {"-S", "8", "-a", "1", "-n", "1:0:0"}); },
       sgdisk({"-A", "1:set:0"})},
  };
  const std::vector<std::uint8_t> data(64 * kSector, 0xD5);
  for (const Case& c : cases) {
    TempDir dir;
    const std::string image = dir.file("disk.img");
    ASSERT_EQ(c.make(image), "") << c.name;
    const PeerTable made = SfdiskDump(image);
    ASSERT_TRUE(made.ok && !made.partitions.empty()) << c.name << made.text();
    const std::uint64_t end = (made.partitions.back().start + made.partitions.back().size) * kSector;
    const TableBackup backup = backupOf(image);
    for (const SectorWrite& sector : backup.sectors) {
      EXPECT_TRUE(sector.lba * kSector + kSector <= end - data.size() || sector.lba * kSector >= end)
          << c.name << ": sector " << sector.lba << " of the backup lies in the partition's data";
    }
    WriteFileRange(image, end - data.size(), data);
    ASSERT_EQ(c.edit(image), "") << c.name;
    ASSERT_NE(SfdiskDump(image).output, made.output) << c.name << ": the edit changed nothing";
    ASSERT_TRUE(restore(image, backup)) << c.name;
    EXPECT_EQ(ReadFileRange(image, end - data.size(), data.size()), data) << c.name << ": partition data restored";
    EXPECT_EQ(SfdiskDump(image).output, made.output) << c.name;
  }
}

// A file that is not a whole, undamaged backup is refused with its reason:
// a flipped byte, a cut end, another file, another version.
TEST(TableBackupFile, RefusesADamagedCutOrForeignFileWithItsReason) {
  TableBackup backup;
  backup.sectorSize = 512;
  backup.sectorCount = 204800;
  backup.sectors.push_back({0, std::vector<std::uint8_t>(512, 0x11)});
  backup.sectors.push_back({1, std::vector<std::uint8_t>(512, 0x22)});
  const std::vector<std::uint8_t> bytes = EncodeBackup(backup);
  std::string error;
  std::optional<TableBackup> decoded = DecodeBackup(bytes, error);
  ASSERT_TRUE(decoded.has_value()) << error;
  EXPECT_EQ(decoded->sectorCount, backup.sectorCount);
  EXPECT_EQ(decoded->sectors.size(), 2u);
  EXPECT_EQ(decoded->sectors[1].bytes, backup.sectors[1].bytes);

  std::vector<std::uint8_t> flipped = bytes;
  flipped[100] ^= 1;
  std::vector<std::uint8_t> version = bytes;
  version[8] = 2;
  struct Refusal {
    std::vector<std::uint8_t> file;
    std::string reason;
  };
  const std::vector<Refusal> refusals{
      {flipped, "checksum does not match"},
      {std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 9), "cut short"},
      {std::vector<std::uint8_t>(bytes.begin() + 8, bytes.end()), "not a table backup"},
      {version, "unknown version 2"},
  };
  for (const Refusal& r : refusals) {
    error.clear();
    EXPECT_FALSE(DecodeBackup(r.file, error).has_value()) << r.reason;
    EXPECT_NE(error.find(r.reason), std::string::npos) << r.reason << ": " << error;
  }
}

}  // namespace
}  // namespace kestrin::test
