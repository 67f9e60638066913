// The editor commands without any window: a scripted Interaction answers
// the dialogs, prompts and confirmations, a fake table stands for the list,
// and the disk is either a RecordingPort's in-memory layout (to see each
// request) or an image made by sfdisk/sgdisk behind the EmulatedPort (to see
// what really lands on the disk).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Convert.h"
#include "EditorCommands.h"
#include "EmulatedPort.h"
#include "Errors.h"
#include "FakeTable.h"
#include "Guid.h"
#include "AnswerCases.h"
#include "MessageRecorder.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "RecordingPort.h"
#include "ScriptedInteraction.h"
#include "TestSupport.h"
#include "TypeNames.h"
#include "lib.h"

namespace kestrin::test {
namespace {

const std::string kDisk0 = "\\\\.\\PhysicalDrive0";
constexpr std::int64_t kMb = 1048576;

struct SlotSpec {
  std::int64_t offset = 0;
  std::int64_t length = 0;
  std::uint8_t type = 0;
  bool boot = false;
};

LayoutBuffer MbrLayout(const std::vector<SlotSpec>& slots, std::uint32_t signature = 0x11223344) {
  LayoutBuffer layout;
  layout.setPartitionStyle(kStyleMbr);
  layout.setPartitionCount(static_cast<std::uint32_t>(slots.size()));
  layout.setMbrSignature(signature);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    LayoutSlot slot = layout.slot(static_cast<int>(i + 1));
    slot.setStyle(kStyleMbr);
    slot.setStartingOffset(slots[i].offset);
    slot.setPartitionLength(slots[i].length);
    slot.setPartitionNumber(slots[i].type != 0 ? static_cast<std::uint32_t>(i + 1) : 0);
    slot.setMbrPartitionType(slots[i].type);
    slot.setMbrBootIndicator(slots[i].boot);
  }
  return layout;
}

LayoutBuffer GptLayout(int count) {
  LayoutBuffer layout;
  layout.setPartitionStyle(kStyleGpt);
  layout.setPartitionCount(static_cast<std::uint32_t>(count));
  for (int i = 1; i <= count; ++i) {
    LayoutSlot slot = layout.slot(i);
    slot.setStyle(kStyleGpt);
    slot.setStartingOffset(i * kMb);
    slot.setPartitionLength(kMb);
    slot.setPartitionNumber(static_cast<std::uint32_t>(i));
    slot.setGptPartitionType(StringToGuid("{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}"));
  }
  return layout;
}

ViewRow Row(std::string number, std::vector<std::string> cells = {}) {
  return ViewRow{std::move(number), std::move(cells)};
}

// The commands with a script for the user, a table and a message sink that
// log into one list.
class EditorCommandsFixture : public ::testing::Test {
 protected:
  ScriptedInteraction ui;
  Log& log = ui.log;
  EditorState state;
  FakeTable table{&log};
  MessageRecorder sink{&log};
  ScopedMessageSink sinkInstalled{sink};
  EditorCommands commands{state, table, ui};
};

// The commands over a RecordingPort's in-memory disk.
class EditorCommandsOnMemory : public EditorCommandsFixture {
 protected:
  void useMbr(const std::vector<SlotSpec>& slots) {
    port.layout = MbrLayout(slots);
    state.view.diskStyle = kStyleMbr;
  }
  void useGpt(int count) {
    port.layout = GptLayout(count);
    state.view.diskStyle = kStyleGpt;
  }
  void useStyle(AnswerStyle style) {
    state.view.diskStyle = style == AnswerStyle::Mbr ? kStyleMbr : style == AnswerStyle::Gpt ? kStyleGpt : kStyleRaw;
  }
  // Two entries of type 7 (MBR) or basic data (GPT), the second selected,
  // as the answer tables expect them.
  void useTwoEntries(AnswerStyle style) {
    if (style == AnswerStyle::Mbr) {
      useMbr({{kMb, 10 * kMb, 7}, {11 * kMb, kMb, 7}});
      rowsSelecting(2, 1);
    } else {
      useGpt(2);
      rowsSelecting(4, 1);
    }
  }
  // Rows as the view shows them: `count` rows, one selected.
  void rowsSelecting(int count, int selected) {
    table.rows.assign(static_cast<std::size_t>(count), Row("1", {"0", "0"}));
    table.selected = selected;
  }

  bool wroteLayout() const { return !port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).empty(); }
  ConstLayoutSlot slot(int entry) const { return std::as_const(port.layout).slot(entry); }
  std::size_t count(const std::string& entry) const {
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), entry));
  }

  RecordingPort port;
  ScopedPort installed{port};
};

// --- refusals, selection and entry numbers ---

