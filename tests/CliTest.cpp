// kestrin-cli run as a process on image disks that sfdisk made, as a script
// would run it: what it prints, its exit status, and what sfdisk and sgdisk
// read from the images afterwards.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "AnswerCases.h"
#include "DamagedImages.h"
#include "MbrBytes.h"
#include "PartitionedLoopDevice.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "TestSupport.h"

extern char** environ;

namespace kestrin::test {
namespace {

const std::string kCli = std::string(KESTRIN_BINARY_DIR) + "/cli/kestrin-cli";
constexpr std::uint64_t kImageSize = 100ull << 20;
constexpr std::uint64_t kSector = 512;
constexpr std::size_t kEdge = 1 << 20;  // where the tables live: the first and the last MiB

const std::string kLinuxGuid = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";
const std::string kEspGuid = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const std::string kBasicDataGuid = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const std::string kLvmGuid = "E6D6D379-F507-44C2-A23C-238F2A3DF928";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Two images made by sfdisk: an MBR disk (a bootable Linux entry of 10 MiB
// at 1 MiB and an NTFS entry of 20 MiB after it) and a GPT disk (a Linux
// entry of 10 MiB at 1 MiB and an EFI system entry of 20 MiB after it).
class CliImages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HaveTool("sfdisk") && HaveTool("sgdisk"));
    m_mbr = m_dir.file("mbr.img");
    m_gpt = m_dir.file("gpt.img");
    ASSERT_EQ(MakeSfdiskImage(m_mbr, kImageSize, kAnswerMbrScript), "");
    ASSERT_EQ(MakeSfdiskImage(m_gpt, kImageSize, kAnswerGptScript), "");
  }

  static RunResult cli(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), kCli);
    return test::Run(args, input);
  }
  RunResult onMbr(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--disk", m_mbr});
    return cli(args);
  }
  RunResult onGpt(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--disk", m_gpt});
    return cli(args);
  }
  // The bytes where the partition tables of either style live.
  static std::vector<std::uint8_t> tables(const std::string& image) {
    std::vector<std::uint8_t> bytes = ReadFileRange(image, 0, kEdge);
    std::vector<std::uint8_t> tail = ReadFileRange(image, kImageSize - kEdge, kEdge);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  }

  // Tables of more entries than the layout record holds: 128 GPT partitions
  // of 64 KiB as sgdisk makes them, and 17 logical drives by sfdisk.
  std::string bigGpt() const {
    EXPECT_EQ(MakeSgdiskImage(m_dir.file("gpt128.img"), kImageSize, SgdiskPartitionsInARow(128, "+64K")), "");
    return m_dir.file("gpt128.img");
  }
  std::string bigMbr() const {
    std::string script = "label: dos\n,1MiB,83\n,,5\n";
    for (int i = 0; i < 17; ++i) script += ",1MiB,83\n";
    EXPECT_EQ(MakeSfdiskImage(m_dir.file("mbr17.img"), kImageSize, script), "");
    return m_dir.file("mbr17.img");
  }

  TempDir m_dir;
  std::string m_mbr;
  std::string m_gpt;
};

// ---- show and disks ----

using CliShow = CliImages;

TEST_F(CliShow, PrintsTheStatusLineAndTheMbrRowsAsTheWindowShowsThem) {
  RunResult run = onMbr({"show"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> out = lines(run.out);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], "Style: MBR, Count=4");
  EXPECT_EQ(out[1].rfind("1\t1048576\t10485760\t2048\t(0x83) ", 0), 0u) << out[1];
  EXPECT_EQ(out[1].substr(out[1].rfind('\t')), "\tTrue");
  EXPECT_EQ(out[2].rfind("2\t11534336\t20971520\t22528\t(0x07) ", 0), 0u) << out[2];
  EXPECT_EQ(out[2].substr(out[2].rfind('\t')), "\tFalse");
  EXPECT_EQ(out[3].rfind("0\t0\t0\t0\t(0x00) ", 0), 0u) << out[3];
}

TEST_F(CliShow, PrintsGptRowsWithEmptyCellsAndFillerRows) {
  RunResult run = onGpt({"show", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> out = lines(run.out);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], "Style: GPT, Count=2");
  // Number, offset, length, empty HiddenSectors, type, empty Boot, attributes.
  EXPECT_EQ(out[1], "1\t1048576\t10485760\t\t{" + kLinuxGuid + "}\t\t0x0000000000000000");
  EXPECT_EQ(out[2].rfind("2\t11534336\t20971520\t\t ", 0), 0u) << out[2];
  EXPECT_EQ(out[3], "0");
  EXPECT_EQ(out[4], "0");
}

