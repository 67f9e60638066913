// Hostile input never writes and never crashes. Three doors are tried: the
// text typed into every input of the editor's commands (through the window's
// own command code, confirmed every time), the arguments of kestrin-cli, and
// damaged image files opened by kestrin-cli. Every attempt must be refused
// with the message of the input it failed, leave the image byte for byte as
// it was, and end the process normally within its time limit.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "Convert.h"
#include "DamagedImages.h"
#include "DiskMap.h"
#include "EditorCommands.h"
#include "EmulatedPort.h"
#include "Errors.h"
#include "FakeTable.h"
#include "Guid.h"
#include "PeerImages.h"
#include "Port.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

const std::string kCli = std::string(KESTRIN_BINARY_DIR) + "/cli/kestrin-cli";
constexpr std::uint64_t kImageSize = 4ull << 20;

// Text that is no number, no type name and no GUID in any input: blanks
// alone, signs and prefixes without digits, trailing junk, other numerals,
// control and invalid UTF-8 bytes, format and shell syntax, broken GUIDs.
const std::vector<std::string> kGarbage{
    "",
    " ",
    "\t",
    "+",
    "-",
    "$",
    "0x",
    "x",
    "$$10",
    "0x0x10",
    "--1",
    "+-1",
    "1 ",
    "1\n",
    "1,5",
    "1.5",
    "1e3",
    "ten",
    "0b101",
    "\xD9\xA1\xD9\xA2",          // Arabic-Indic one and two
    "\xEF\xBC\x91\xEF\xBC\x90",  // full-width one and zero
    "10\xC2\xA0",                // no-break space after the digits
    "\xFF\xFE",
    "\x1B[2J",
    "%n%s%x",
    "'; rm -rf / #",
    "{",
    "{}",
    "{0FC63DAF-8483-4772-8E79-3D69D8477DE}",
    "{0FC63DAF-8483-4772-8E79-3D69D8477DE4",
    "{0FC63DAF-8483-4772-8E79-3D69D8477DE44}",
    "{0FC63DAF+8483-4772-8E79-3D69D8477DE4}",
    "{0FC63DAG-8483-4772-8E79-3D69D8477DE4}",
};

// Numbers that do not fit 32 or 64 bits.
const std::vector<std::string> kPast32{"2147483648", "-2147483649", "4294967296",
                                       "$100000000", "0x1FFFFFFFF", "99999999999999999999999"};
const std::vector<std::string> kPast64{"9223372036854775808", "-9223372036854775809", "18446744073709551616",
                                       "$10000000000000000",  "0xFFFFFFFFFFFFFFFFF",  "99999999999999999999999"};

// Text the command line cannot carry (a NUL ends an argument, the kernel
// limits one argument to 128 KiB) but a window's edit field can.
std::vector<std::string> windowOnly() {
  return {std::string("1\0"
                      "2",
                      3),
          std::string(1, '\0'), std::string(1 << 20, '9'), std::string(1 << 20, 'A'), "$" + std::string(1 << 20, 'F')};
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A printable name for a failure message.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 48)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char* kHex = "0123456789ABCDEF";
      out += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    }
  }
  return "'" + out + (text.size() > 48 ? "...' (" + std::to_string(text.size()) + " bytes)" : "'");
}

// The message the GUID conversion gives for `text`.
std::string guidMessage(const std::string& text) {
  try {
    StringToGuid(text);
  } catch (const ConversionError& error) {
    return error.what();
  }
  return "(" + text + " converts)";
}

// Every input that takes text, in both front ends: the window's command
// and how its dialog or prompt takes the text (with every other field
// valid), kestrin-cli's arguments ("@" stands for the text), the texts tried
// in both and the message each gives for a text (none: kestrin-cli's own
// message). kestrin-cli tries `cliTexts` too: type texts the window's box
// refuses by another message.
using Message = std::function<std::string(const std::string&)>;
using Answer = void (*)(ScriptedInteraction&, const std::string&);
struct TextInput {
  void (*make)(const std::string&);
  CommandOutcome (EditorCommands::*command)();
  Answer answer;
  std::vector<std::string> cli;
  std::vector<std::string> texts;
  Message window;
  Message cliMessage = {};
  std::vector<std::string> cliTexts = {};
};