TEST_F(EditorCommandsOnMemory, StyleBoundCommandsRefuseTheOtherStyleAndRawWithTheirMessageOnly) {
  rowsSelecting(4, 0);
  for (const StyleRefusal& c : kStyleRefusals) {
    for (AnswerStyle style : RefusedOn(c)) {
      if (c.click == nullptr) continue;
      log.clear();
      useStyle(style);
      (commands.*c.click)();
      EXPECT_EQ(log, Log{std::string("message:") + c.message}) << "style " << state.view.diskStyle;
    }
  }
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(EditorCommandsOnMemory, EntryCommandsWithoutSelectionEndSilently) {
  rowsSelecting(4, -1);
  for (std::uint32_t style : {kStyleMbr, kStyleGpt}) {
    state.view.diskStyle = style;
    commands.CreatePartition1Click();
    commands.DeletePa1Click();
    if (style == kStyleMbr) {
      commands.ChangePartition1Click();
      commands.ChangePartitionBootMBR1Click();
      commands.SetasPartitionNumber11Click();
    } else {
      commands.ChangePartitionTypeGPT1Click();
      commands.ChangePartitionAttributesGPT1Click();
    }
  }
  EXPECT_TRUE(log.empty()) << log.front();
  EXPECT_TRUE(port.calls.empty());
}

TEST_F(EditorCommandsOnMemory, AnEntryNumberThatWrapsToZeroIsRefusedExceptBySetAsNumberOne) {
  // Index 255 + 1 is 0 in eight bits.
  useMbr({{kMb, kMb, 7}});
  rowsSelecting(256, 255);
  for (auto command : {&EditorCommands::CreatePartition1Click, &EditorCommands::DeletePa1Click,
                       &EditorCommands::ChangePartition1Click, &EditorCommands::ChangePartitionBootMBR1Click}) {
    log.clear();
    (commands.*command)();
    EXPECT_EQ(log, Log{"message:not a valid part number"});
  }
  state.view.diskStyle = kStyleGpt;
  for (auto command :
       {&EditorCommands::ChangePartitionTypeGPT1Click, &EditorCommands::ChangePartitionAttributesGPT1Click}) {
    log.clear();
    (commands.*command)();
    EXPECT_EQ(log, Log{"message:not a valid part number"});
  }
  EXPECT_TRUE(port.calls.empty());

  // Set as Partition Number 1 asks about entry #0 and leaves the judgement to
  // the operation, which refuses it; the disk is still taken offline and
  // online and the table redrawn.
  state.view.diskStyle = kStyleMbr;
  log.clear();
  commands.SetasPartitionNumber11Click();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "confirm:Modify entry #0 for " + kDisk0 + "?");
  EXPECT_EQ(log[1].rfind("sink:", 0), 0u);
  EXPECT_FALSE(wroteLayout());
  EXPECT_EQ(port.requests(IOCTL_DISK_SET_DISK_ATTRIBUTES).size(), 2u);
  EXPECT_EQ(log.back(), "refresh");
}

// --- Delete Partition ---

TEST_F(EditorCommandsOnMemory, DeletePartitionClearsTheSelectedSlotOfEitherStyleThenWaitsAndRedraws) {
  useMbr({{kMb, 10 * kMb, 7}, {11 * kMb, 10 * kMb, 0x0B}, {}, {}});
  rowsSelecting(4, 1);
  commands.DeletePa1Click();
  EXPECT_EQ(log, (Log{"confirm:Delete entry #2 for " + kDisk0 + "?", "sleep:100", "refresh"}));
  EXPECT_EQ(slot(2).mbrPartitionType(), 0);
  EXPECT_EQ(slot(2).partitionLength(), 0);
  EXPECT_EQ(slot(1).mbrPartitionType(), 7);

  log.clear();
  useGpt(3);
  rowsSelecting(4, 2);
  commands.DeletePa1Click();
  EXPECT_EQ(log, (Log{"confirm:Delete entry #3 for " + kDisk0 + "?", "sleep:100", "refresh"}));
  EXPECT_TRUE(slot(3).gptPartitionType().isNull());
  EXPECT_FALSE(slot(2).gptPartitionType().isNull());
}

// A create over an entry in use first asks, plainly, whether to replace it,
// naming it; No, the default, writes nothing. Delete and make-first refuse
// an empty MBR slot before they ask anything.
TEST_F(EditorCommandsOnMemory, ReplacingAnEntryIsAskedFirstAndEmptyMbrSlotsAreNoPartNumbers) {
  useMbr({{kMb, 10 * kMb, 0x83}, {}, {}, {}});
  table.rows = LayoutRows(port.layout);
  table.selected = 0;
  ui.createAnswer = CreatePartitionDialogResult{false, "4", "1048576", "FAT32"};
  const std::string question = "confirmDefaultNo:Entry #1 holds partition 1 (offset 1048576, 10485760 bytes, type " +
                               MbrTypeText(0x83) + "). Write the new entry over it?";
  EXPECT_EQ(commands.CreatePartition1Click(), CommandOutcome::Cancelled);
  EXPECT_EQ(log, (Log{"createDialog", question}));
  EXPECT_FALSE(wroteLayout());
  ui.replaceAnswer = true;
  log.clear();
  EXPECT_EQ(commands.CreatePartition1Click(), CommandOutcome::Done);
  EXPECT_EQ(log, (Log{"createDialog", question, "confirm:Create entry #1 for " + kDisk0 + "?", "sleep:100", "refresh"}));
  EXPECT_EQ(slot(1).mbrPartitionType(), 0x0B);

  table.selected = 1;
  for (auto command : {&EditorCommands::DeletePa1Click, &EditorCommands::SetasPartitionNumber11Click}) {
    log.clear();
    port.calls.clear();
    EXPECT_EQ((commands.*command)(), CommandOutcome::Refused);
    EXPECT_EQ(log, Log{"message:not a valid part number"});
    EXPECT_TRUE(port.calls.empty());
  }
  // An empty row asks nothing more than the create's confirmation.
  log.clear();
  commands.CreatePartition1Click();
  EXPECT_EQ(log.at(1), "confirm:Create entry #2 for " + kDisk0 + "?");
}

