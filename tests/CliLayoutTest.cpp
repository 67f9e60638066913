// Layouts as data: kestrin-cli's dump applied to blank images, and sfdisk's,
// judged by sgdisk and sfdisk on the copies; dry runs that write nothing; and
// the command line as people type it.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "PeerImages.h"
#include "PeerReaders.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

const std::string kCli = CliProgram();
constexpr std::uint64_t kImageSize = 100ull << 20;

RunResult cli(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), kCli);
  return test::Run(args, input);
}

// What sgdisk says of a GPT, but for the image's name; with `ids`, the disk
// GUID and the partitions' unique GUIDs too.
std::string sgdiskView(const std::string& image, const std::vector<int>& numbers, bool ids) {
  std::string view = SgdiskPrint(image).output;
  view = view.substr(view.find('\n') + 1);  // "Disk <path>: ..."
  for (int number : numbers) view += test::Run({"sgdisk", "-i", std::to_string(number), image}).out;
  if (ids) return view;
  std::string kept;
  std::istringstream lines(view);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("GUID") == std::string::npos || line.find("Partition GUID code") != std::string::npos) {
      kept += line + "\n";
    }
  }
  return kept;
}

TEST(CliLayout, DumpsAppliedToBlankImagesGiveThePeersTheSameTables) {
  TempDir dir;
  const std::string gpt = dir.file("gpt.img");
  ASSERT_EQ(MakeSgdiskImage(gpt, kImageSize,
                            {"-n1:2048:+10M", "-t1:8300", "-c1:root fs", "-A1:set:2", "-n3:0:+5M", "-t3:ef00",
                             "-c3:EFI", "-A3:set:60", "-n5:0:+8M", "-t5:8200"}),
            "");
  const std::string mbr = dir.file("mbr.img");
  // sfdisk writes the byte 0x0E as "type=e", which is no shortcut for an
  // extended partition.
  ASSERT_EQ(MakeSfdiskImage(mbr, kImageSize, "label: dos\n,10MiB,83,*\n,,5\n,10MiB,e\n,10MiB,82\n,5MiB,8e\n"), "");
  const std::string gptDump = dir.file("gpt.json");
  WriteTextFile(gptDump, cli({"--disk", gpt, "dump"}).out);
  const std::string mbrDump = dir.file("mbr.sfdisk");
  WriteTextFile(mbrDump, test::Run({"sfdisk", "--dump", mbr}).out);
  ASSERT_EQ(nlohmann::json::parse(ReadTextFile(gptDump))["schema"], 1);

  struct Case {
    std::string dump;
    std::vector<std::string> options;
    std::function<std::string(const std::string&)> view;  // what the peers see of an image
  };
  auto gptView = [](bool ids) { return [ids](const std::string& i) { return sgdiskView(i, {1, 3, 5}, ids); }; };
  auto sfdiskRows = [](const std::string& i) {
    std::string rows = test::Run({"sfdisk", "--dump", i}).out;
    return rows.substr(rows.find("\n\n"));  // the partitions, named by their number only
  };
  const std::vector<Case> cases{{gptDump, {}, gptView(true)},
                                {gptDump, {"--new-ids"}, gptView(false)},
                                {mbrDump, {}, sfdiskRows}};
  for (const Case& c : cases) {
    const std::string copy = dir.file("copy.img");
    MakeSparseFile(copy, kImageSize);
    std::vector<std::string> args{"--disk=" + copy, "--yes", "apply", "0", c.dump};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult applied = cli(args);
    ASSERT_EQ(applied.exitCode, 0) << c.dump << applied.err;
    EXPECT_NE(applied.out.find("partition 1: added"), std::string::npos) << applied.out;
    const std::string source = c.dump == gptDump ? gpt : mbr;
    std::string expected = c.view(source);
    std::string found = c.view(copy);
    for (std::string* text : {&expected, &found}) {
      for (std::size_t at; (at = text->find(source == mbr ? "mbr.img" : "gpt.img")) != std::string::npos;) {
        text->replace(at, 7, "copy.img");
      }
    }
    EXPECT_EQ(found, expected) << c.dump;
    if (!c.options.empty()) {
      EXPECT_NE(SgdiskPrint(copy).id, SgdiskPrint(gpt).id);
      EXPECT_NE(SgdiskInfo(copy, 1)->uuid, SgdiskInfo(gpt, 1)->uuid);
    }
    // The layout is there now: a second apply writes nothing.
    const auto bytes = ReadFileBytes(copy);
    RunResult again = cli({"--disk", copy, "--yes", "--json", "apply", "0", c.dump});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(nlohmann::json::parse(again.out)["changed"], !c.options.empty()) << again.out;
    if (c.options.empty()) EXPECT_EQ(ReadFileBytes(copy), bytes);
  }

  // A disk too small for it: refused, the partitions that do not fit named.
  const std::string small = dir.file("small.img");
  MakeSparseFile(small, 20ull << 20);
  RunResult tooSmall = cli({"--disk", small, "--yes", "apply", "0", gptDump});
  EXPECT_EQ(tooSmall.exitCode, 1);
  EXPECT_NE(tooSmall.err.find("partition 5 (sectors 32768 to 49151) does not fit"), std::string::npos) << tooSmall.err;
  EXPECT_EQ(tooSmall.err.find("partition 1 "), std::string::npos) << tooSmall.err;

  // On a disk of 4096-byte sectors the partitions keep their byte offsets.
  const std::string wide = dir.file("4k.img");
  MakeSparseFile(wide, kImageSize);
  ASSERT_EQ(cli({"--sector-size=4096", "--disk", wide, "--yes", "apply", "0", gptDump}).exitCode, 0);
  const nlohmann::json copied = nlohmann::json::parse(cli({"--disk", wide, "dump"}).out);
  const nlohmann::json original = nlohmann::json::parse(ReadTextFile(gptDump));
  ASSERT_EQ(copied["sectorSize"], 4096);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(copied["partitions"][i]["start"].get<std::uint64_t>() * 4096,
              original["partitions"][i]["start"].get<std::uint64_t>() * 512);
    EXPECT_EQ(copied["partitions"][i]["name"], original["partitions"][i]["name"]);
  }
}

