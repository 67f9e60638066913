#pragma once
// What the user answers to the editor's commands, and what each answer must
// come to, whichever front end asks: the editor's commands behind a scripted
// Interaction and kestrin-cli both run these tables, each reading back what
// was written by its own means, so that an answer means the same in both.
//
// Every case runs on entry 2 of a disk of two entries (the disk itself for
// the disk ID and the whole-disk commands), as kestrin-cli's image tests
// and the editor's in-memory tests lay them out. In the kestrin-cli
// arguments "@" stands for the answer.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Convert.h"
#include "EditorCommands.h"

namespace kestrin::test {

enum class AnswerStyle { Mbr, Gpt, Raw };

// What a command writes, read back by each front end on its own disk.
enum class Written { BootFlag, DiskId, Attributes, MbrType, GptType };

using EditorClick = CommandOutcome (EditorCommands::*)();

// The question kestrin-cli and the window ask before writing to entry 2 of
// the first disk.
inline const std::string kModifyEntry2 = "Modify entry #2 for \\\\.\\PhysicalDrive0?";

// One answer to one command. `refusal` empty: the answer is written, and
// `number` (or `guid`, for GPT types) is what the disk then holds.
// Otherwise it is refused with that message and nothing is written;
// `beforeQuestion` says the refusal comes before the confirmation.
// `silentInWindow`: the window ends the command without a word, where
// kestrin-cli still says that nothing was written.
struct AnswerCase {
  EditorClick click;
  std::vector<std::string> cli;
  AnswerStyle style;
  std::string answer;
  Written field;
  std::uint64_t number = 0;
  std::string guid;
  std::string refusal;
  std::string question;
  bool beforeQuestion = false;
  bool silentInWindow = false;
};

// The cases run in this order on one disk per front end: every answer
// written changes what the disk held before it.
inline std::vector<AnswerCase> AnswerCases() {
  const std::vector<std::string> boot{"set-boot", "0", "2", "@"};
  const std::vector<std::string> diskId{"set-disk-id", "0", "@"};
  const std::vector<std::string> setType{"set-type", "0", "2", "@"};
  const std::string modifyDiskId = "Modify DiskID for \\\\.\\PhysicalDrive0?";
  auto boot_ = &EditorCommands::ChangePartitionBootMBR1Click;
  auto id = &EditorCommands::ChangeDiskID1Click;
  auto type = &EditorCommands::ChangePartition1Click;
  auto gptType = &EditorCommands::ChangePartitionTypeGPT1Click;
  auto attributes = &EditorCommands::ChangePartitionAttributesGPT1Click;
  return {
      // The boot flag: numbers (any but 0 is set), true and false in any case.
      {boot_, boot, AnswerStyle::Mbr, "2", Written::BootFlag, 1, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "0", Written::BootFlag, 0, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "tRuE", Written::BootFlag, 1, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "FALSE", Written::BootFlag, 0, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "$1", Written::BootFlag, 1, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "0", Written::BootFlag, 0, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "TRUE", Written::BootFlag, 1, {}, {}, kModifyEntry2},
      {boot_, boot, AnswerStyle::Mbr, "yes", Written::BootFlag, 0, {}, BooleanConversionMessage("yes"), kModifyEntry2},
      // The disk ID: all 32 bits; bad text is refused before the question.
      {id, diskId, AnswerStyle::Mbr, "$01020304", Written::DiskId, 0x01020304, {}, {}, modifyDiskId},
      {id, diskId, AnswerStyle::Mbr, "$FFFFFFFF", Written::DiskId, 0xFFFFFFFF, {}, {}, modifyDiskId},
      {id, diskId, AnswerStyle::Mbr, "123abc", Written::DiskId, 0, {}, IntegerConversionMessage("123abc"), modifyDiskId, true},
      // An empty answer, or the bare "$" the prompt starts with.
      {id, diskId, AnswerStyle::Mbr, "", Written::DiskId, 0, {}, "nothing to write", modifyDiskId, true, true},
      {id, diskId, AnswerStyle::Mbr, "$", Written::DiskId, 0, {}, "nothing to write", modifyDiskId, true, true},
      // The MBR type byte: a name, or the byte as a number.
      {type, setType, AnswerStyle::Mbr, "FAT32", Written::MbrType, 0x0B, {}, {}, kModifyEntry2},
      {type, setType, AnswerStyle::Mbr, "0x83", Written::MbrType, 0x83, {}, {}, kModifyEntry2},
      {type, setType, AnswerStyle::Mbr, "$ef", Written::MbrType, 0xEF, {}, {}, kModifyEntry2},
      {type, setType, AnswerStyle::Mbr, "131", Written::MbrType, 0x83, {}, {}, kModifyEntry2},
      // The GPT type: a name, or GUID text in any case.
      {gptType, setType, AnswerStyle::Gpt, "MSFT_RESERVED_GUID", Written::GptType, 0,
       "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", {}, kModifyEntry2},
      {gptType, setType, AnswerStyle::Gpt, "{0fc63daf-8483-4772-8e79-3d69d8477de4}", Written::GptType, 0,
       "0FC63DAF-8483-4772-8E79-3D69D8477DE4", {}, kModifyEntry2},
      {gptType, setType, AnswerStyle::Gpt, "SYSTEM_GUID", Written::GptType, 0, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
       {}, kModifyEntry2},
      {gptType, setType, AnswerStyle::Gpt, "{E6D6D379-F507-44C2-A23C-238F2A3DF928}", Written::GptType, 0,
       "E6D6D379-F507-44C2-A23C-238F2A3DF928", {}, kModifyEntry2},
      // The attributes: sixteen hexadecimal digits, and no seventeenth.
      {attributes, {"set-attributes", "0", "2", "@"}, AnswerStyle::Gpt, "$8000000000000001", Written::Attributes,
       0x8000000000000001ull, {}, {}, kModifyEntry2},
      {attributes, {"set-attributes", "0", "2", "@"}, AnswerStyle::Gpt, "$10000000000000000", Written::Attributes, 0,
       {}, IntegerConversionMessage("$10000000000000000"), kModifyEntry2},
  };
}

// A command of one style on a disk of another: refused with `message`
// alone, before anything is asked. Commands that kestrin-cli has no
// counterpart for (it sets the type of either style with one command)
// have no arguments.
struct StyleRefusal {
  EditorClick click;
  std::vector<std::string> cli;
  AnswerStyle style;
  const char* message;
};

inline std::vector<StyleRefusal> StyleRefusals() {
  std::vector<StyleRefusal> cases;
  const std::vector<std::pair<EditorClick, std::vector<std::string>>> mbrOnly{
      {&EditorCommands::ChangePartition1Click, {}},
      {&EditorCommands::ChangePartitionBootMBR1Click, {"set-boot", "0", "1", "1"}},
      {&EditorCommands::ChangeDiskID1Click, {"set-disk-id", "0", "$1"}},
      {&EditorCommands::SetasPartitionNumber11Click, {"make-first", "0", "2"}}};
  const std::vector<std::pair<EditorClick, std::vector<std::string>>> gptOnly{
      {&EditorCommands::ChangePartitionTypeGPT1Click, {}},
      {&EditorCommands::ChangePartitionAttributesGPT1Click, {"set-attributes", "0", "1", "1"}},
      {nullptr, {"set-attribute", "0", "1", "hidden", "on"}}};
  // A RAW disk has no rows: kestrin-cli refuses an entry of it before it
  // looks at the style, so there only the disk ID is refused for its style.
  auto add = [&](const auto& commands, AnswerStyle style, const char* message) {
    for (const auto& [click, cli] : commands) {
      const bool cliTakesIt = style != AnswerStyle::Raw || (!cli.empty() && cli[0] == "set-disk-id");
      cases.push_back({click, cliTakesIt ? cli : std::vector<std::string>{}, style, message});
    }
  };
  add(mbrOnly, AnswerStyle::Gpt, "MBR only");
  add(mbrOnly, AnswerStyle::Raw, "MBR only");
  add(gptOnly, AnswerStyle::Mbr, "GPT only");
  add(gptOnly, AnswerStyle::Raw, "GPT only");
  return cases;
}

// A command whose confirmation is answered No: the question is asked and
// nothing is written. The editor answers its dialog or prompt with `answer`
// (GPT in the style dialog); kestrin-cli takes it where "@" stands.
struct CancelledQuestion {
  EditorClick click;
  std::vector<std::string> cli;
  AnswerStyle style;
  std::string answer;
  std::string question;
};

inline std::vector<CancelledQuestion> CancelledQuestions() {
  const std::string disk = "\\\\.\\PhysicalDrive0";
  return {
      {&EditorCommands::DeletePa1Click, {"delete-partition", "0", "2"}, AnswerStyle::Mbr, "", "Delete entry #2 for " + disk + "?"},
      {&EditorCommands::ChangePartition1Click, {"set-type", "0", "2", "@"}, AnswerStyle::Mbr, "FAT32", kModifyEntry2},
      {&EditorCommands::ChangePartitionBootMBR1Click, {"set-boot", "0", "2", "@"}, AnswerStyle::Mbr, "1", kModifyEntry2},
      {&EditorCommands::SetasPartitionNumber11Click, {"make-first", "0", "2"}, AnswerStyle::Mbr, "", kModifyEntry2},
      {&EditorCommands::ChangeDiskID1Click, {"set-disk-id", "0", "@"}, AnswerStyle::Mbr, "$01020304",
       "Modify DiskID for " + disk + "?"},
      {&EditorCommands::CreateDisk1Click, {"create-disk", "0", "gpt"}, AnswerStyle::Mbr, "", "Create Disk on " + disk + "?"},
      {&EditorCommands::DeleteDriveLayout1Click, {"delete-layout", "0"}, AnswerStyle::Mbr, "",
       "Delete Drive Layout for " + disk + "?"},
      {&EditorCommands::ChangePartitionTypeGPT1Click, {"set-type", "0", "2", "@"}, AnswerStyle::Gpt, "SYSTEM_GUID",
       kModifyEntry2},
      {&EditorCommands::ChangePartitionAttributesGPT1Click, {"set-attributes", "0", "2", "@"}, AnswerStyle::Gpt, "$1",
       kModifyEntry2},
      {&EditorCommands::DeletePa1Click, {"delete-partition", "0", "2"}, AnswerStyle::Gpt, "", "Delete entry #2 for " + disk + "?"},
  };
}

// The kestrin-cli arguments of a case, with the answer where "@" stands.
inline std::vector<std::string> CliArguments(const std::vector<std::string>& args, const std::string& answer) {
  std::vector<std::string> out;
  for (const std::string& arg : args) out.push_back(arg == "@" ? answer : arg);
  return out;
}

}  // namespace kestrin::test