TEST_F(EditorCommandsOnMemory, AnsweringNoWritesNothingAndDoesNotRedraw) {
  ui.confirmAnswer = false;
  ui.styleAnswer = 1;
  for (const CancelledQuestion& c : kCancelledQuestions) {
    useTwoEntries(c.command.style);
    log.clear();
    ui.promptAnswer = ui.typeAnswer = c.answer;
    EXPECT_EQ((commands.*c.command.click)(), CommandOutcome::Cancelled) << c.command.question;
    EXPECT_EQ(count("confirm:" + c.command.question), 1u) << c.command.cli[0];
    EXPECT_EQ(count("refresh"), 0u) << c.command.cli[0];
  }
  EXPECT_TRUE(port.calls.empty());
}

// --- the answers every front end takes alike ---

// Each answer on entry 2 of an MBR disk, then of a GPT disk: written and
// redrawn, or refused with its message (a conversion error before the
// question reaches the window's error report) and nothing sent to the
// disk. Entry 1 keeps what it held.
TEST_F(EditorCommandsOnMemory, AnswersAreWrittenOrRefusedAsKestrinCliTakesThem) {
  auto value = [&](Written field) -> std::string {
    switch (field) {
      case Written::BootFlag: return std::to_string(slot(2).mbrBootIndicator());
      case Written::DiskId: return std::to_string(port.layout.mbrSignature());
      case Written::Attributes: return std::to_string(slot(2).gptAttributes());
      case Written::MbrType: return std::to_string(slot(2).mbrPartitionType());
      case Written::GptType: return GuidToString(slot(2).gptPartitionType());
      case Written::Nothing: break;
    }
    return {};
  };
  auto first = [&] {
    return std::make_tuple(slot(1).startingOffset(), slot(1).partitionLength(), slot(1).mbrPartitionType(),
                           slot(1).mbrBootIndicator(), GuidToString(slot(1).gptPartitionType()), slot(1).gptAttributes());
  };
  useTwoEntries(AnswerStyle::Mbr);
  auto entryOne = first();
  for (const AnswerCase& c : AnswerCases()) {
    const AnswerCommand& command = c.command;
    if (command.style == AnswerStyle::Gpt && state.view.diskStyle != kStyleGpt) {
      EXPECT_EQ(first(), entryOne) << "MBR";
      useTwoEntries(AnswerStyle::Gpt);
      entryOne = first();
    }
    SCOPED_TRACE("answer '" + c.answer + "'");
    log.clear();
    port.calls.clear();
    ui.promptAnswer = ui.typeAnswer = c.answer;
    const std::string before = value(command.field);
    std::string raised;
    try {
      (commands.*command.click)();
    } catch (const ConversionError& error) {
      raised = error.what();
    }
    const std::string asked = "confirm:" + command.question;
    if (c.refusal.empty()) {
      const std::string expected = command.field == Written::GptType ? "{" + c.guid + "}" : std::to_string(c.number);
      EXPECT_NE(before, expected) << "the answer would write what the disk holds";
      EXPECT_EQ(value(command.field), expected);
      EXPECT_EQ(log, (Log{command.windowAsks, asked, "sleep:100", "refresh"}));
      EXPECT_EQ(raised, "");
      continue;
    }
    if (c.beforeQuestion) {
      EXPECT_EQ(raised, c.silentInWindow ? "" : c.refusal);
      EXPECT_EQ(log, Log{command.windowAsks});
    } else {
      EXPECT_EQ(raised, "");
      EXPECT_EQ(log, (Log{command.windowAsks, asked, "message:" + c.refusal}));
    }
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(value(command.field), before);
  }
  EXPECT_EQ(first(), entryOne) << "GPT";
}

// --- Change Partition Type ---