TEST(CliLayout, DryRunsWriteNothingAndExitAsTheWriteWould) {
  TempDir dir;
  const std::string image = dir.file("disk.img");
  ASSERT_EQ(MakeSfdiskImage(image, kImageSize, "label: dos\n,10MiB,83\n,20MiB,7\n"), "");
  const std::string backup = dir.file("b.kbk");
  ASSERT_EQ(cli({"--disk", image, "backup", "0", backup}).exitCode, 0);
  const std::string dump = dir.file("gpt.sfdisk");
  WriteTextFile(dump, "label: gpt\nunit: sectors\n\nstart=2048, size=4096, type=L, name=\"x\"\n");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string said;  // on standard output or error
  };
  const std::vector<Case> cases{
      {{"delete-partition", "0", "1"}, 0, "0\t0\t0\t0\t(0x00)"},
      {{"create-disk", "0", "gpt"}, 0, "Style: GPT, Count=0"},
      {{"restore", "0", backup}, 0, "the table the restore would leave"},
      {{"apply", "0", dump}, 0, "partition 2: removed"},
      {{"create-partition", "0", "3", "--offset", "2M", "--size", "4"}, 1, "overlap: "},
  };
  const auto before = ReadFileBytes(image);
  for (const Case& c : cases) {
    std::vector<std::string> args{"--disk", image, "--dry-run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = cli(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << ": " << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.args[0] << ": " << run.out << run.err;
    EXPECT_EQ(ReadFileBytes(image), before) << c.args[0];
  }
}

TEST(CliLayout, TheCommandLineAsPeopleTypeIt) {
  TempDir dir;
  const std::string image = dir.file("disk.img");
  ASSERT_EQ(MakeSfdiskImage(image, kImageSize, "label: dos\n,10MiB,83\n"), "");
  EXPECT_EQ(cli({"--version"}).out, cli({"-V"}).out);
  EXPECT_EQ(cli({"-V"}).out.rfind("kestrin-cli ", 0), 0u);
  EXPECT_EQ(cli({"--disk=" + image, "show"}).out, cli({"--disk", image, "--", "show", "0"}).out);
  const nlohmann::json shown = nlohmann::json::parse(cli({"--disk", image, "--json", "show"}).out);
  EXPECT_EQ(shown["sectorSize"], 512);
  EXPECT_EQ(shown["diskSize"], kImageSize);
  EXPECT_EQ(shown["style"], "MBR");
  // A text that is no dump: a usage error naming the line, nothing written.
  const std::string junk = dir.file("junk.txt");
  WriteTextFile(junk, "label: dos\nunit: sectors\nstart=2048, size=8, type=83, colour=blue\n");
  const auto before = ReadFileBytes(image);
  RunResult refused = cli({"--disk", image, "--yes", "apply", "0", junk});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("line 3: 'colour=blue'"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("Try 'kestrin-cli apply --help'"), std::string::npos) << refused.err;
  RunResult stdinDump = cli({"--disk", image, "--dry-run", "apply", "0", "-"}, "label: dos\nstart=2048, size=8192, type=83\n");
  EXPECT_EQ(stdinDump.exitCode, 0) << stdinDump.err;
  EXPECT_EQ(ReadFileBytes(image), before);
}

}  // namespace
}  // namespace kestrin::test