std::vector<TextInput> textInputs() {
  const auto past64 = joined(kGarbage, kPast64);
  const std::vector<std::string> noTypes{"256", "-1", "$1FF", "0x100", "{00000000-0000-0000-0000-00000000000G}"};
  const auto create = &EditorCommands::CreatePartition1Click;
  const Message integer = IntegerConversionMessage;
  const Answer typed = [](ScriptedInteraction& ui, const std::string& t) { ui.promptAnswer = ui.typeAnswer = t; };
  const Answer size = [](ScriptedInteraction& ui, const std::string& t) {
    ui.createAnswer = CreatePartitionDialogResult{false, t, "6291456", "IFS"};
  };
  const Answer offset = [](ScriptedInteraction& ui, const std::string& t) {
    ui.createAnswer = CreatePartitionDialogResult{false, "1", t, "IFS"};
  };
  const Answer type = [](ScriptedInteraction& ui, const std::string& t) {
    ui.createAnswer = CreatePartitionDialogResult{false, "1", "6291456", t};
  };
  // An empty answer or the bare "$" the prompt starts with ends the disk ID
  // without a word in the window.
  const Message diskId = [](const std::string& t) { return t.empty() || t == "$" ? "" : IntegerConversionMessage(t); };
  return {
      // The first row is selected and its entry is taken, which the
      // operation would refuse; these texts are refused earlier, when they
      // are converted. An MBR type that is no name and no number is named.
      {MakeSmallMbr, create, size, {"create-partition", "0", "3", "--size", "@"}, past64, integer, integer},
      {MakeSmallMbr, create, offset, {"create-partition", "0", "3", "--offset", "@"}, past64, integer, integer},
      {MakeSmallMbr, create, type, {"create-partition", "0", "3", "--type", "@"}, kGarbage, integer, {}, noTypes},
      {MakeSmallGpt, create, type, {"create-partition", "0", "3", "--type", "@"}, kGarbage, guidMessage, {}, noTypes},
      {MakeSmallMbr, &EditorCommands::ChangePartition1Click, typed, {"set-type", "0", "1", "@"}, kGarbage, integer,
       {}, noTypes},
      {MakeSmallGpt, &EditorCommands::ChangePartitionTypeGPT1Click, typed, {"set-type", "0", "1", "@"}, kGarbage,
       guidMessage, {}, noTypes},
      {MakeSmallMbr, &EditorCommands::ChangePartitionBootMBR1Click, typed, {"set-boot", "0", "1", "@"}, past64,
       BooleanConversionMessage, BooleanConversionMessage},
      {MakeSmallMbr, &EditorCommands::ChangeDiskID1Click, typed, {"set-disk-id", "0", "@"},
       joined(kGarbage, kPast32), diskId},
      {MakeSmallGpt, &EditorCommands::ChangePartitionAttributesGPT1Click, typed, {"set-attributes", "0", "1", "@"},
       past64, integer, integer},
  };
}

// ---- the window's commands ----

// The window's commands over the disk, with its table redrawn from the disk
// and its first row selected. Every dialog and prompt is answered with the
// text under test and every write is confirmed: whatever refuses the text,
// it is not the user.
class WindowInput : public ::testing::Test {
 protected:
  WindowInput() {
    m_table.redrawFrom = &m_state;
    m_table.selectedAfterRedraw = 0;
    m_ui.replaceAnswer = true;
  }

  void open(const std::function<void(const std::string&)>& make) {
    m_installed.reset();
    make(m_image);
    m_port.emplace(DiskMap{DiskSpec{m_image, 512}});
    m_installed.emplace(*m_port);
    m_table.refresh();
    ASSERT_GT(m_table.rowCount(), 0);
    m_before = ReadFileBytes(m_image);
  }

  // Runs `command` with every text of `texts`; each must be refused with
  // `expected(text)` (the message shown or the error that reaches the
  // window's error report) and leave the image as it was.
  void expectRefused(const std::vector<std::string>& texts, const std::function<void(const std::string&)>& answer,
                     CommandOutcome (EditorCommands::*command)(),
                     const std::function<std::string(const std::string&)>& expected) {
    for (const std::string& text : texts) {
      m_ui.log.clear();
      answer(text);
      std::string told;
      try {
        (m_commands.*command)();
        told = m_ui.lastMessage();
      } catch (const KestrinError& error) {
        told = error.what();
      }
      EXPECT_EQ(told, expected(text)) << "for " << shown(text);
      if (ReadFileBytes(m_image) != m_before) {
        ADD_FAILURE() << "the image changed for " << shown(text);
        return;
      }
    }
  }