TEST_F(EditorCommandsOnMemory, ChangeTypeOffersTheNamesOfTheDisksStyle) {
  useTwoEntries(AnswerStyle::Mbr);
  commands.ChangePartition1Click();
  ASSERT_TRUE(ui.typeList.has_value());
  EXPECT_EQ(ui.typeList->items, ChangeTypeListMbr().items);
  EXPECT_EQ(ui.typeList->items.at(static_cast<std::size_t>(ui.typeList->preselected)), "EXTENDED");
  useTwoEntries(AnswerStyle::Gpt);
  ui.typeList.reset();
  commands.ChangePartitionTypeGPT1Click();
  ASSERT_TRUE(ui.typeList.has_value());
  EXPECT_EQ(ui.typeList->items, ChangeTypeListGpt().items);
  EXPECT_EQ(ui.typeList->items.at(static_cast<std::size_t>(ui.typeList->preselected)), "BASIC_DATA_GUID");
  EXPECT_EQ(log, (Log{"typeDialog", "typeDialog"}));
  EXPECT_TRUE(port.calls.empty());
}

// kestrin-cli takes "linux" as sfdisk names it; the window knows no such name.
TEST_F(EditorCommandsOnMemory, ChangeTypeMbrNamesATypedTextThatIsNone) {
  useMbr({{kMb, 10 * kMb, 0x83}});
  rowsSelecting(1, 0);
  ui.typeAnswer = "linux";
  commands.ChangePartition1Click();
  EXPECT_EQ(log.back(), "message:" + IntegerConversionMessage("linux"));
  EXPECT_EQ(slot(1).mbrPartitionType(), 0x83);
}

TEST_F(EditorCommandsOnMemory, CancelInADialogOrPromptEndsTheCommandBeforeAnyQuestion) {
  useMbr({{kMb, 10 * kMb, 7}});
  rowsSelecting(1, 0);
  commands.ChangePartition1Click();         // typeAnswer nullopt
  commands.ChangePartitionBootMBR1Click();  // promptAnswer nullopt
  commands.ChangeDiskID1Click();
  commands.CreatePartition1Click();  // createAnswer nullopt
  commands.CreateDisk1Click();       // styleAnswer nullopt
  state.view.diskStyle = kStyleGpt;
  commands.ChangePartitionTypeGPT1Click();
  commands.ChangePartitionAttributesGPT1Click();
  commands.SelectanotherDISK1Click();
  for (const std::string& entry : log) {
    EXPECT_EQ(entry.rfind("confirm:", 0), std::string::npos) << entry;
    EXPECT_NE(entry, "refresh");
  }
  EXPECT_EQ(state.diskPath, kDisk0);
  EXPECT_FALSE(wroteLayout());
}

// --- Set as Partition Number 1 (MBR) ---

TEST_F(EditorCommandsOnMemory, SetAsNumberOneExchangesTheSlotsThenCyclesTheDiskOfflineAndOnline) {
  useMbr({{kMb, 10 * kMb, 7}, {11 * kMb, 5 * kMb, 0x0B}, {}});
  rowsSelecting(3, 1);
  commands.SetasPartitionNumber11Click();
  EXPECT_EQ(log, (Log{"confirm:Modify entry #2 for " + kDisk0 + "?", "sleep:50", "sleep:50", "sleep:50", "refresh"}));
  EXPECT_EQ(slot(1).mbrPartitionType(), 0x0B);
  EXPECT_EQ(slot(2).mbrPartitionType(), 7);
  std::vector<PortCall> attributes = port.requests(IOCTL_DISK_SET_DISK_ATTRIBUTES);
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(readLe64(attributes[0].input, 8), 1u);  // offline ...
  EXPECT_EQ(readLe64(attributes[0].input, 16), 1u);
  EXPECT_EQ(readLe64(attributes[1].input, 8), 0u);  // ... and online again
  EXPECT_EQ(readLe64(attributes[1].input, 16), 1u);
  EXPECT_EQ(port.attributes, 0u);
}

// --- Change Partition Type (GPT) ---

TEST_F(EditorCommandsOnMemory, ChangeTypeGptWithAnUnknownNameNeverWritesTheUnusedType) {
  useGpt(2);
  rowsSelecting(4, 0);
  for (const char* typed : {"Linux", "basic_data_guid", ""}) {
    log.clear();
    ui.typeAnswer = typed;
    commands.ChangePartitionTypeGPT1Click();
    EXPECT_EQ(log.back(), "message:'" + std::string(typed) + "' n'est pas une valeur GUID correcte");
    EXPECT_EQ(count("refresh"), 0u);
  }
  // Checked before the disk is even opened.
  EXPECT_TRUE(port.calls.empty());
  EXPECT_FALSE(slot(1).gptPartitionType().isNull());
}

// --- Create Disk and Delete Disk Layout ---

