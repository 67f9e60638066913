#pragma once
// What the user answers to the editor's commands, and what each answer must
// come to, whichever front end asks: the editor's commands behind a scripted
// Interaction and kestrin-cli both run these tables, each on a disk of two
// entries of its own (entry 2 is the one changed) and reading back what was
// written by its own means, so that an answer means the same in both.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Convert.h"
#include "EditorCommands.h"
#include "PeerReaders.h"

namespace kestrin::test {

enum class AnswerStyle { Mbr, Gpt, Raw };

// What a command writes.
enum class Written { Nothing, BootFlag, DiskId, Attributes, MbrType, GptType };

using EditorClick = CommandOutcome (EditorCommands::*)();

// A command as the window's menu and kestrin-cli give it; in the arguments
// "@" stands for the answer. `question` is the confirmation both ask;
// `windowAsks` what the window shows first for the answer (as a
// ScriptedInteraction logs it).
struct AnswerCommand {
  EditorClick click;
  std::vector<std::string> cli;
  AnswerStyle style;
  Written field;
  std::string question;
  std::string windowAsks;
};

inline const std::string kModifyEntry2 = "Modify entry #2 for \\\\.\\PhysicalDrive0?";
inline const AnswerCommand kSetBoot{&EditorCommands::ChangePartitionBootMBR1Click, {"set-boot", "0", "2", "@"},
                                    AnswerStyle::Mbr, Written::BootFlag, kModifyEntry2,
                                    "prompt:Brimvale|Enter partition boot (0 or 1)|"};
inline const AnswerCommand kSetDiskId{&EditorCommands::ChangeDiskID1Click, {"set-disk-id", "0", "@"}, AnswerStyle::Mbr,
                                      Written::DiskId, "Modify DiskID for \\\\.\\PhysicalDrive0?",
                                      "prompt:Brimvale|Enter DiskID (4 bytes : $01020304)|$"};
inline const AnswerCommand kSetMbrType{&EditorCommands::ChangePartition1Click, {"set-type", "0", "2", "@"},
                                       AnswerStyle::Mbr, Written::MbrType, kModifyEntry2, "typeDialog"};
inline const AnswerCommand kSetGptType{&EditorCommands::ChangePartitionTypeGPT1Click, {"set-type", "0", "2", "@"},
                                       AnswerStyle::Gpt, Written::GptType, kModifyEntry2, "typeDialog"};
inline const AnswerCommand kSetAttributes{&EditorCommands::ChangePartitionAttributesGPT1Click,
                                          {"set-attributes", "0", "2", "@"}, AnswerStyle::Gpt, Written::Attributes,
                                          kModifyEntry2, "prompt:Brimvale|Enter partition attributes ($int64)|"};
inline const AnswerCommand kDeleteEntry2{&EditorCommands::DeletePa1Click, {"delete-partition", "0", "2"},
                                         AnswerStyle::Mbr, Written::Nothing, "Delete entry #2 for \\\\.\\PhysicalDrive0?"};
inline const AnswerCommand kMakeFirst{&EditorCommands::SetasPartitionNumber11Click, {"make-first", "0", "2"},
                                      AnswerStyle::Mbr, Written::Nothing, kModifyEntry2};
// The editor takes "mbr" as MBR and anything else as GPT in the style dialog.
inline const AnswerCommand kCreateDisk{&EditorCommands::CreateDisk1Click, {"create-disk", "0", "@"}, AnswerStyle::Mbr,
                                       Written::Nothing, "Create Disk on \\\\.\\PhysicalDrive0?"};
inline const AnswerCommand kDeleteLayout{&EditorCommands::DeleteDriveLayout1Click, {"delete-layout", "0"},
                                         AnswerStyle::Mbr, Written::Nothing,
                                         "Delete Drive Layout for \\\\.\\PhysicalDrive0?"};
// `command` on a GPT disk.
inline AnswerCommand OnGpt(AnswerCommand command) {
  command.style = AnswerStyle::Gpt;
  return command;
}

// One answer. `refusal` empty: it is written, and `number` (`guid`, upper
// case without braces, for a GPT type) is what the disk then holds.
// Otherwise it is refused with that message and nothing is written;
// `beforeQuestion`: the refusal comes before the confirmation.
// `silentInWindow`: the window ends the command without a word, where
// kestrin-cli says that nothing was written.
struct AnswerCase {
  AnswerCommand command;
  std::string answer;
  std::uint64_t number = 0;
  std::string guid;
  std::string refusal;
  bool beforeQuestion = false;
  bool silentInWindow = false;
};

// In this order on one disk per front end every answer written changes
// what the disk held before it.
inline std::vector<AnswerCase> AnswerCases() {
  return {
      // The boot flag: numbers (any but 0 sets it), true and false in any case.
      {kSetBoot, "2", 1}, {kSetBoot, "0", 0}, {kSetBoot, "tRuE", 1}, {kSetBoot, "FALSE", 0}, {kSetBoot, "$1", 1},
      {kSetBoot, "0", 0}, {kSetBoot, "TRUE", 1}, {kSetBoot, "yes", 0, {}, BooleanConversionMessage("yes")},
      // The disk ID: all 32 bits; bad text is refused before the question,
      // and an empty answer, or the bare "$" the prompt starts with, too.
      {kSetDiskId, "$01020304", 0x01020304}, {kSetDiskId, "$FFFFFFFF", 0xFFFFFFFF},
      {kSetDiskId, "123abc", 0, {}, IntegerConversionMessage("123abc"), true},
      {kSetDiskId, "", 0, {}, "nothing to write", true, true},
      {kSetDiskId, "$", 0, {}, "nothing to write", true, true},
      // The MBR type byte: a name, or the byte as a number.
      {kSetMbrType, "FAT32", 0x0B}, {kSetMbrType, "0x83", 0x83}, {kSetMbrType, "$ef", 0xEF},
      {kSetMbrType, "131", 0x83},
      // The GPT type: a name, or GUID text in any case.
      {kSetGptType, "MSFT_RESERVED_GUID", 0, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE"},
      {kSetGptType, "{0fc63daf-8483-4772-8e79-3d69d8477de4}", 0, "0FC63DAF-8483-4772-8E79-3D69D8477DE4"},
      {kSetGptType, "SYSTEM_GUID", 0, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"},
      {kSetGptType, "{E6D6D379-F507-44C2-A23C-238F2A3DF928}", 0, "E6D6D379-F507-44C2-A23C-238F2A3DF928"},
      // The attributes: sixteen hexadecimal digits, and no seventeenth.
      {kSetAttributes, "$8000000000000001", 0x8000000000000001ull},
      {kSetAttributes, "$10000000000000000", 0, {}, IntegerConversionMessage("$10000000000000000")},
  };
}

// A command of one style on a disk of the other style or RAW: refused with
// `message` alone, before anything is asked. kestrin-cli sets the type of
// either style with one command (no arguments here), and refuses an entry
// of a RAW disk, which has no rows, before it looks at the style
// (`cliOnRaw`). A command of kestrin-cli alone has no click.
struct StyleRefusal {
  EditorClick click;
  std::vector<std::string> cli;
  const char* message;
  bool cliOnRaw = false;
};

inline const std::vector<StyleRefusal> kStyleRefusals{
    {&EditorCommands::ChangePartition1Click, {}, "MBR only"},
    {&EditorCommands::ChangePartitionBootMBR1Click, {"set-boot", "0", "1", "1"}, "MBR only"},
    {&EditorCommands::ChangeDiskID1Click, {"set-disk-id", "0", "$1"}, "MBR only", true},
    {&EditorCommands::SetasPartitionNumber11Click, {"make-first", "0", "2"}, "MBR only"},
    {&EditorCommands::ChangePartitionTypeGPT1Click, {}, "GPT only"},
    {&EditorCommands::ChangePartitionAttributesGPT1Click, {"set-attributes", "0", "1", "1"}, "GPT only"},
    {nullptr, {"set-attribute", "0", "1", "hidden", "on"}, "GPT only"}};

// The styles `c` is refused on.
inline std::vector<AnswerStyle> RefusedOn(const StyleRefusal& c) {
  return {c.message[0] == 'M' ? AnswerStyle::Gpt : AnswerStyle::Mbr, AnswerStyle::Raw};
}

// A command whose confirmation is answered No, after `answer` in its
// dialog or prompt: the question is asked and nothing is written.
struct CancelledQuestion {
  AnswerCommand command;
  std::string answer;
};

inline const std::vector<CancelledQuestion> kCancelledQuestions{
    {kDeleteEntry2, ""},      {OnGpt(kDeleteEntry2), ""}, {kSetMbrType, "FAT32"},
    {kSetBoot, "1"},          {kSetDiskId, "$01020304"},  {kSetGptType, "SYSTEM_GUID"},
    {kSetAttributes, "$1"},   {kMakeFirst, ""},           {kCreateDisk, "gpt"},
    {kDeleteLayout, ""}};

// The disks the answers run on as images, as sfdisk makes them: an MBR
// disk (a bootable Linux entry of 10 MiB at 1 MiB, an NTFS entry of 20 MiB
// after it) and a GPT disk (a Linux entry and an EFI system entry as large).
constexpr std::uint64_t kAnswerImageSize = 100ull << 20;
inline const std::string kAnswerMbrScript = "label: dos\nlabel-id: 0x11223344\n,10MiB,83,*\n,20MiB,7\n";
inline const std::string kAnswerGptScript = "label: gpt\n,10MiB,L\n,20MiB,U\n";

// A command answered on a fresh image of its style: the status line of the
// table redrawn after it, and what the peers read from the image then.
struct ImageCase {
  AnswerCommand command;
  std::string answer;
  std::string status;
  std::function<void(const std::string& image)> peersSee;
};

inline std::vector<ImageCase> ImageCases() {
  return {
      {kMakeFirst, "", "Style: MBR, Count=4",
       [](const std::string& image) {
         PeerTable peer = SfdiskDump(image);
         ASSERT_EQ(peer.partitions.size(), 2u) << peer.error;
         EXPECT_EQ(peer.partitions[0].start, 22528u);
         EXPECT_EQ(peer.partitions[0].mbrType(), 0x07);
         EXPECT_EQ(peer.partitions[1].start, 2048u);
         EXPECT_TRUE(peer.partitions[1].bootable);
       }},
      {kSetGptType, "{A19D880F-05FC-4D3B-A006-743F0F84911E}", "Style: GPT, Count=2",  // Linux RAID
       [](const std::string& image) {
         EXPECT_EQ(SgdiskInfo(image, 2).value_or(PeerPartition{}).type, "A19D880F-05FC-4D3B-A006-743F0F84911E");
         EXPECT_EQ(SgdiskInfo(image, 1).value_or(PeerPartition{}).type, "0FC63DAF-8483-4772-8E79-3D69D8477DE4");
         EXPECT_TRUE(SgdiskVerifies(image));
       }},
      {kCreateDisk, "GPT", "Style: GPT, Count=0",
       [](const std::string& image) {
         std::string report;
         EXPECT_TRUE(SgdiskVerifies(image, &report)) << report;
         EXPECT_TRUE(SfdiskDump(image).partitions.empty());
       }},
      {OnGpt(kCreateDisk), "mbr", "Style: MBR, Count=4",
       [](const std::string& image) {
         PeerTable peer = SfdiskDump(image);
         EXPECT_TRUE(peer.ok) << peer.error;
         EXPECT_TRUE(peer.partitions.empty());
       }},
      {OnGpt(kDeleteLayout), "", "Style: , Count=0", [](const std::string& image) { EXPECT_FALSE(SfdiskDump(image).ok); }},
  };
}

// kestrin-cli's arguments `before`, then `cli` with `answer` for "@".
inline std::vector<std::string> CliArguments(std::vector<std::string> before, const std::vector<std::string>& cli,
                                             const std::string& answer = {}) {
  for (const std::string& arg : cli) before.push_back(arg == "@" ? answer : arg);
  return before;
}

}  // namespace kestrin::test