// The raw values of each row as sfdisk reads them: the MBR type byte and
// boot flag, the GPT type and entry GUIDs (and name and attributes, as
// sgdisk sets them); --json goes before or after the command.
TEST_F(CliShow, JsonCarriesTheRawValuesSfdiskAndSgdiskRead) {
  ASSERT_EQ(PartitionWithSgdisk(m_gpt, {"-c", "2:boot side", "-A", "2:set:63"}), "");
  for (const bool gpt : {false, true}) {
    RunResult run = gpt ? onGpt({"show", "--json"}) : onMbr({"--json", "show"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json json = nlohmann::json::parse(run.out);
    PeerTable peer = SfdiskDump(gpt ? m_gpt : m_mbr);
    ASSERT_TRUE(peer.ok) << peer.error;
    EXPECT_EQ(json["style"], gpt ? "GPT" : "MBR");
    ASSERT_EQ(json["rows"].size(), gpt ? peer.partitions.size() : 4u);
    for (std::size_t i = 0; i < peer.partitions.size(); ++i) {
      const nlohmann::json& row = json["rows"][i];
      const PeerPartition& entry = peer.partitions[i];
      EXPECT_EQ(row["offset"].get<std::uint64_t>(), entry.start * kSector);
      EXPECT_EQ(row["length"].get<std::uint64_t>(), entry.size * kSector);
      if (gpt) {
        EXPECT_EQ(row["type"], "{" + entry.type + "}");
        EXPECT_EQ(row["id"], "{" + entry.uuid + "}");
      } else {
        EXPECT_EQ(row["type"].get<int>(), entry.mbrType());
        EXPECT_EQ(row["boot"].get<bool>(), entry.bootable);
      }
    }
    if (gpt) {
      ASSERT_EQ(peer.label, "gpt");
      EXPECT_EQ(json["diskId"], "{" + peer.id + "}");
      EXPECT_EQ(json["rows"][1]["name"], "boot side");
      EXPECT_EQ(json["rows"][1]["attributes"].get<std::uint64_t>(), 1ull << 63);
    } else {
      EXPECT_EQ(json["count"], 4);
      EXPECT_EQ(json["signature"].get<std::uint32_t>(), peer.mbrId());
      EXPECT_EQ(json["rows"][2]["length"], 0);
    }
  }
}

TEST_F(CliShow, ReportsALayoutThatCannotBeReadWithExitStatusOne) {
  RunResult run = onMbr({"show", "1"});  // only disk 0 exists
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

// show and show --json give every partition of a table larger than the layout record as sfdisk reads it, verify
// warns of it, and an edit is refused with the reason and writes nothing.
TEST_F(CliShow, TablesOfMoreThan64EntriesAreShownWholeAndEditsRefusedWithTheReason) {
  struct Case { std::string image, status; std::vector<std::string> edit; std::string reason; };
  const std::vector<Case> cases{
      {bigGpt(), "Style: GPT, Count=128", {"delete-partition", "0", "100"}, "the GPT holds 128 partitions"},
      {bigMbr(), "Style: MBR, Count=72", {"set-boot", "0", "1", "1"}, "the MBR's chain of 17 EBRs takes 72 entries"},
  };
  for (const Case& c : cases) {
    RunResult text = cli({"--disk", c.image, "show"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    nlohmann::json json = nlohmann::json::parse(cli({"--disk", c.image, "--json", "show"}).out);
    EXPECT_EQ(lines(text.out).at(0), c.status);
    EXPECT_EQ(lines(text.out).size(), json["rows"].size() + 1);
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> shown;
    for (const auto& row : json["rows"]) {
      if (row["partition"].is_null()) continue;
      shown[row["partition"].get<int>()] = {row["offset"].get<std::uint64_t>() / kSector,
                                            row["length"].get<std::uint64_t>() / kSector};
    }
    EXPECT_EQ(shown, SfdiskDump(c.image).byNumber()) << c.status;
    RunResult verify = cli({"--disk", c.image, "verify"});
    EXPECT_EQ(verify.exitCode, 0);
    EXPECT_NE(verify.out.find("warning: too-many-entries: more than 64 entries: " + c.reason), std::string::npos);
    const auto before = tables(c.image);
    std::vector<std::string> args{"--disk", c.image, "--yes"};
    args.insert(args.end(), c.edit.begin(), c.edit.end());
    RunResult edit = cli(args);
    EXPECT_EQ(edit.exitCode, 1);
    EXPECT_NE(edit.err.find("buffer passed\nmore than 64 entries: " + c.reason), std::string::npos) << edit.err;
    EXPECT_TRUE(tables(c.image) == before) << c.status;
  }
}

using CliDisks = CliImages;

TEST_F(CliDisks, ListsEveryDiskOptionInOrderWithItsSize) {
  RunResult run = cli({"--disk", m_mbr, "--disk", m_gpt, "disks"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> out = lines(run.out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].rfind("0\tDISK\tmbr.img\t100\t", 0), 0u) << out[0];
  EXPECT_EQ(out[1].rfind("1\tDISK\tgpt.img\t100\t", 0), 0u) << out[1];

  RunResult json = cli({"--json", "--disk", m_mbr, "--disk", m_gpt, "disks"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  nlohmann::json disks = nlohmann::json::parse(json.out)["disks"];
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[1]["number"], 1);
  EXPECT_EQ(disks[1]["sizeMb"], 100);
  EXPECT_EQ(disks[1]["name"], "gpt.img");
}

// ---- the MBR commands ----

using CliMbrCommands = CliImages;

TEST_F(CliMbrCommands, CreatePartitionWritesTheGivenOffsetSizeTypeAndBootFlag) {
  RunResult run =
      onMbr({"--yes", "create-partition", "0", "3", "--offset", "32505856", "--size", "5", "--type", "0x8e", "--boot"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("\\\\.\\PhysicalDrive0 is " + m_mbr + "\nCreate entry #3 for \\\\.\\PhysicalDrive0?"),
            std::string::npos)
      << run.err;
  PeerTable peer = SfdiskDump(m_mbr);
  ASSERT_EQ(peer.partitions.size(), 3u);
  EXPECT_EQ(peer.partitions[2].start, 32505856 / kSector);
  EXPECT_EQ(peer.partitions[2].size, 5 * 2048u);
  EXPECT_EQ(peer.partitions[2].mbrType(), 0x8e);
  EXPECT_TRUE(peer.partitions[2].bootable);
  EXPECT_EQ(peer.partitions[0].start, 2048u);
  EXPECT_EQ(peer.partitions[1].mbrType(), 0x07);
  EXPECT_EQ(peer.mbrId(), 0x11223344u);
}

// Without --offset a new entry starts on the first MiB boundary behind the
// partitions before it (the window proposes 64 KiB behind an empty row) and
// takes the free space up to the next partition; a logical drive stays in
// its EBR's stretch of the extended partition.
TEST_F(CliMbrCommands, CreatePartitionWithoutOffsetStartsOnAMibBoundaryBehindThePartitionsBeforeIt) {
  const std::string empty = m_dir.file("empty.img");
  ASSERT_EQ(MakeSfdiskImage(empty, kImageSize, "label: dos\n"), "");
  const std::string logical = m_dir.file("logical.img");
  ASSERT_EQ(MakeSfdiskImage(logical, kImageSize, "label: dos\n,2MiB,83\n,,5\n,4MiB,83\n,4MiB,83\n"), "");
  ASSERT_EQ(cli({"--disk", logical, "--yes", "delete-partition", "0", "5"}).exitCode, 0);
  const std::uint64_t sectors = kImageSize / kSector;
  struct Case {
    std::string image;
    std::vector<std::string> args;
    int number;  // as sfdisk lists it
    std::uint64_t start;
    std::uint64_t size;
  };
  const std::vector<Case> cases{
      // Behind entry 2, the whole MiBs left; IFS preselected.
      {m_mbr, {"create-partition", "0", "3"}, 3, 63488, sectors - 63488},
      {empty, {"create-partition", "0", "2", "--size", "8"}, 2, 2048, 16384},
      {empty, {"create-partition", "0", "4"}, 4, 18432, sectors - 18432},
      // Behind the first EBR (at 6144), up to the second one (at 16384).
      {logical, {"create-partition", "0", "5", "--type", "0x83"}, 5, 8192, 8192},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--disk", c.image, "--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = cli(args);
    ASSERT_EQ(run.exitCode, 0) << c.args[2] << ": " << run.err;
    const PeerPartition made = SfdiskDump(c.image).partition(c.number);
    EXPECT_EQ(made.start, c.start) << c.args[2];
    EXPECT_EQ(made.size, c.size) << c.args[2];
    EXPECT_TRUE(SfdiskVerifies(c.image)) << c.args[2];
  }
  EXPECT_EQ(SfdiskDump(m_mbr).partition(3).mbrType(), 0x07);
  EXPECT_FALSE(SfdiskDump(m_mbr).partition(3).bootable);
  EXPECT_EQ(PartedPrint(logical).numbers(), (std::vector<int>{1, 2, 5, 6}));
  RunResult full = cli({"--disk", empty, "--yes", "create-partition", "0", "3"});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("no free space for entry 3"), std::string::npos) << full.err;
}

// A boot byte other than 0x00 and 0x80 hides the table from blkid; set-boot
// writes one of the two, whatever the byte was.
TEST_F(CliMbrCommands, SetBootWritesOneOfTheTwoBootBytesWhateverTheByteWas) {
  for (const auto& [value, byte] : {std::pair{"0", 0x00}, std::pair{"1", 0x80}}) {
    WriteFileRange(m_mbr, 446, {0x01});
    ASSERT_FALSE(test::Run({"blkid", "-p", m_mbr}).out.find("PTTYPE") != std::string::npos);
    ASSERT_EQ(onMbr({"--yes", "set-boot", "0", "1", value}).exitCode, 0) << value;
    EXPECT_EQ(ReadFileRange(m_mbr, 446, 1).at(0), byte) << value;
    EXPECT_NE(test::Run({"blkid", "-p", m_mbr}).out.find("PTTYPE=\"dos\""), std::string::npos) << value;
  }
}

TEST_F(CliMbrCommands, DeletePartitionClearsOnlyThatEntry) {
  RunResult run = onMbr({"--yes", "delete-partition", "0", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  PeerTable peer = SfdiskDump(m_mbr);
  ASSERT_EQ(peer.partitions.size(), 1u);
  EXPECT_EQ(peer.partitions[0].number, 2);
  EXPECT_EQ(peer.partitions[0].start, 22528u);
  // The redrawn table goes to standard output.
  EXPECT_EQ(lines(run.out).at(1).rfind("0\t", 0), 0u) << run.out;
}

// ---- the answers the window takes alike (AnswerCases.h) ----

using CliAnswers = CliImages;

// Each answer on entry 2 of the MBR image, then of the GPT image: written as
// the peers read it back after the question, or refused with its message
// and the tables left as they were. Entry 1 keeps what it held.
TEST_F(CliAnswers, AreWrittenOrRefusedAsTheWindowTakesThem) {
  auto value = [&](Written field) -> std::string {
    switch (field) {
      case Written::BootFlag: return std::to_string(SfdiskDump(m_mbr).partition(2).bootable);
      case Written::DiskId: return std::to_string(SfdiskDump(m_mbr).mbrId());
      case Written::Attributes: return std::to_string(SgdiskInfo(m_gpt, 2).value_or(PeerPartition{}).attributes);
      case Written::MbrType: return std::to_string(SfdiskDump(m_mbr).partition(2).mbrType());
      case Written::GptType: return SfdiskDump(m_gpt).partition(2).type;
      case Written::Nothing: break;
    }
    return {};
  };
  auto first = [&](const std::string& image) {
    const PeerPartition entry = SfdiskDump(image).partition(1);
    return std::make_tuple(entry.start, entry.size, entry.type, entry.bootable, entry.uuid);
  };
  const auto mbrFirst = first(m_mbr);
  const auto gptFirst = first(m_gpt);
  for (const AnswerCase& c : AnswerCases()) {
    const std::string& image = c.command.style == AnswerStyle::Gpt ? m_gpt : m_mbr;
    const std::string before = value(c.command.field);
    const auto bytes = tables(image);
    RunResult run = cli(CliArguments({"--disk", image, "--yes"}, c.command.cli, c.answer));
    const bool asked = run.err.find(c.command.question) != std::string::npos;
    SCOPED_TRACE("answer '" + c.answer + "': " + run.err);
    if (c.refusal.empty()) {
      const std::string expected = c.command.field == Written::GptType ? c.guid : std::to_string(c.number);
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_NE(before, expected) << "the answer would write what the disk holds";
      EXPECT_EQ(value(c.command.field), expected);
      EXPECT_TRUE(asked);
      continue;
    }
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("kestrin-cli: " + c.refusal), std::string::npos);
    EXPECT_EQ(asked, !c.beforeQuestion);
    EXPECT_EQ(tables(image), bytes);
  }
  EXPECT_EQ(first(m_mbr), mbrFirst);
  EXPECT_EQ(first(m_gpt), gptFirst);
  EXPECT_TRUE(SgdiskVerifies(m_gpt));
  // The MBR names in any case (the window offers them in capitals).
  ASSERT_EQ(onMbr({"--yes", "set-type", "0", "2", "fat32"}).exitCode, 0);
  EXPECT_EQ(SfdiskDump(m_mbr).partition(2).mbrType(), 0x0b);
}

// ---- the GPT commands ----

using CliGptCommands = CliImages;

TEST_F(CliGptCommands, CreatePartitionByNameAndByGuidPassesSgdiskVerify) {
  RunResult byName = onGpt({"--yes", "create-partition", "0", "3", "--size", "10", "--type", "BASIC_DATA_GUID"});
  ASSERT_EQ(byName.exitCode, 0) << byName.err;
  RunResult byGuid =
      onGpt({"--yes", "create-partition", "0", "4", "--size", "8", "--type", "{e6d6d379-f507-44c2-a23c-238f2a3df928}"});
  ASSERT_EQ(byGuid.exitCode, 0) << byGuid.err;
  std::string report;
  EXPECT_TRUE(SgdiskVerifies(m_gpt, &report)) << report;
  PeerTable peer = SfdiskDump(m_gpt);
  ASSERT_EQ(peer.partitions.size(), 4u);
  EXPECT_EQ(peer.partitions[2].start, 32505856 / kSector);  // the end of entry 2
  EXPECT_EQ(peer.partitions[2].size, 10 * 2048u);
  EXPECT_EQ(peer.partitions[2].type, kBasicDataGuid);
  EXPECT_EQ(peer.partitions[3].start, (32505856 + (10u << 20)) / kSector);
  EXPECT_EQ(peer.partitions[3].type, kLvmGuid);
}

TEST_F(CliGptCommands, CreatePartitionWithoutSizeOnAFreshGptEndsInsideTheUsableArea) {
  ASSERT_EQ(onMbr({"--yes", "create-disk", "0", "gpt"}).exitCode, 0);
  ASSERT_EQ(onMbr({"--yes", "create-partition", "0", "1", "--offset", "1048576", "--size", "10"}).exitCode, 0);
  // From the end of entry 1, whole MiBs to the disk's end would overrun the backup table.
  RunResult run = onMbr({"--yes", "create-partition", "0", "2", "--size", "10"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  run = onMbr({"--yes", "create-partition", "0", "3"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // An offset of its own gets the size proposed for that offset.
  ASSERT_EQ(onMbr({"--yes", "delete-partition", "0", "3"}).exitCode, 0);
  run = onMbr({"--yes", "create-partition", "0", "3", "--offset", std::to_string(40ull << 20)});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  PeerTable peer = SfdiskDump(m_mbr);
  ASSERT_EQ(peer.partitions.size(), 3u);
  EXPECT_EQ(peer.partitions[2].start, (40ull << 20) / kSector);
  EXPECT_LE(peer.partitions[2].start + peer.partitions[2].size - 1, peer.lastUsable);
  EXPECT_GT(peer.partitions[2].start + peer.partitions[2].size - 1, peer.lastUsable - 2048);
  EXPECT_TRUE(SgdiskVerifies(m_mbr));
}

// With --json the disk after the write comes back as JSON.
TEST_F(CliGptCommands, SetAttributesWithJsonPrintsTheDiskAfterTheWrite) {
  RunResult run = onGpt({"--yes", "--json", "set-attributes", "0", "2", "$8000000000000001"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  nlohmann::json after = nlohmann::json::parse(run.out);
  EXPECT_EQ(after["rows"][1]["attributes"].get<std::uint64_t>(), 0x8000000000000001ull);
  EXPECT_EQ(after["rows"][0]["attributes"].get<std::uint64_t>(), 0u);
  EXPECT_TRUE(SgdiskVerifies(m_gpt));
}

TEST_F(CliGptCommands, DeletePartitionLeavesTheOtherEntry) {
  ASSERT_EQ(onGpt({"--yes", "delete-partition", "0", "1"}).exitCode, 0);
  PeerTable peer = SfdiskDump(m_gpt);
  ASSERT_EQ(peer.partitions.size(), 1u);
  EXPECT_EQ(peer.partitions[0].type, kEspGuid);
  EXPECT_TRUE(SgdiskVerifies(m_gpt));
}

// ---- whole-disk commands ----

using CliWholeDisk = CliImages;

// Each command of the image table on a fresh image of its style: the
// status line of the table printed after the write, and what the peers read.
TEST_F(CliWholeDisk, CommandsWriteWhatThePeersReadAsTheWindowDoes) {
  for (const ImageCase& c : ImageCases()) {
    const bool gpt = c.command.style == AnswerStyle::Gpt;
    ASSERT_EQ(MakeSfdiskImage(gpt ? m_gpt : m_mbr, kImageSize, gpt ? kAnswerGptScript : kAnswerMbrScript), "");
    RunResult run = cli(CliArguments({"--disk", gpt ? m_gpt : m_mbr, "--yes"}, c.command.cli, c.answer));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(lines(run.out).at(0), c.status);
    SCOPED_TRACE(c.command.cli[0] + " " + c.answer);
    c.peersSee(gpt ? m_gpt : m_mbr);
  }
}

TEST_F(CliWholeDisk, CreateDiskGivesEachFreshMbrASignatureOfItsOwn) {
  // Each fresh MBR gets a signature of its own, none the other disks carry
  // (the MBR image's 0x11223344 among them).
  ASSERT_EQ(MakeSfdiskImage(m_mbr, kImageSize, "label: dos\nlabel-id: 0x11223344\n"), "");
  ASSERT_EQ(cli({"--disk", m_mbr, "--disk", m_gpt, "--yes", "create-disk", "1", "mbr"}).exitCode, 0);
  const std::uint32_t first = SfdiskDump(m_gpt).mbrId();
  ASSERT_EQ(cli({"--disk", m_gpt, "--yes", "create-disk", "0", "mbr"}).exitCode, 0);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, 0x11223344u);
  EXPECT_NE(SfdiskDump(m_gpt).mbrId(), first);
}

TEST_F(CliWholeDisk, DeleteLayoutLeavesARawDiskWithoutRows) {
  ASSERT_EQ(onGpt({"--yes", "delete-layout", "0"}).exitCode, 0);
  // A RAW disk has no entry to create or change until it gets a layout.
  RunResult create = onGpt({"--yes", "create-partition", "0", "1"});
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_NE(create.err.find("create-disk"), std::string::npos) << create.err;
  RunResult remove = onGpt({"--yes", "delete-partition", "0", "1"});
  EXPECT_EQ(remove.exitCode, 1);
  EXPECT_NE(remove.err.find("which has no rows"), std::string::npos) << remove.err;
}

// ---- refusals: exit status 1 and the image untouched ----

using CliRefusals = CliImages;

TEST_F(CliRefusals, CommandsOfTheOtherStyleShowTheWindowsMessage) {
  const std::string raw = m_dir.file("raw.img");
  MakeSparseFile(raw, kImageSize);
  const std::map<AnswerStyle, std::string> disks{{AnswerStyle::Mbr, m_mbr}, {AnswerStyle::Gpt, m_gpt}, {AnswerStyle::Raw, raw}};
  std::map<std::string, std::vector<std::uint8_t>> before;
  for (const auto& [style, image] : disks) before[image] = tables(image);
  for (const StyleRefusal& c : kStyleRefusals) {
    for (AnswerStyle style : RefusedOn(c)) {
      if (c.cli.empty() || (style == AnswerStyle::Raw && !c.cliOnRaw)) continue;
      RunResult run = cli(CliArguments({"--disk", disks.at(style), "--yes"}, c.cli));
      EXPECT_EQ(run.exitCode, 1) << c.cli[0];
      EXPECT_NE(run.err.find("kestrin-cli: " + std::string(c.message)), std::string::npos) << run.err;
    }
  }
  for (const auto& [image, bytes] : before) EXPECT_EQ(tables(image), bytes) << image;
}

TEST_F(CliRefusals, AFailedOperationReportsItsMessageAndWritesNothing) {
  const std::string huge = m_dir.file("3t.img");
  ASSERT_EQ(MakeSfdiskImage(huge, 3ull << 40, "label: dos\n,1GiB,83\n"), "");
  const std::string logical = m_dir.file("logical.img");
  ASSERT_EQ(MakeSfdiskImage(logical, kImageSize,
                            "label: dos\nstart=2048,size=20480,type=83\nstart=22528,size=81920,type=5\n"
                            "start=24576,size=20480,type=83\nstart=47104,size=20480,type=83\n"),
            "");
  struct Case {
    std::string image;
    std::vector<std::string> args;
    std::string problem;  // of the table it would have written, judged by the checks of verify
  };
  const std::vector<Case> cases{
      // A size that runs over the backup table.
      {m_gpt,
       {"create-partition", "0", "3", "--size", "100"},
       "past-end: entry 3 (sectors 63488 to 268287) runs past the end"},
      {m_mbr, {"set-type", "0", "1", "0xee"}, "protective-type: entry 1 has type 0xEE"},
      {m_mbr, {"set-type", "0", "1", "0x0f"}, "extended-in-place: entry 1 would make the partition there an"},
      {logical, {"delete-partition", "0", "6"}, "ebr-chain-cut: entry 9 lies behind an EBR no link leads to"},
      {logical,
       {"create-partition", "0", "10", "--size", "4", "--type", "0x05"},
       "ebr-missing: entry 10 links to an EBR at sector 67584 that the table does not hold"},
      {logical,
       {"create-partition", "0", "5", "--force", "--offset", "12M", "--size", "20", "--type", "0x83"},
       "ebr-inside-partition: entry 5 (24576 to 65535) covers the EBR at sector 45056"},
      {huge,
       {"create-partition", "0", "2", "--offset", "2G", "--size", "2T"},
       "mbr-limit: entry 2 (4294967296 sectors"},
  };
  for (const Case& c : cases) {
    const auto before = ReadFileRange(c.image, 0, kEdge);
    std::vector<std::string> args{"--disk", c.image, "--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = cli(args);
    EXPECT_EQ(run.exitCode, 1) << c.problem;
    EXPECT_NE(run.err.find("IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
    EXPECT_TRUE(ReadFileRange(c.image, 0, kEdge) == before) << c.problem;
  }
}

// ---- usage ----

using CliUsage = CliImages;

TEST_F(CliUsage, MalformedCommandLinesExitWithTwoAndTheUsage) {
  const std::vector<std::vector<std::string>> bad{
      {},
      {"frobnicate"},
      {"--verbose", "show"},
      {"show", "0", "1"},
      {"show", "x"},
      {"delete-partition", "0"},
      {"set-type", "0", "1"},
      {"create-disk", "0", "zfs"},
      {"create-partition", "0", "1", "--size"},
      {"create-partition", "0", "1", "--label", "x"},
      {"delete-layout", "-1"},
      {"--disk"},
      {"--json=1", "show"},
      {"show", "--dry-run"},
  };
  const auto before = tables(m_mbr);
  for (const auto& args : bad) {
    std::vector<std::string> withDisk{"--yes", "--disk", m_mbr};
    withDisk.insert(withDisk.end(), args.begin(), args.end());
    RunResult run = cli(withDisk);
    std::string shown = args.empty() ? "(none)" : args[0];
    EXPECT_EQ(run.exitCode, 2) << shown;
    // One line on what is wrong, one on where the help is.
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << shown << ": " << run.err;
    EXPECT_NE(run.err.find("\nTry 'kestrin-cli "), std::string::npos) << shown << ": " << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
  EXPECT_EQ(tables(m_mbr), before);
}

TEST_F(CliUsage, HelpForTheProgramAndEveryCommandGoesToStandardOutput) {
  RunResult program = cli({"--help"});
  ASSERT_EQ(program.exitCode, 0);
  const std::vector<std::string> commands{
      "disks",      "show",          "verify",   "backup",   "restore",    "create-partition",
      "delete-partition", "set-type", "set-boot", "set-disk-id", "make-first", "set-attributes",
      "create-disk", "delete-layout", "create-logical", "dump", "apply", "types", "set-name", "resize",
      "set-attribute"};
  // The man page and the bash completion that are installed beside the program.
  const std::filesystem::path resources = std::filesystem::path(__FILE__).parent_path().parent_path() / "resources";
  auto text = [](const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string manPage = text(resources / "kestrin-cli.1");
  const std::string completion = text(resources / "kestrin-cli.bash");
  for (const std::string& command : commands) {
    EXPECT_NE(program.out.find("  " + command + " "), std::string::npos) << command;
    std::string roff = command;
    for (std::size_t at = 0; (at = roff.find('-', at)) != std::string::npos; at += 2) roff.replace(at, 1, "\\-");
    const bool documented = manPage.find("\n.B " + roff + "\n") != std::string::npos ||
                            manPage.find("\n.BI " + roff + " ") != std::string::npos ||
                            manPage.find("\n.BR " + roff + " ") != std::string::npos;
    EXPECT_TRUE(documented) << command;
    EXPECT_NE(completion.find(command), std::string::npos) << command;
    RunResult help = cli({command, "--help"});
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_EQ(help.out.rfind("usage: kestrin-cli [OPTIONS] " + command, 0), 0u) << help.out;
    EXPECT_EQ(cli({"help", command}).out, help.out);
  }
}

// ---- the confirmation on a terminal ----

// Runs the program with a pseudo-terminal as standard input, typing
// `answer` into it; standard output and error go to the test.
RunResult RunOnTerminal(const std::vector<std::string>& argv, const std::string& answer,
                        const std::function<void()>& whileAsked = {}) {
  RunResult result;
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return result;
  int outPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, slave, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, master);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(slave);
  ::close(outPipe[1]);
  if (rc == 0) {
    char buffer[4096];
    // With `whileAsked`, the answer waits until the question is out.
    for (ssize_t n; whileAsked && result.out.find("[y/N]") == std::string::npos &&
                    (n = ::read(outPipe[0], buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, n);
    }
    if (whileAsked) whileAsked();
    // The terminal holds the typed line until the program reads it.
    (void)!::write(master, answer.data(), answer.size());
    for (ssize_t n; (n = ::read(outPipe[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ::close(outPipe[0]);
  ::close(master);
  return result;
}

using CliConfirmation = CliImages;

// Each question answered No on a terminal (or with Enter alone), or asked
// without a terminal and without --yes (a "y" on a pipe is no terminal's
// answer): the question is shown, the command fails and nothing is written.
TEST_F(CliConfirmation, ATerminalAnswerOfNoOrNoTerminalWritesNothing) {
  for (const CancelledQuestion& c : kCancelledQuestions) {
    const std::string& image = c.command.style == AnswerStyle::Gpt ? m_gpt : m_mbr;
    const std::string& question = c.command.question;
    const std::vector<std::string> args = CliArguments({kCli, "--disk", image}, c.command.cli, c.answer);
    const auto before = tables(image);
    for (const char* answer : {"n\n", "\n"}) {
      RunResult no = RunOnTerminal(args, answer);
      EXPECT_EQ(no.exitCode, 1) << no.out;
      EXPECT_NE(no.out.find(question + " [y/N]"), std::string::npos) << no.out;
    }
    RunResult piped = test::Run(args, "y\n");
    EXPECT_EQ(piped.exitCode, 1) << question;
    EXPECT_NE(piped.err.find(question), std::string::npos) << piped.err;
    EXPECT_NE(piped.err.find("refusing to write"), std::string::npos) << piped.err;
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(tables(image), before) << question;
  }
}

// From the read of the table to the write the command holds the disk:
// another program cannot change it while the question is open.
TEST_F(CliConfirmation, ATerminalAnswerOfYesWritesAndTheDiskIsHeldWhileAsked) {
  bool held = false;
  RunResult yes = RunOnTerminal({kCli, "--disk", m_mbr, "delete-partition", "0", "2"}, "y\n", [&] {
    const int fd = ::open(m_mbr.c_str(), O_RDONLY | O_CLOEXEC);
    held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
  });
  EXPECT_EQ(yes.exitCode, 0) << yes.out;
  EXPECT_TRUE(held);
  EXPECT_EQ(SfdiskDump(m_mbr).partitions.size(), 1u);
}

// ---- verify, in text and as JSON ----

constexpr std::uint64_t kSmallImage = kVerifyImageSize;
// Primaries 1, 3 and 4, the extended partition 2 with logical drives 5 and 6.
const std::string kMbrScript = "label: dos\n,2MiB,83\n,8MiB,5\n,2MiB,7\n,2MiB,83\n,2MiB,82\n,2MiB,83\n";

// Clean tables, problems and a warning from the catalogue of damaged
// images, as verify prints them and tells them by its exit status; what
// each rule finds, against the peers' own checks, is TableToolsTest's.
TEST(CliVerify, PrintsEveryFindingInTextAndJsonAndExitsOneOnAProblem) {
  ASSERT_TRUE(HaveTool("sfdisk") && HaveTool("sgdisk"));
  const std::set<std::string> shown{"clean GPT", "primary header", "misaligned start", "clean MBR", "EBR loop"};
  std::size_t seen = 0;
  for (const DamagedImage& c : VerifyCases()) {
    if (shown.count(c.name) == 0) continue;
    ++seen;
    TempDir dir;
    const std::string image = dir.file("disk.img");
    c.make(image);
    ASSERT_FALSE(HasFatalFailure()) << c.name;
    const bool problem = !c.rule.empty() && !c.warning;

    RunResult run = test::Run({kCli, "--disk", image, "verify"});
    RunResult json = test::Run({kCli, "--disk", image, "--json", "verify"});
    nlohmann::json report = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << c.name << ": " << json.out << json.err;
    EXPECT_EQ(run.exitCode, problem ? 1 : 0) << c.name << ": " << run.out << run.err;
    EXPECT_EQ(json.exitCode, problem ? 1 : 0) << c.name;
    EXPECT_EQ(report["clean"], !problem) << c.name;
    if (!problem) {
      EXPECT_NE(run.out.find("no problems"), std::string::npos) << c.name << ": " << run.out;
    }
    if (c.rule.empty()) continue;
    EXPECT_NE(run.out.find(std::string(c.warning ? "warning: " : "problem: ") + c.rule + ": "), std::string::npos)
        << c.name << ": " << run.out;
    bool named = false;
    for (const auto& finding : report["findings"]) named = named || finding["rule"] == c.rule;
    EXPECT_TRUE(named) << c.name << ": " << json.out;
  }
  EXPECT_EQ(seen, shown.size()) << "a case verify is shown with is no longer in the catalogue";
}

// ---- backups that undo ----

using CliBackup = CliImages;

// One disk edited step by step through the process, each step saving the
// sectors it changes; the codec's choice of sectors and its restores over
// other tables are TableToolsTest's.
TEST_F(CliBackup, EditsUndoneByRestoringTheFirstBackupLeaveTheTableSectorsAsTheyWere) {
  ASSERT_TRUE(HaveTool("blkid"));
  const std::vector<std::vector<std::string>> edits{{"create-partition", "0", "3", "--size", "8M"},
                                                    {"set-type", "0", "1", "fat32"},
                                                    {"set-disk-id", "0", "$0A0B0C0D"},
                                                    {"delete-partition", "0", "2"},
                                                    {"create-disk", "0", "gpt"},
                                                    {"create-partition", "0", "1", "--size", "4M"}};
  auto peersSee = [](const std::string& image) {
    return test::Run({"sfdisk", "--dump", image}).out + test::Run({"blkid", "-p", "-o", "export", image}).out;
  };
  const std::string first = m_dir.file("first.kbk");
  ASSERT_EQ(cli({"--disk", m_mbr, "backup", "0", first}).exitCode, 0);
  const auto tablesBefore = tables(m_mbr);
  const std::string peersBefore = peersSee(m_mbr);
  std::vector<std::uint8_t> beforeLast;
  std::string lastStep;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    lastStep = m_dir.file("step" + std::to_string(i) + ".kbk");
    beforeLast = tables(m_mbr);
    std::vector<std::string> args{"--disk", m_mbr, "--yes", "--backup", lastStep};
    args.insert(args.end(), edits[i].begin(), edits[i].end());
    RunResult run = cli(args);
    ASSERT_EQ(run.exitCode, 0) << edits[i][0] << ": " << run.err;
    EXPECT_NE(run.err.find("sectors to " + lastStep), std::string::npos) << run.err;
  }
  // The last step's own backup undoes that step alone.
  RunResult undoLast = cli({"--disk", m_mbr, "--yes", "restore", "0", lastStep});
  ASSERT_EQ(undoLast.exitCode, 0) << undoLast.err;
  EXPECT_EQ(tables(m_mbr), beforeLast);
  // The first backup undoes them all, byte for byte, and shows what it puts back.
  RunResult undoAll = cli({"--disk", m_mbr, "--yes", "restore", "0", first});
  ASSERT_EQ(undoAll.exitCode, 0) << undoAll.err;
  EXPECT_NE(undoAll.err.find("The table from " + first + ":\n"), std::string::npos) << undoAll.err;
  EXPECT_TRUE(tables(m_mbr) == tablesBefore);
  EXPECT_EQ(peersSee(m_mbr), peersBefore);
  EXPECT_EQ(cli({"--disk", m_mbr, "verify"}).exitCode, 0);

  // Refused: a damaged or cut file, one made for another disk, and no confirmation.
  const std::string good = m_dir.file("good.kbk");
  ASSERT_EQ(cli({"--disk", m_gpt, "backup", "0", good}).exitCode, 0);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(good);
  auto writeFile = [](const std::string& path, const std::vector<std::uint8_t>& content) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
  };
  const std::string damaged = m_dir.file("damaged.kbk");
  std::vector<std::uint8_t> flipped = bytes;
  flipped[100] ^= 1;
  writeFile(damaged, flipped);
  const std::string cut = m_dir.file("cut.kbk");
  writeFile(cut, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 9));
  const std::string small = m_dir.file("small.img");
  MakeSparseFile(small, kSmallImage);
  // A 4096-byte GPT image turned MBR reads as 512-byte sectors again.
  const std::string image4k = m_dir.file("4k.img");
  const std::string backup4k = m_dir.file("4k.kbk");
  MakeSparseFile(image4k, kImageSize);
  ASSERT_EQ(cli({"--sector-size", "4096", "--disk", image4k, "--yes", "create-disk", "0", "gpt"}).exitCode, 0);
  ASSERT_EQ(cli({"--disk", image4k, "--yes", "--backup", backup4k, "create-disk", "0", "mbr"}).exitCode, 0);
  const auto before = tables(m_mbr);
  struct Refusal {
    std::vector<std::string> args;
    std::string message;
    int exitCode = 1;
  };
  const std::vector<Refusal> refusals{
      {{"--disk", m_mbr, "--yes", "restore", "0", damaged}, "checksum does not match"},
      {{"--disk", m_mbr, "--yes", "restore", "0", cut}, "cut short"},
      {{"--disk", m_mbr, "--yes", "restore", "0", m_mbr}, "not a table backup"},
      {{"--disk", small, "--yes", "restore", "0", good}, "was made for a disk of 204800 sectors of 512 bytes"},
      {{"--disk", m_mbr, "restore", "0", good}, "refusing to write"},
      // A backup written over the disk it saves, or over a device.
      {{"--disk", m_mbr, "--yes", "--backup", m_mbr, "set-boot", "0", "2", "1"}, "is the disk", 2},
      {{"--disk", m_gpt, "--disk", m_mbr, "backup", "0", m_mbr}, "is the disk", 2},
      {{"--disk", m_mbr, "backup", "0", "/dev/null"}, "is not a regular file", 2},
      {{"--disk", m_mbr, "--yes", "--backup", "/nonexistent/b.kbk", "delete-layout", "0"}, "is no folder", 2},
      {{"--disk", m_mbr, "--yes", "--backup", "", "delete-layout", "0"}, "needs a name", 2},
      {{"--disk", m_mbr, "--yes", "restore", "0", m_dir.file("")}, "cannot read"},
      {{"--disk", image4k, "--yes", "restore", "0", backup4k}, "give --sector-size 4096 before its --disk"},
  };
  for (const Refusal& r : refusals) {
    RunResult run = cli(r.args);
    EXPECT_EQ(run.exitCode, r.exitCode) << r.message;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(tables(m_mbr), before);
  EXPECT_EQ(cli({"--sector-size", "4096", "--disk", image4k, "--yes", "restore", "0", backup4k}).exitCode, 0);
  EXPECT_NE(cli({"--disk", image4k, "show"}).out.find("Style: GPT"), std::string::npos);
}

// A restore writes table sectors and nothing else: data written into a
// partition's last sectors after the backup stays, on a GPT of 8 entries
// whose partition reaches the backup array. A write that is refused leaves an earlier undo file as it
// was, and no file of its own behind.
TEST_F(CliBackup, RestoresOnlyTableSectorsAndARefusedWriteKeepsTheUndoFile) {
  // An MBR disk whose last partition reaches the end is TableToolsTest's, through the codec.
  const std::vector<std::uint8_t> data(64 * kSector, 0xD5);
  TempDir dir;
  const std::string image = dir.file("disk.img");
  const std::string backup = dir.file("before.kbk");
  const std::string undo = dir.file("undo.kbk");
  ASSERT_EQ(MakeSgdiskImage(image, kImageSize, {"-S", "8", "-a", "1", "-n", "1:0:0"}), "");
  const PeerTable made = SfdiskDump(image);
  ASSERT_TRUE(made.ok && !made.partitions.empty()) << made.text();
  const std::uint64_t end = (made.partitions.back().start + made.partitions.back().size) * kSector;
  ASSERT_EQ(cli({"--disk", image, "backup", "0", backup}).exitCode, 0);
  WriteFileRange(image, end - data.size(), data);

  ASSERT_EQ(cli({"--disk", image, "--yes", "--backup", undo, "set-attributes", "0", "1", "1"}).exitCode, 0);
  const std::vector<std::uint8_t> undoBytes = ReadFileBytes(undo);
  RunResult refused = cli({"--disk", image, "--yes", "--backup", undo, "create-partition", "0", "3", "--size", "1T"});
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  EXPECT_EQ(ReadFileBytes(undo), undoBytes) << "the refused write replaced the undo file";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);

  RunResult restored = cli({"--disk", image, "--yes", "restore", "0", backup});
  ASSERT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(ReadFileRange(image, end - data.size(), data.size()), data) << "partition data restored";
  EXPECT_EQ(SfdiskDump(image).output, made.output);
}

// A restore that would move a mounted partition is refused, and leaves no
// sector of the table changed: not even those written before the refusal.
TEST_F(CliBackup, ARestoreThatWouldMoveAMountedPartitionLeavesTheDiskAsItWas) {
  const std::string moved = m_dir.file("moved.img");
  std::filesystem::copy_file(m_gpt, moved);
  ASSERT_EQ(cli({"--disk", moved, "--yes", "delete-partition", "0", "2"}).exitCode, 0);
  ASSERT_EQ(cli({"--disk", moved, "--yes", "create-partition", "0", "2", "--offset", "40M", "--size", "20M"}).exitCode,
            0);
  const std::string backup = m_dir.file("moved.kbk");
  ASSERT_EQ(cli({"--disk", moved, "backup", "0", backup}).exitCode, 0);

  PartitionedLoopDevice loop(m_gpt);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  test::Run({"partx", "-u", loop.path()});  // a kernel without the GPT parser has no partitions yet
  HeldPartition mounted(loop, 2, m_dir.path(), PartitionUse::Mounted);
  if (!mounted.open()) GTEST_SKIP() << "cannot mount a partition here";
  const std::vector<std::uint8_t> before = tables(loop.path());
  // The image behind the loop device is that disk too, and the disk of each of its partitions.
  for (const std::string& disk : {loop.path(), loop.path() + "p1"}) {
    RunResult over = cli({"--disk", disk, "backup", "0", m_gpt});
    EXPECT_EQ(over.exitCode, 2) << disk;
    EXPECT_NE(over.err.find("is the disk " + disk + " itself"), std::string::npos) << over.err;
  }
  RunResult run = cli({"--disk", loop.path(), "--yes", "restore", "0", backup});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("in use"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the disk is as it was"), std::string::npos) << run.err;
  EXPECT_TRUE(tables(loop.path()) == before) << "a refused restore changed the disk";
  RunResult verify = cli({"--disk", loop.path(), "verify"});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;

  // A restore that leaves the mounted partition where it is goes through.
  const std::string undo = m_dir.file("undo.kbk");
  ASSERT_EQ(
      cli({"--disk", loop.path(), "--yes", "--backup", undo, "set-attributes", "0", "1", "$8000000000000000"}).exitCode,
      0);
  RunResult restored = cli({"--disk", loop.path(), "--yes", "restore", "0", undo});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_TRUE(tables(loop.path()) == before);
}

// A restore of a 128-partition GPT on a loop device whose partition 1 is in use, so that the kernel cannot read
// the table itself, gives the kernel every partition.
TEST_F(CliBackup, TheKernelLearnsEveryPartitionOfARestoredTableLargerThanTheLayoutRecord) {
  const std::string image = bigGpt();
  const std::string backup = m_dir.file("gpt128.kbk");
  ASSERT_EQ(cli({"--disk", image, "backup", "0", backup}).exitCode, 0);
  ASSERT_EQ(PartitionWithSgdisk(image, {"-o", "-a", "8", "-n", "1:0:+64K"}), "");
  PartitionedLoopDevice loop(image);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  test::Run({"partx", "-u", loop.path()});  // a kernel without the GPT parser has no partitions yet
  HeldPartition held(loop, 1, m_dir.path());
  ASSERT_TRUE(held.open());
  RunResult run = cli({"--disk", loop.path(), "--yes", "restore", "0", backup});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Style: GPT, Count=128");
  EXPECT_EQ(KernelPartitionList(loop.sysfsDirectory()), PartxShow(loop.path()).byNumber());
}

// ---- guarded writes ----

using CliGuards = CliImages;

TEST_F(CliGuards, RefusesWritesThatWouldNotDoWhatWasMeant) {
  struct Case {
    bool gpt;
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases{
      {true, {"create-partition", "0", "1", "--size", "4"}, 1, "entry 1 is in use (offset 1048576, 10 MiB"},
      {false, {"create-partition", "0", "2"}, 1, "entry 2 is in use"},
      {true, {"set-type", "0", "1", "ENTRY_UNUSED_GUID"}, 1, "use delete-partition"},
      {true, {"set-type", "0", "2", "{00000000-0000-0000-0000-000000000000}"}, 1, "use delete-partition"},
      {false, {"set-type", "0", "1", "0"}, 1, "use delete-partition"},
      {false, {"create-partition", "0", "3", "--type", "entry_unused"}, 1, "use delete-partition"},
      {false, {"set-boot", "0", "3", "1"}, 1, "entry 3 is empty"},
      {false, {"set-type", "0", "4", "fat32"}, 1, "entry 4 is empty"},
      {false, {"make-first", "0", "3"}, 1, "not a valid part number"},
      {false, {"delete-partition", "0", "4"}, 1, "not a valid part number"},
      {true, {"set-attributes", "0", "3", "1"}, 1, "partition 3 of disk 0 does not exist"},
      {true, {"--sector-size", "4096", "show"}, 2, "--sector-size applies to the --disk options after it"},
      // Entries outside the table, a disk number past the disks given, and
      // types of the other style or unknown names.
      {false, {"delete-partition", "0", "0"}, 1, "outside disk 0's table (entries 1 to 4)"},
      {false, {"delete-partition", "0", "5"}, 1, "outside disk 0's table (entries 1 to 4)"},
      {false, {"delete-partition", "0", "64"}, 1, "outside disk 0's table (entries 1 to 4)"},
      {false, {"delete-partition", "1", "1"}, 1, "there is no disk 1: 1 --disk was given (disk 0)"},
      {true, {"set-type", "0", "1", "131"}, 1, "'131' is no GPT type"},
      {true, {"set-type", "0", "1", "FAT32"}, 1, "'FAT32' is no GPT type"},
      {true, {"set-type", "0", "1", "ext4"}, 1, "'ext4' is no GPT type"},
      {true, {"set-type", "0", "1", "{0FC63DAF-8483-4772-8E79}"}, 1, "'{0FC63DAF-8483-4772-8E79}' is no GPT type"},
      {false, {"set-type", "0", "1", "256"}, 1, "'256' is no MBR type"},
  };
  const auto mbrBefore = tables(m_mbr);
  const auto gptBefore = tables(m_gpt);
  for (const Case& c : cases) {
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = c.gpt ? onGpt(args) : onMbr(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(tables(m_mbr), mbrBefore);
  EXPECT_EQ(tables(m_gpt), gptBefore);
  // --force writes over the entry; it keeps its unique GUID, as the warning says.
  const std::string id = SfdiskDump(m_gpt).partitions.at(0).uuid;
  RunResult forced = onGpt({"--yes", "create-partition", "0", "1", "--offset", "1M", "--size", "4M", "--force"});
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(SfdiskDump(m_gpt).partitions.at(0).size, 4 * 2048u);
  EXPECT_EQ(SfdiskDump(m_gpt).partitions.at(0).uuid, id);
}

// On a GPT with gaps the rows and the partition numbers differ: ENTRY is
// the number, as sgdisk and the kernel give it, for every command.
TEST_F(CliGuards, GptEntriesAreThePartitionNumbersAlsoInATableWithGaps) {
  const std::string image = m_dir.file("gaps.img");
  ASSERT_EQ(MakeSgdiskImage(image, kImageSize, {"-n1:2048:+10M", "-n4:0:+5M", "-n5:0:+5M"}), "");
  auto numbers = [&] {
    std::vector<std::pair<int, std::uint64_t>> out;  // number, first sector
    for (const PeerPartition& p : SfdiskDump(image).partitions) out.emplace_back(p.number, p.start);
    return out;
  };
  struct Step {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
    std::vector<std::pair<int, std::uint64_t>> after;
  };
  const std::vector<std::pair<int, std::uint64_t>> before{{1, 2048}, {4, 22528}, {5, 32768}};
  const std::vector<Step> steps{
      {{"delete-partition", "0", "2"}, 1, "partition 2 of disk 0 does not exist", before},
      {{"create-partition", "0", "1", "--force", "--offset", "1M", "--size", "30"},
       1,
       "overlaps entry 2 (partition 4) (sectors 22528 to 32767)",
       before},
      // A partition written over, and any free number, keep the number given.
      {{"create-partition", "0", "4", "--force", "--offset", "12M", "--size", "4"},
       0,
       "partition 4 is entry #2 of the table",
       {{1, 2048}, {4, 24576}, {5, 32768}}},
      {{"create-partition", "0", "3", "--offset", "40M", "--size", "4"},
       0,
       "partition 3 is entry #4 of the table",
       {{1, 2048}, {3, 81920}, {4, 24576}, {5, 32768}}},
      {{"set-type", "0", "5", "SYSTEM_GUID"}, 0, "partition 5 is entry #4", {}},
      {{"delete-partition", "0", "4"}, 0, "partition 4 is entry #3", {{1, 2048}, {3, 81920}, {5, 32768}}},
      {{"create-partition", "0", "2", "--offset", "50M", "--size", "4"},
       0,
       "partition 2 is entry #4 of the table",
       {{1, 2048}, {2, 102400}, {3, 81920}, {5, 32768}}},
  };
  for (const Step& step : steps) {
    std::vector<std::string> args{"--disk", image, "--yes"};
    args.insert(args.end(), step.args.begin(), step.args.end());
    RunResult run = cli(args);
    EXPECT_EQ(run.exitCode, step.exitCode) << step.args[0] << " " << step.args[2] << ": " << run.err;
    EXPECT_NE(run.err.find(step.message), std::string::npos) << run.err;
    if (!step.after.empty()) {
      EXPECT_EQ(numbers(), step.after) << step.args[0] << " " << step.args[2];
    }
  }
  EXPECT_NE(test::Run({"sgdisk", "-i", "5", image}).out.find("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"),
            std::string::npos);
  EXPECT_TRUE(SgdiskVerifies(image));

  // Without --offset a new entry goes behind every partition, not behind the
  // row above it, which may end inside a partition of a later row.
  const std::string unordered = m_dir.file("unordered.img");
  ASSERT_EQ(MakeSgdiskImage(unordered, kImageSize, {"-n1:2048:+10M", "-n3:22528:+10M", "-n2:43008:+5M"}), "");
  RunResult run = cli({"--disk", unordered, "--yes", "create-partition", "0", "4", "--size", "5"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(SfdiskDump(unordered).partition(4).start, 53248u);
}

// ---- what people type, and what they read back ----

using CliTyping = CliImages;

TEST_F(CliTyping, SizesOffsetsAndEntriesAsPeopleWriteThemLandWhereTheyMean) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    int number;           // the partition sfdisk then lists (exit 0)
    std::uint64_t start;  // its first sector
    std::uint64_t size;   // its sectors
    std::string message;  // on standard error otherwise
  };
  const std::vector<Case> cases{
      {{"create-partition", "0", "3", "--offset", "32M", "--size", "2048K"}, 0, 3, 65536, 4096, ""},
      {{"create-partition", "0", "4", "--offset", "35651584", "--size", "3MiB"}, 0, 4, 69632, 6144, ""},
      {{"create-partition", "0", "10", "--size", "1m"}, 0, 10, 75776, 2048, ""},
      {{"create-partition", "0", "60", "--offset", "40MiB", "--size", "1"}, 0, 60, 81920, 2048, ""},
      {{"create-partition", "0", "11", "--offset", "0x2A00000", "--size", "0x2"}, 0, 11, 86016, 4096, ""},
      {{"create-partition", "0", "61", "--size", "1536K"}, 2, 0, 0, 0, "is not a whole number of MiB"},
      {{"create-partition", "0", "61", "--offset", "1000"}, 2, 0, 0, 0, "is not a whole number of 512-byte sectors"},
      {{"create-partition", "0", "61", "--size", "3X"}, 2, 0, 0, 0, "has an unknown unit"},
      {{"create-partition", "0", "128", "--size", "1"}, 0, 128, 90112, 2048, ""},
      {{"create-partition", "0", "129", "--size", "1"}, 1, 0, 0, 0, "partitions 1 to 128"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = onGpt(args);
    ASSERT_EQ(run.exitCode, c.exitCode) << c.args[2] << ": " << run.err;
    if (c.exitCode != 0) {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      continue;
    }
    PeerTable peer = SfdiskDump(m_gpt);
    auto made = std::find_if(peer.partitions.begin(), peer.partitions.end(),
                             [&](const PeerPartition& e) { return e.number == c.number; });
    ASSERT_NE(made, peer.partitions.end()) << c.number;
    EXPECT_EQ(made->start, c.start) << c.number;
    EXPECT_EQ(made->size, c.size) << c.number;
  }
  EXPECT_TRUE(SgdiskVerifies(m_gpt));
  // The same limit on a GPT that has no entries yet, and so no rows.
  const std::string none = m_dir.file("none.img");
  ASSERT_EQ(MakeSfdiskImage(none, kImageSize, "label: gpt\n"), "");
  RunResult past = cli({"--disk", none, "--yes", "create-partition", "0", "129", "--size", "1"});
  EXPECT_EQ(past.exitCode, 1);
  EXPECT_NE(past.err.find("is outside the table (partitions 1 to 128)"), std::string::npos) << past.err;

  // show --json: the kernel's numbers beside the rows, as sfdisk names the
  // partitions; the text keeps the window's rows.
  const std::string logical = m_dir.file("logical.img");
  MakeSparseFile(logical, kSmallImage);
  ASSERT_EQ(test::Run({"sfdisk", "-q", logical}, kMbrScript).exitCode, 0);
  for (const std::string& image : {m_gpt, logical}) {
    nlohmann::json shown = nlohmann::json::parse(cli({"--disk", image, "--json", "show"}).out);
    std::map<unsigned, std::uint64_t> kernel;
    for (const auto& row : shown["rows"]) {
      if (!row["partition"].is_null() && row["length"].get<std::uint64_t>() > 1024) {
        kernel[row["partition"].get<unsigned>()] = row["offset"].get<std::uint64_t>() / kSector;
      }
    }
    std::map<unsigned, std::uint64_t> sfdisk;
    for (const PeerPartition& e : SfdiskDump(image).partitions) sfdisk[static_cast<unsigned>(e.number)] = e.start;
    EXPECT_EQ(kernel, sfdisk) << image;
  }

  // Every disk given is listed, past the chooser's sixteen.
  std::vector<std::string> many;
  for (int i = 0; i < 20; ++i) many.insert(many.end(), {"--disk", m_mbr});
  many.push_back("disks");
  EXPECT_EQ(lines(cli(many).out).size(), 20u);
}

TEST_F(CliTyping, ShowJsonNamesTheDeviceNodeOfEachPartitionOfABlockDevice) {
  PartitionedLoopDevice loop(m_gpt);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  nlohmann::json shown = nlohmann::json::parse(cli({"--disk", loop.path(), "--json", "show"}).out);
  EXPECT_EQ(shown["device"], loop.path());
  EXPECT_EQ(shown["rows"][0]["device"], loop.path() + "p1");
  EXPECT_EQ(shown["rows"][1]["device"], loop.path() + "p2");
  EXPECT_TRUE(shown["rows"][2]["device"].is_null());
}

// create-logical, drive after drive in an extended partition from sector
// 22528: at the first free MiB boundary with a free sector before it for the
// EBR (in a gap too) or the offset given, with the rest of the free space
// without --size; the row printed names the entry and sfdisk's number.
TEST_F(CliImages, CreateLogicalPutsEachDriveWhereItFitsAndPrintsTheRowItGot) {
  const std::string image = m_dir.file("logical.img");
  ASSERT_EQ(MakeSfdiskImage(image, 64ull << 20, "label: dos\n,10MiB,83\n,,5\n"), "");  // extended from 22528
  const struct {
    std::vector<std::string> options;
    int entry, partition;  // 0: refused, nothing written
    std::uint64_t start, sectors;
    std::string error;
  } steps[] = {
      {{"--size", "5", "--type", "0x83"}, 5, 5, 24576, 10240, ""},
      {{"--offset", "40M", "--size", "5M"}, 9, 6, 81920, 10240, ""},
      {{"--size", "4"}, 13, 7, 36864, 8192, ""},  // 34816, behind drive 5, has no free sector before it
      {{"--type", "0x82"}, 17, 8, 47104, 32768, ""},  // up to drive 6's EBR at 79872
      {{"--offset", "23M"}, 0, 0, 0, 0, "no free place"},  // inside drive 8
      {{"--offset", "45M", "--size", "1"}, 0, 0, 0, 0, "ebr-no-room: entry 21"},  // right behind drive 6
  };
  for (const auto& step : steps) {
    std::vector<std::string> args{"--disk", image, "--yes", "create-logical", "0"};
    args.insert(args.end(), step.options.begin(), step.options.end());
    const auto before = tables(image);
    const RunResult run = cli(args);
    EXPECT_EQ(run.exitCode, step.entry == 0 ? 1 : 0) << run.err;
    EXPECT_NE(run.err.find(step.error), std::string::npos) << run.err;
    if (step.entry == 0) {
      EXPECT_TRUE(tables(image) == before);
      continue;
    }
    const std::string row = "entry " + std::to_string(step.entry) + "\tpartition " + std::to_string(step.partition) +
                            "\t" + std::to_string(step.start * kSector) + "\t" + std::to_string(step.sectors * kSector);
    EXPECT_EQ(run.out.rfind(row + "\t", 0), 0u) << run.out;
    const PeerPartition drive = SfdiskDump(image).partition(step.partition);
    EXPECT_EQ(std::make_pair(drive.start, drive.size), std::make_pair(step.start, step.sectors));
  }
  EXPECT_EQ(cli({"--disk", image, "verify"}).exitCode, 0);
  EXPECT_NE(onMbr({"--yes", "create-logical", "0"}).err.find("no extended partition"), std::string::npos);
}

// ---- names, sizes, single attribute bits, the type names of other tools ----

using CliEveryday = CliImages;

// The partition's own values as a peer reads them (size aside): sgdisk -i
// on GPT, sfdisk -d on MBR.
PeerPartition peerEntry(const std::string& image, bool gpt, int number) {
  if (!gpt) return SfdiskDump(image).partition(number);
  return SgdiskInfo(image, number).value_or(PeerPartition{});
}

TEST_F(CliEveryday, SetNameWritesWhatSgdiskAndPartedReadAndOtherOperationsKeepIt) {
  const std::string snowman = "Donn\u00E9es \u2603";
  for (const std::string& name : {std::string("root"), snowman, std::string(36, 'n'), std::string()}) {
    RunResult run = onGpt({"--yes", "set-name", "0", "2", name});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(peerEntry(m_gpt, true, 2).name, name);
    // parted lays its table out by characters, which its reader slices by bytes.
    const bool ascii = std::all_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x80; });
    if (ascii) EXPECT_EQ(PartedPrint(m_gpt).partition(2).name, name);
    EXPECT_EQ(nlohmann::json::parse(onGpt({"--json", "show"}).out)["rows"][1]["name"], name);
  }
  const auto before = tables(m_gpt);
  RunResult longer = onGpt({"--yes", "set-name", "0", "2", std::string(37, 'n')});
  EXPECT_EQ(longer.exitCode, 2) << longer.err;
  EXPECT_EQ(tables(m_gpt), before);
  ASSERT_EQ(onGpt({"--yes", "set-name", "0", "1", "kept"}).exitCode, 0);
  for (const std::vector<std::string>& other : std::vector<std::vector<std::string>>{
           {"set-type", "0", "1", "lvm"}, {"resize", "0", "1", "4M"}, {"set-attribute", "0", "1", "hidden", "on"}}) {
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), other.begin(), other.end());
    ASSERT_EQ(onGpt(args).exitCode, 0) << other[0];
    EXPECT_EQ(peerEntry(m_gpt, true, 1).name, "kept") << other[0];
  }
}

TEST_F(CliEveryday, ResizeKeepsTheStartAndEverythingElseAndReachesNoOtherPartition) {
  const std::string logical = m_dir.file("logical.img");
  ASSERT_EQ(MakeSfdiskImage(logical, kImageSize, "label: dos\n,10MiB,83,*\n,20MiB,7\n,,5\n,10MiB,83\n,10MiB,82\n"), "");
  ASSERT_EQ(test::Run({"sgdisk", "-c", "2:data", "-A", "2:set:62", m_gpt}).exitCode, 0);
  const PeerTable mbr = SfdiskDump(logical);
  const PeerTable gpt = SgdiskPrint(m_gpt);
  ASSERT_TRUE(mbr.ok && gpt.ok);
  const auto end = [](const PeerPartition& p) { return p.start + p.size; };
  struct Case {
    std::string image;
    const char* entry;  // as kestrin-cli names it
    int number;         // as the peers and the kernel do
    const char* size;
    std::uint64_t sectors;  // 0: refused, nothing written
  };
  const std::vector<Case> cases{
      {logical, "1", 1, "5M", 5 * 2048},
      {logical, "1", 1, "max", mbr.partition(2).start - mbr.partition(1).start},
      {logical, "9", 6, "max", end(mbr.partition(3)) - mbr.partition(6).start},
      {logical, "5", 5, "2MiB", 2 * 2048},
      {logical, "5", 5, "30", 0},   // into the next EBR
      {logical, "2", 2, "80M", 0},  // over the extended partition
      {m_gpt, "2", 2, "max", gpt.lastUsable + 1 - gpt.partition(2).start},
      {m_gpt, "1", 1, "50M", 0},
  };
  for (const Case& c : cases) {
    const bool isGpt = c.image == m_gpt;
    const PeerPartition before = peerEntry(c.image, isGpt, c.number);
    const auto bytes = tables(c.image);
    RunResult run = cli({"--disk", c.image, "--yes", "resize", "0", c.entry, c.size});
    const PeerPartition after = peerEntry(c.image, isGpt, c.number);
    if (c.sectors == 0) {
      EXPECT_EQ(run.exitCode, 1) << c.entry << " " << c.size;
      EXPECT_NE(run.err.find("these problems"), std::string::npos) << run.err;
      EXPECT_EQ(tables(c.image), bytes) << c.entry << " " << c.size;
      continue;
    }
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(after.start, before.start) << c.entry << " " << c.size;
    EXPECT_EQ(after.size, c.sectors) << c.entry << " " << c.size;
    EXPECT_EQ(std::tie(after.type, after.uuid, after.name, after.bootable, after.attributes),
              std::tie(before.type, before.uuid, before.name, before.bootable, before.attributes));
  }
  EXPECT_TRUE(SfdiskVerifies(logical));
  EXPECT_TRUE(SgdiskVerifies(m_gpt));
}

TEST_F(CliEveryday, ResizeOnALoopDeviceShrinksNoPartitionInUseAndTheKernelFollows) {
  PartitionedLoopDevice loop(m_gpt);
  if (!loop.attached()) GTEST_SKIP() << loop.failure();
  test::Run({"partx", "-u", loop.path()});
  HeldPartition held(loop, 1, m_dir.path(), PartitionUse::Mounted);
  if (!held.open()) GTEST_SKIP() << "cannot mount a partition here";
  // Partition 1 is mounted: it cannot shrink; partition 2 grows and shrinks.
  const std::vector<std::tuple<const char*, const char*, int>> cases{{"1", "5M", 1}, {"2", "max", 0}, {"2", "8M", 0}};
  for (const auto& [entry, size, status] : cases) {
    RunResult run = cli({"--disk", loop.path(), "--yes", "resize", "0", entry, size});
    EXPECT_EQ(run.exitCode, status) << entry << " " << size << ": " << run.err;
    if (status != 0) EXPECT_NE(run.err.find("in use"), std::string::npos) << run.err;
    EXPECT_EQ(KernelPartitionList(loop.sysfsDirectory()), SfdiskDump(loop.path()).byNumber()) << entry;
  }
}

TEST_F(CliEveryday, SetAttributeFlipsOneBitOfWhatTheDiskHolds) {
  // BIT, on or off, and the bit it names.
  const std::vector<std::tuple<const char*, const char*, unsigned>> cases{
      {"hidden", "on", 62},      {"0", "on", 0},    {"no-drive-letter", "on", 63},     {"READ-ONLY", "ON", 60},
      {"shadow-copy", "on", 61}, {"62", "off", 62}, {"legacy-bios-bootable", "on", 2}, {"no-block-io", "on", 1},
      {"required", "off", 0}};
  for (const auto& [bit, state, number] : cases) {
    const std::uint64_t before = peerEntry(m_gpt, true, 1).attributes;
    ASSERT_EQ(onGpt({"--yes", "set-attribute", "0", "1", bit, state}).exitCode, 0) << bit;
    const std::uint64_t mask = std::uint64_t{1} << number;
    EXPECT_EQ(peerEntry(m_gpt, true, 1).attributes, state[1] != 'f' ? before | mask : before & ~mask) << bit;
  }
  const auto before = tables(m_gpt);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"64", "on"}, {"hidden", "maybe"}, {"bogus", "off"}, {"-1", "on"}}) {
    EXPECT_EQ(onGpt({"--yes", "set-attribute", "0", "1", bad[0], bad[1]}).exitCode, 2) << bad[0];
  }
  EXPECT_EQ(tables(m_gpt), before);
}

TEST_F(CliEveryday, TheTypeNamesOfOtherToolsMeanWhatThoseToolsWrite) {
  // Each listed GPT fdisk code on a partition of its own (every other one given as the
  // listed GUID without braces, in lower case), as sgdisk sets them all in one run.
  const std::string bySgdisk = m_dir.file("sgdisk.img");
  const std::string byKestrin = m_dir.file("kestrin.img");
  ASSERT_EQ(MakeSgdiskImage(bySgdisk, kImageSize, SgdiskPartitionsInARow(40, "+1M")), "");
  std::filesystem::copy_file(bySgdisk, byKestrin);
  std::vector<std::string> retype{"sgdisk"};
  std::map<int, std::string> listedGuid;
  const std::string twin = m_dir.file("twin.img");
  for (const std::string& row : lines(cli({"types"}).out)) {
    std::istringstream columns(row);
    std::string style, name, code;
    std::getline(std::getline(std::getline(columns, style, '\t'), name, '\t'), code, '\t');
    if (name.size() == 4 && name.find_first_not_of("0123456789abcdef") == std::string::npos) {
      const int number = static_cast<int>(listedGuid.size() + 1);
      listedGuid[number] = code.substr(1, 36);
      std::string given = number % 2 ? name : listedGuid[number];
      std::transform(given.begin(), given.end(), given.begin(), [](unsigned char c) { return std::tolower(c); });
      EXPECT_EQ(cli({"--disk", byKestrin, "--yes", "set-type", "0", std::to_string(number), given}).exitCode, 0);
      retype.push_back("-t" + std::to_string(number) + ":" + name);
    } else if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos) {
      // sfdisk's names, in a new partition of a disk of each style.
      const std::string& image = style == "gpt" ? m_gpt : m_mbr;
      std::filesystem::copy_file(image, twin, std::filesystem::copy_options::overwrite_existing);
      ASSERT_EQ(cli({"--disk", image, "--yes", "create-partition", "0", "3", "--size", "4", "--type", name}).exitCode,
                0)
          << style << " " << name;
      ASSERT_EQ(test::Run({"sfdisk", "-q", "--append", twin}, ",4MiB," + name + "\n").exitCode, 0);
      EXPECT_EQ(SfdiskDump(image).partition(3).type, SfdiskDump(twin).partition(3).type) << name;
      ASSERT_EQ(cli({"--disk", image, "--yes", "delete-partition", "0", "3"}).exitCode, 0);
    }
  }
  ASSERT_FALSE(listedGuid.empty());
  retype.push_back(bySgdisk);
  ASSERT_EQ(test::Run(retype).exitCode, 0);
  const PeerTable expected = SfdiskDump(bySgdisk);
  const PeerTable written = SfdiskDump(byKestrin);
  for (const auto& [number, guid] : listedGuid) {
    EXPECT_EQ(written.partition(number).type, expected.partition(number).type) << number;
    EXPECT_EQ(written.partition(number).type, guid) << number;
  }
}

}  // namespace
}  // namespace kestrin::test