TEST_F(EditorCommandsOnMemory, CreateDiskSendsTheChosenStyleAndRedrawsWhateverTheOutcome) {
  ui.styleAnswer = 1;
  commands.CreateDisk1Click();
  EXPECT_EQ(log, (Log{"styleDialog", "confirm:Create Disk on " + kDisk0 + "?", "outcome:IOCTL_DISK_CREATE_DISK Ok",
                      "sleep:100", "refresh"}));
  std::vector<PortCall> created = port.requests(IOCTL_DISK_CREATE_DISK);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(readLe32(created[0].input, 0), 1u);

  log.clear();
  port.failRequest(IOCTL_DISK_CREATE_DISK, ERROR_WRITE_PROTECT);
  ui.styleAnswer = 2;
  EXPECT_EQ(commands.CreateDisk1Click(), CommandOutcome::Failed);
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[2].rfind("sink:IOCTL_DISK_CREATE_DISK failed:", 0), 0u) << log[2];
  EXPECT_EQ(log[3], "outcome:IOCTL_DISK_CREATE_DISK Failed");
  EXPECT_EQ(log[4], "sleep:100");
  EXPECT_EQ(log[5], "refresh");
}

TEST_F(EditorCommandsOnMemory, CreateDiskAsksAboutTheWholePathButDeleteLayoutUsesItsFirstWord) {
  state.diskPath = kDisk0 + " (image)";
  ui.styleAnswer = 0;
  commands.CreateDisk1Click();
  EXPECT_EQ(log.at(1), "confirm:Create Disk on " + kDisk0 + " (image)?");
  log.clear();
  port.calls.clear();
  EXPECT_EQ(commands.DeleteDriveLayout1Click(), CommandOutcome::Done);
  EXPECT_EQ(log, (Log{"confirm:Delete Drive Layout for " + kDisk0 + "?", "outcome:DELETE_DRIVE_LAYOUT Ok", "sleep:100",
                      "refresh"}));
  ASSERT_FALSE(port.calls.empty());
  EXPECT_EQ(port.calls.front().path, kDisk0);
  EXPECT_EQ(port.requests(IOCTL_DISK_DELETE_DRIVE_LAYOUT).size(), 1u);
}

TEST_F(EditorCommandsOnMemory, DeleteLayoutShowsItsRaisedErrorThenStillRedraws) {
  port.failRequest(IOCTL_DISK_DELETE_DRIVE_LAYOUT, ERROR_ACCESS_DENIED);
  EXPECT_EQ(commands.DeleteDriveLayout1Click(), CommandOutcome::Failed);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "message:IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:Test error 5");
  EXPECT_EQ(log[2], "sleep:100");
  EXPECT_EQ(log[3], "refresh");
}

// --- Create Partition: the proposal ---

class CreatePartitionProposal : public EditorCommandsOnMemory {
 protected:
  // An MBR table: row 1 an entry at 1 MiB of 100 MiB, rows 2 to 4 empty.
  void mbrTable() {
    state.view.diskStyle = kStyleMbr;
    table.rows = {Row("1", {"1048576", "104857600", "2048", "(0x07) x", "False"}),
                  Row("0", {"0", "0", "0", "t", "False"}), Row("0", {"0", "0", "0", "t", "False"}),
                  Row("0", {"0", "0", "0", "t", "False"})};
  }
  CreatePartitionDialogInput proposalFor(int selected) {
    table.selected = selected;
    ui.createInput.reset();
    commands.CreatePartition1Click();  // the dialog is cancelled
    EXPECT_TRUE(ui.createInput.has_value());
    return ui.createInput.value_or(CreatePartitionDialogInput{});
  }
};

TEST_F(CreatePartitionProposal, FollowsTheEntryAboveOrAnEmptySlotAboveOnMbr) {
  port.length = 1000 * kMb + 12345;
  mbrTable();
  CreatePartitionDialogInput input = proposalFor(1);
  EXPECT_EQ(input.offsetText, "105906176");
  EXPECT_EQ(input.sizeText, std::to_string((1000 * kMb + 12345 - 105906176) / kMb));
  EXPECT_EQ(input.types.items, CreatePartitionTypeList(kStyleMbr).items);
  EXPECT_EQ(input.types.items.at(static_cast<std::size_t>(input.types.preselected)), "IFS");

  EXPECT_EQ(proposalFor(2).offsetText, "65536");  // row 2's offset 0 + 65536
  EXPECT_EQ(proposalFor(0).offsetText, "1048576");
}

TEST_F(CreatePartitionProposal, AnUnreadableDiskLengthGivesANegativeOrZeroSize) {
  port.failRequest(IOCTL_DISK_GET_LENGTH_INFO, ERROR_NOT_READY);
  mbrTable();
  EXPECT_EQ(proposalFor(0).sizeText, "-1");  // (0 - 1048576) / 1048576
  EXPECT_EQ(proposalFor(2).sizeText, "0");   // (0 - 65536) / 1048576 truncates toward zero
}

TEST_F(CreatePartitionProposal, FillerRowsAboveGiveTheGptDefaultOffset) {
  port.length = 64 * kMb;
  state.view.diskStyle = kStyleGpt;
  table.rows = {Row("1", {"1048576", "2097152", "", " PARTITION_BASIC_DATA_GUID", "", "0x0000000000000000"}), Row("0"),
                Row("0"), Row("0")};
  CreatePartitionDialogInput input = proposalFor(1);
  EXPECT_EQ(input.offsetText, "3145728");
  EXPECT_EQ(input.sizeText, "61");
  EXPECT_EQ(input.types.items, CreatePartitionTypeList(kStyleGpt).items);
  EXPECT_EQ(input.types.items.at(static_cast<std::size_t>(input.types.preselected)), "BASIC_DATA_GUID");
  // A filler row above has no cells to read: the offset stays 65536.
  EXPECT_EQ(proposalFor(2).offsetText, "65536");
  EXPECT_EQ(proposalFor(3).offsetText, "65536");
}