  TempDir m_dir;
  std::string m_image = m_dir.file("disk.img");
  std::optional<EmulatedPort> m_port;
  std::optional<ScopedPort> m_installed;
  EditorState m_state;
  ScriptedInteraction m_ui;
  FakeTable m_table;
  EditorCommands m_commands{m_state, m_table, m_ui};
  std::vector<std::uint8_t> m_before;
};

TEST_F(WindowInput, EveryInputRefusesEveryBadText) {
  for (const TextInput& input : textInputs()) {
    open(input.make);
    if (HasFatalFailure()) return;
    auto answer = [&](const std::string& t) { input.answer(m_ui, t); };
    expectRefused(joined(input.texts, windowOnly()), answer, input.command, input.window);
  }
}

// ---- kestrin-cli's arguments ----

// kestrin-cli under a time limit: a hang ends as status 137.
RunResult runCli(std::vector<std::string> args) {
  args.insert(args.begin(), {"timeout", "-s", "KILL", "60", kCli});
  return Run(args);
}

class CliInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HaveTool("sfdisk"));
    MakeSmallMbr(m_mbr);
    MakeSmallGpt(m_gpt);
  }

  // Every argument list `args`, with a text of `texts` where "@" stands, is
  // refused: status 1 (refused, with `expected(text)` on standard error when
  // given) or 2 (a usage error, with the usage text), nothing on standard
  // output, the image unchanged.
  void expectRefused(const std::string& image, const std::vector<std::string>& texts,
                     const std::vector<std::string>& args,
                     const std::function<std::string(const std::string&)>& expected = {}) {
    const auto before = ReadFileBytes(image);
    for (const std::string& text : texts) {
      std::vector<std::string> line{"--disk", image, "--yes"};
      for (const std::string& arg : args) line.push_back(arg == "@" ? text : arg);
      RunResult run = runCli(line);
      EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 2) << shown(text) << ": status " << run.exitCode << "\n"
                                                          << run.err;
      EXPECT_EQ(run.out, "") << shown(text);
      if (run.exitCode == 2) {
        EXPECT_NE(run.err.find("Try 'kestrin-cli "), std::string::npos) << shown(text) << ": " << run.err;
      } else if (expected) {
        EXPECT_NE(run.err.find("kestrin-cli: " + expected(text)), std::string::npos) << shown(text) << ": " << run.err;
      } else {
        EXPECT_NE(run.err.find("kestrin-cli: "), std::string::npos) << shown(text) << ": " << run.err;
      }
      if (ReadFileBytes(image) != before) {
        ADD_FAILURE() << "the image changed for " << shown(text);
        return;
      }
    }
  }

  TempDir m_dir;
  std::string m_mbr = m_dir.file("mbr.img");
  std::string m_gpt = m_dir.file("gpt.img");
};

// Texts an argument can carry: the garbage, `extra`, and one argument of
// 100000 digits (the kernel takes at most 128 KiB per argument).
std::vector<std::string> argumentTexts(const std::vector<std::string>& extra) {
  std::vector<std::string> texts = joined(kGarbage, extra);
  texts.push_back(std::string(100000, '9'));
  return texts;
}

TEST_F(CliInput, EveryInputRefusesEveryBadText) {
  for (const TextInput& input : textInputs()) {
    const std::string& image = input.make == MakeSmallGpt ? m_gpt : m_mbr;
    expectRefused(image, argumentTexts(joined(input.texts, input.cliTexts)), input.cli, input.cliMessage);
  }
}

// The window takes a sign in every number; the command line refuses one on
// values where it can only be a slip (-1 would set all 64 attribute bits).
TEST_F(CliInput, NegativeSignaturesAndAttributesAreUsageErrors) {
  for (const char* value : {"-1", " -$1", "-0"}) {
    for (const auto& [image, args] : {std::pair{m_gpt, std::vector<std::string>{"set-attributes", "0", "1", value}},
                                      std::pair{m_mbr, std::vector<std::string>{"set-disk-id", "0", value}}}) {
      const auto before = ReadFileBytes(image);
      std::vector<std::string> line{"--disk", image, "--yes"};
      line.insert(line.end(), args.begin(), args.end());
      RunResult run = runCli(line);
      EXPECT_EQ(run.exitCode, 2) << args[0] << " " << value << ": " << run.err;
      EXPECT_NE(run.err.find("must not be negative"), std::string::npos) << run.err;
      EXPECT_EQ(ReadFileBytes(image), before);
    }
  }
}