TEST_F(CreatePartitionProposal, GptSizeEndsWhereTheUsableAreaEndsNotAtTheBackupTable) {
  port.length = 64 * kMb;
  useGpt(1);  // entry 1 at 1 MiB, 1 MiB long
  port.layout.setGptStartingUsableOffset(34 * 512);
  port.layout.setGptUsableLength(64 * kMb - 67 * 512);  // 33 sectors of backup table behind it
  table.rows = {Row("1", {"1048576", "1048576"}), Row("0"), Row("0"), Row("0")};
  EXPECT_EQ(proposalFor(1).sizeText, "61");  // (64 MiB - 33 sectors - 2 MiB) / 1 MiB, rounded down
  port.layout.setGptUsableLength(kMb);
  EXPECT_EQ(proposalFor(1).sizeText, "0");  // the usable area ends before the offset
  port.failRequest(IOCTL_DISK_GET_DRIVE_LAYOUT_EX, ERROR_NOT_READY);
  EXPECT_EQ(proposalFor(1).sizeText, "0");  // the dialog's own text
}

TEST_F(CreatePartitionProposal, CellsThatDoNotConvertLeaveTheDefaultOffset) {
  port.length = 64 * kMb;
  state.view.diskStyle = kStyleMbr;
  table.rows = {Row("1", {"12abc", "5"}), Row("0", {"0", "0"})};
  EXPECT_EQ(proposalFor(1).offsetText, "1048576");
  EXPECT_EQ(proposalFor(1).sizeText, "63");
}

// --- Create Partition: the command ---

TEST_F(EditorCommandsOnMemory, CreatePartitionMbrWritesExactlyTheAnsweredEntry) {
  useMbr({{kMb, 100 * kMb, 7}, {}, {}, {}});
  port.length = 1000 * kMb;
  rowsSelecting(4, 1);
  ui.createAnswer = CreatePartitionDialogResult{true, "20", "$6500000", "FAT32"};
  commands.CreatePartition1Click();
  EXPECT_EQ(log, (Log{"createDialog", "confirm:Create entry #2 for " + kDisk0 + "?", "sleep:100", "refresh"}));
  EXPECT_EQ(slot(2).startingOffset(), 0x6500000);
  EXPECT_EQ(slot(2).partitionLength(), 20 * kMb);
  EXPECT_EQ(slot(2).mbrPartitionType(), 0x0B);
  EXPECT_EQ(slot(2).mbrBootIndicator(), 1);
  EXPECT_EQ(slot(1).partitionLength(), 100 * kMb);
}

TEST_F(EditorCommandsOnMemory, CreatePartitionOnAnEmptyRawTableUsesEntryOneAndRefusesTheMissingType) {
  port.layout.setPartitionStyle(kStyleRaw);
  state.view.diskStyle = kStyleRaw;
  table.rows.clear();
  ui.createAnswer = CreatePartitionDialogResult{false, "10", "65536", "BASIC_DATA_GUID"};
  commands.CreatePartition1Click();
  ASSERT_TRUE(ui.createInput.has_value());
  EXPECT_EQ(ui.createInput->offsetText, "65536");
  EXPECT_EQ(ui.createInput->types.items, CreatePartitionTypeList(kStyleGpt).items);
  EXPECT_EQ(log.at(1), "confirm:Create entry #1 for " + kDisk0 + "?");
  EXPECT_EQ(log.back(), "message:'BASIC_DATA_GUID' n'est pas une valeur GUID correcte");
  EXPECT_EQ(count("refresh"), 0u);
  EXPECT_FALSE(wroteLayout());
}

TEST_F(EditorCommandsOnMemory, CreatePartitionMbrTakesATypedCodeButNoByteBeyond255) {
  useMbr({{}, {}, {}, {}});
  rowsSelecting(4, 0);
  ui.createAnswer = CreatePartitionDialogResult{false, "10", "1048576", "300"};
  commands.CreatePartition1Click();
  EXPECT_EQ(log.back(), "message:'300' is no MBR type byte (0 to 255)");
  EXPECT_FALSE(wroteLayout());
  ui.createAnswer = CreatePartitionDialogResult{false, "10", "1048576", "130"};
  commands.CreatePartition1Click();
  EXPECT_EQ(slot(1).mbrPartitionType(), 130);
}

TEST_F(EditorCommandsOnMemory, CreatePartitionRaisesBadSizeOrOffsetTextBeforeAsking) {
  useMbr({{}, {}, {}, {}});
  rowsSelecting(4, 0);
  struct Case {
    const char* size;
    const char* offset;
    const char* named;
  };
  for (Case c : {Case{"ten", "1048576", "ten"}, Case{"10", "1M", "1M"}, Case{"x", "y", "x"}}) {
    log.clear();
    port.calls.clear();
    ui.createAnswer = CreatePartitionDialogResult{false, c.size, c.offset, "IFS"};
    EXPECT_EQ(ErrorOf<ConversionError>([&] { commands.CreatePartition1Click(); }), IntegerConversionMessage(c.named))
        << c.size << " / " << c.offset;
    EXPECT_EQ(log, Log{"createDialog"});
    EXPECT_FALSE(wroteLayout());
  }
}

TEST_F(EditorCommandsOnMemory, CreatePartitionRefusesASizeWhoseByteCountDoesNotFitOrIsNegative) {
  useMbr({{}, {}, {}, {}});
  rowsSelecting(4, 0);
  const std::int64_t largest = std::numeric_limits<std::int64_t>::max() >> 20;
  for (std::string size : {std::to_string(largest + 1), std::string("$7FFFFFFFFFFFFFFF"), std::string("-1"),
                           std::string("$FFFFFFFFFFFFFFFF")}) {
    log.clear();
    ui.createAnswer = CreatePartitionDialogResult{false, size, "1048576", "IFS"};
    std::string error = ErrorOf<KestrinError>([&] { commands.CreatePartition1Click(); });
    EXPECT_NE(error.find("'" + size + "'"), std::string::npos) << "size " << size << ": " << error;
    EXPECT_EQ(log, Log{"createDialog"});
  }
  EXPECT_FALSE(wroteLayout());

  // The largest size that fits is passed on unchanged.
  ui.createAnswer = CreatePartitionDialogResult{false, std::to_string(largest), "1048576", "IFS"};
  commands.CreatePartition1Click();
  EXPECT_EQ(slot(1).partitionLength(), largest << 20);
}

// --- Refresh and Select another DISK ---

TEST_F(EditorCommandsOnMemory, SelectAnotherDiskRedrawsAtOnceThenSetsTheCaption) {
  ui.chooserAnswer = "3";
  commands.SelectanotherDISK1Click();
  EXPECT_EQ(state.diskPath, "\\\\.\\PhysicalDrive3");
  EXPECT_EQ(log, (Log{"chooser", "refresh", "caption:Kestrin 0.1 - \\\\.\\PhysicalDrive3"}));

  log.clear();
  ui.chooserAnswer.reset();
  commands.SelectanotherDISK1Click();
  EXPECT_EQ(log, Log{"chooser"});
  EXPECT_EQ(state.diskPath, "\\\\.\\PhysicalDrive3");

  log.clear();
  commands.Refresh1Click();
  EXPECT_EQ(log, Log{"refresh"});
  EXPECT_TRUE(port.calls.empty());
}

// --- through the disk stack, on images the peers made and read back ---

class EditorCommandsOnImage : public EditorCommandsFixture {
 protected:
  EditorCommandsOnImage() { table.redrawFrom = &state; }

  void attach(const std::string& image) {
    port = std::make_unique<EmulatedPort>(DiskMap{DiskSpec{image, 0}});
    installed = std::make_unique<ScopedPort>(*port);
    table.refresh();
    log.clear();
  }

  TempDir dir;
  std::unique_ptr<EmulatedPort> port;
  std::unique_ptr<ScopedPort> installed;
};

TEST_F(EditorCommandsOnImage, CreatePartitionAtTheProposedPlaceLandsWhereSfdiskSeesIt) {
  std::string image = dir.file("mbr.img");
  ASSERT_EQ(MakeSfdiskImage(image, 64 * kMb, "label: dos\nstart=2048, size=20480, type=83\n"), "");
  attach(image);
  ASSERT_EQ(table.rows.size(), 4u);
  table.selected = 1;
  ui.createAnswer.reset();
  commands.CreatePartition1Click();
  ASSERT_TRUE(ui.createInput.has_value());
  EXPECT_EQ(ui.createInput->offsetText, std::to_string((2048 + 20480) * 512));
  EXPECT_EQ(ui.createInput->sizeText, std::to_string((64 * kMb - (2048 + 20480) * 512) / kMb));

  ui.createAnswer = CreatePartitionDialogResult{true, "8", ui.createInput->offsetText, "FAT32"};
  commands.CreatePartition1Click();
  PeerTable peers = SfdiskDump(image);
  ASSERT_TRUE(peers.ok) << peers.error;
  ASSERT_EQ(peers.partitions.size(), 2u);
  EXPECT_EQ(peers.partitions[1].number, 2);
  EXPECT_EQ(peers.partitions[1].start, 2048u + 20480u);
  EXPECT_EQ(peers.partitions[1].size, 8u * 2048u);
  EXPECT_EQ(peers.partitions[1].mbrType(), 0x0B);
  EXPECT_TRUE(peers.partitions[1].bootable);
  EXPECT_FALSE(peers.partitions[0].bootable);
  // The table was redrawn from the disk.
  ASSERT_GE(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[1].number, "2");
  EXPECT_EQ(table.rows[1].cells.at(0), std::to_string((2048 + 20480) * 512));
  EXPECT_EQ(table.status, "Style: MBR, Count=4");
}