TEST_F(CliInput, DiskAndEntryNumbersOutsideTheirRangeAreRefused) {
  const auto numbers = argumentTexts({"-1", "5", "65", "256", "4294967297", "99999999999", "0x1", "$1"});
  expectRefused(m_mbr, numbers, {"delete-partition", "0", "@"});
  expectRefused(m_mbr, numbers, {"make-first", "0", "@"});
  expectRefused(m_gpt, numbers, {"set-attributes", "0", "@", "1"});
  const auto disks = argumentTexts({"-1", "1", "65", "4294967296", "0x0"});
  expectRefused(m_mbr, disks, {"delete-layout", "@"});
  expectRefused(m_mbr, disks, {"create-disk", "@", "gpt"});
  expectRefused(m_mbr, argumentTexts({"MBR2", "fat", "0", "3"}), {"create-disk", "0", "@"});
}

TEST_F(CliInput, PartitionsThatDoNotFitTheDiskAreRefusedByTheOperation) {
  // Each converts, and each is refused by the layout check: overlapping
  // entry 1, over sector 0, past the end, of no length; or, negative or not
  // whole sectors, as a usage error before the disk is read.
  const std::vector<std::vector<std::string>> placements{
      {"--offset", "1048576", "--size", "1"},  {"--offset", "0", "--size", "1"},
      {"--offset", "4194304", "--size", "1"},  {"--offset", "3670016", "--size", "1"},
      {"--offset", "-1048576", "--size", "1"}, {"--offset", "9223372036854775807", "--size", "1"},
      {"--offset", "5242880", "--size", "0"},  {"--offset", "1048577", "--size", "1"},
      {"--offset", "5242880", "--size", "-1"}};
  auto wholeSectors = [](const std::string& offset) { return std::stoll(offset) % 512 == 0; };
  auto usageError = [&](const std::vector<std::string>& p) {
    return !wholeSectors(p[1]) || p[1][0] == '-' || p[3][0] == '-';
  };
  for (const std::string& image : {m_mbr, m_gpt}) {
    const auto before = ReadFileBytes(image);
    for (const auto& placement : placements) {
      std::vector<std::string> line{"--disk", image, "--yes",  "create-partition",
                                    "0",      "3",   "--type", image == m_mbr ? "0x83" : "BASIC_DATA_GUID"};
      line.insert(line.end(), placement.begin(), placement.end());
      RunResult run = runCli(line);
      EXPECT_EQ(run.exitCode, usageError(placement) ? 2 : 1)
          << placement[1] << " " << placement[3] << ": " << run.err;
      EXPECT_NE(run.err.find("kestrin-cli: "), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFileBytes(image), before) << image;
  }
}

// ---- damaged images ----

// Every image of the catalogue: the hostile ones, and the tables verify judges.
class DamagedImages : public ::testing::TestWithParam<DamagedImage> {
 protected:
  TempDir m_dir;
  std::string m_image = m_dir.file("damaged.img");
};

// `show` reads the image as a table or as no table, or refuses it with a
// message; a write refused or done, the file never grows or shrinks and a
// refused write leaves it as it was.
TEST_P(DamagedImages, AreReadOrRefusedWithoutACrashAndRefusedWritesChangeNothing) {
  const DamagedImage& damaged = GetParam();
  damaged.make(m_image);
  if (HasFatalFailure()) return;
  const std::vector<std::string> disk{"--sector-size", std::to_string(damaged.sectorSize), "--disk", m_image};
  const auto before = ReadFileBytes(m_image);
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), disk.begin(), disk.end());
    return runCli(args);
  };

  for (const char* format : {"", "--json"}) {
    std::vector<std::string> args{"show"};
    if (*format) args.insert(args.begin(), format);
    RunResult show = with(args);
    ASSERT_TRUE(show.exitCode == 0 || show.exitCode == 1) << "status " << show.exitCode << "\n" << show.err;
    if (show.exitCode == 0 && !*format) {
      EXPECT_EQ(show.out.rfind("Style: ", 0), 0u) << show.out;
    } else if (show.exitCode == 1) {
      EXPECT_NE(show.err.find("kestrin-cli: "), std::string::npos) << show.err;
      EXPECT_EQ(show.out, "");
    }
  }
  // A file too short to hold a sector is no disk: the chooser leaves it out.
  RunResult disks = with({"disks"});
  EXPECT_TRUE(disks.exitCode == 0 || (disks.exitCode == 1 && disks.err.find("kestrin-cli: ") != std::string::npos))
      << "status " << disks.exitCode << "\n"
      << disks.err;
  EXPECT_EQ(ReadFileBytes(m_image), before) << "a read changed the image";

  // A whole-disk write and an entry write: whatever becomes of them, the
  // file keeps its length, and a refusal keeps every byte.
  for (std::vector<std::string> write : {std::vector<std::string>{"--yes", "delete-partition", "0", "1"},
                                         std::vector<std::string>{"--yes", "create-disk", "0", "gpt"}}) {
    const auto current = ReadFileBytes(m_image);
    RunResult run = with(write);
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << write[1] << ": status " << run.exitCode << "\n" << run.err;
    EXPECT_EQ(std::filesystem::file_size(m_image), current.size()) << write[1] << " changed the file's length";
    if (run.exitCode != 0) {
      EXPECT_EQ(ReadFileBytes(m_image), current) << write[1] << " refused but wrote";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedImages, ::testing::ValuesIn(DamagedImageCatalogue()),
                         [](const ::testing::TestParamInfo<DamagedImage>& info) {
                           return DamagedImageId(info.param.name);
                         });

// The catalogue written out, one file per image named after it and the
// sector size it is read with ("EBR_loop.512.img"), into the folder that
// KESTRIN_DAMAGED_IMAGES names (fuzz/make-seeds.sh seeds the fuzzers with
// them), else into a temporary folder: every image is made, and no two
// share a name.
TEST(DamagedImageCatalogue, WritesEveryImageUnderANameOfItsOwn) {
  TempDir temp;
  const char* folder = std::getenv("KESTRIN_DAMAGED_IMAGES");
  const std::filesystem::path out = folder != nullptr && *folder != '\0' ? folder : temp.path();
  std::filesystem::create_directories(out);
  std::set<std::string> files;
  for (const DamagedImage& image : DamagedImageCatalogue()) {
    const std::string name = DamagedImageId(image.name) + "." + std::to_string(image.sectorSize) + ".img";
    const std::string file = (out / name).string();
    EXPECT_TRUE(files.insert(file).second) << image.name << ": another image has its name";
    image.make(file);
    ASSERT_FALSE(HasFatalFailure()) << image.name;
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << image.name;
  }
}

// Paths that hold no disk: each command fails at once (a FIFO must not wait
// for a writer), keeps the specified message and names the real cause.
TEST(UnreadablePaths, AreRefusedAtOnceWithTheirCauseAndNothingIsCreated) {
  TempDir dir;
  const std::string dangling = dir.file("dangling");
  std::filesystem::create_symlink(dir.file("nowhere.img"), dangling);
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::string> paths[] = {{dir.path().string(), "is a directory"},
                                                       {dangling, "no such file"},
                                                       {dir.file("missing.img"), "no such file"},
                                                       {fifo, "not a disk"}};
  for (const auto& [path, cause] : paths) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"show"}, std::vector<std::string>{"--yes", "create-disk", "0", "mbr"},
          std::vector<std::string>{"--yes", "delete-partition", "0", "1"}, std::vector<std::string>{"disks"}}) {
      const bool listing = args[0] == "disks";
      args.insert(args.begin(), {"--disk", path});
      RunResult run = runCli(args);
      EXPECT_EQ(run.exitCode, 1) << path << ": " << run.err;
      EXPECT_EQ(run.out, "") << path;
      if (!listing) {
        EXPECT_NE(run.err.find("failed:The disk handle is not valid"), std::string::npos) << path << ": " << run.err;
      }
      EXPECT_NE(
          run.err.find("kestrin-cli: " + std::string(listing ? "left out " : "cannot open ") + path + ": " + cause),
          std::string::npos)
          << path << ": " << run.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere.img")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.img")));

  // A disk the user has no rights to (here an image in root's own folder,
  // opened as "nobody"): the cause says how to get them.
  if (::geteuid() != 0 || !HaveTool("setpriv")) return;
  const std::string locked = dir.file("locked.img");
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  { std::ofstream(locked).put('\0'); }
  std::filesystem::resize_file(locked, 1 << 20);
  RunResult run = kestrin::test::Run(
      {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kCli, "--disk", locked, "show"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("cannot open " + locked + ": permission denied (run kestrin-cli as root"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace kestrin::test