// Each command of the image table on a fresh image of its style, answered
// and confirmed as kestrin-cli's are: the table is redrawn from the disk,
// and the peers read what was meant.
TEST_F(EditorCommandsOnImage, CommandsWriteWhatThePeersReadAsKestrinCliDoes) {
  for (const ImageCase& c : ImageCases()) {
    SCOPED_TRACE(c.command.cli[0] + " " + c.answer);
    const bool gpt = c.command.style == AnswerStyle::Gpt;
    const std::string image = dir.file(gpt ? "gpt.img" : "mbr.img");
    installed.reset();
    ASSERT_EQ(MakeSfdiskImage(image, kAnswerImageSize, gpt ? kAnswerGptScript : kAnswerMbrScript), "");
    attach(image);
    table.selected = 1;
    ui.promptAnswer = ui.typeAnswer = c.answer;
    ui.styleAnswer = c.answer == "mbr" ? 0 : 1;
    EXPECT_EQ((commands.*c.command.click)(), CommandOutcome::Done);
    c.peersSee(image);
    EXPECT_EQ(table.status, c.status);
    EXPECT_EQ(state.view.diskStyle == kStyleGpt, c.status.find("GPT") != std::string::npos);
    const PeerTable peer = SfdiskDump(image);
    if (!peer.partitions.empty()) {
      EXPECT_EQ(table.rows.at(0).cells.at(0), std::to_string(peer.partitions[0].start * 512));
    }
    const bool deleted = c.command.click == &EditorCommands::DeleteDriveLayout1Click;
    EXPECT_EQ(std::count(log.begin(), log.end(), "outcome:DELETE_DRIVE_LAYOUT Ok"), deleted ? 1 : 0);
  }
}

// A GPT type name that is not in the list changes nothing on the disk.
TEST_F(EditorCommandsOnImage, ChangeTypeGptWithANameNotInTheListLeavesTheImageAsItWas) {
  std::string image = dir.file("gpt.img");
  ASSERT_EQ(MakeSfdiskImage(image, kAnswerImageSize, kAnswerGptScript), "");
  attach(image);
  ASSERT_EQ(state.view.diskStyle, kStyleGpt);
  std::vector<std::uint8_t> before = ReadFileBytes(image);
  table.selected = 0;
  ui.typeAnswer = "LINUX_DATA";
  commands.ChangePartitionTypeGPT1Click();
  EXPECT_EQ(log.back(), "message:'LINUX_DATA' n'est pas une valeur GUID correcte");
  EXPECT_TRUE(ReadFileBytes(image) == before);
}

TEST_F(EditorCommandsOnImage, AGptWithRoomShowsARowAfterItsLastEntryWhereCreatePartitionAddsOne) {
  const std::vector<std::vector<std::string>> disks{
      {"-n1:2048:+2M", "-n2:0:+2M", "-n3:0:+2M", "-n4:0:+2M", "-n5:0:+2M"},
      {"-n1:2048:+2M", "-n2:0:+2M", "-n3:0:+2M", "-n5:0:+2M", "-n6:0:+2M"},  // partition 4 missing
      {"-S", "4", "-n1:2048:+2M", "-n2:0:+2M", "-n3:0:+2M", "-n4:0:+2M"},    // no room in the array
  };
  for (const std::vector<std::string>& made : disks) {
    const std::string image = dir.file("gpt.img");
    installed.reset();
    std::filesystem::remove(image);
    ASSERT_EQ(MakeSgdiskImage(image, 64 * kMb, made), "");
    const PeerTable before = SgdiskPrint(image);
    ASSERT_TRUE(before.ok) << before.text();
    attach(image);
    const std::size_t entries = before.partitions.size();
    const bool room = entries < before.entryCount;
    ASSERT_EQ(table.rows.size(), entries + (room ? 1 : 0)) << made.front();
    if (!room) continue;
    EXPECT_EQ(table.rows.back(), Row("0"));
    int free = 1;
    while (before.partition(free).number == free) ++free;
    const PeerPartition& last = before.partitions.back();
    table.selected = static_cast<int>(entries);
    ui.createAnswer =
        CreatePartitionDialogResult{false, "2", std::to_string((last.start + last.size) * 512), "BASIC_DATA_GUID"};
    commands.CreatePartition1Click();
    const PeerTable after = SgdiskPrint(image);
    ASSERT_EQ(after.partitions.size(), entries + 1) << after.text();
    EXPECT_EQ(after.partition(free).start, last.start + last.size);
    EXPECT_EQ(after.partition(free).size, 2u * 2048u);
    EXPECT_TRUE(SgdiskVerifies(image));
  }
}

}  // namespace
}  // namespace kestrin::test
