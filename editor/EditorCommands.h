#pragma once
// The editor commands of the main window's popup menu, without any widget:
// each turns the current selection and the user's answers into one call of a
// layout operation on the current disk, asks for confirmation first, and
// redraws afterwards. Every front end calls these: the windows' menu
// handlers, and the command line with a scripted Interaction.
//
// Errors that a command does not trap itself (the conversions Create
// Partition and Change Disk ID make outside their error trap) propagate to
// the caller, which reports them application-wide.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "EditorTable.h"
#include "Interaction.h"
#include "Placement.h"

namespace kestrin {

std::string WindowCaption(const std::string& diskPath);

// The size Create Partition proposes for a new entry at `offsetText` on
// `disk` of `style`, in whole MB (the quotient truncated): up to the end of
// the usable area on a GPT (never below 0), else up to the disk's end (an
// unreadable length, 0, gives a negative size). Throws when the layout
// cannot be read or the offset does not convert.
std::int64_t ProposedCreateSizeMb(const std::string& disk, std::uint32_t style, const std::string& offsetText);

// Where a new logical drive goes on `disk` (NewLogicalDrivePlace over the
// layout and the geometry read from it): from `offset` bytes when given,
// else the first free place; nullopt when there is none. Throws when the
// layout or the geometry cannot be read.
std::optional<NewEntryPlace> ProposedLogicalDrivePlace(const std::string& disk,
                                                       std::optional<std::int64_t> offset = std::nullopt);

// What a command came to, so that a caller never has to infer it.
enum class CommandOutcome {
  Done,       // its operation went through
  Cancelled,  // the user ended it (no selection, Cancel, No, an empty answer): nothing written
  Refused,    // refused before anything was asked or written: another style, no valid entry
  Failed,     // a conversion, the operation or the disk failed, its message shown: nothing, or not all, written
};

class EditorCommands {
 public:
  EditorCommands(EditorState& state, EditorTable& table, Interaction& ui) : m_state(state), m_table(table), m_ui(ui) {}

  CommandOutcome CreateDisk1Click();
  CommandOutcome DeleteDriveLayout1Click();
  CommandOutcome CreatePartition1Click();
  CommandOutcome DeletePa1Click();
  CommandOutcome ChangePartition1Click();
  CommandOutcome ChangePartitionBootMBR1Click();
  CommandOutcome ChangeDiskID1Click();
  CommandOutcome SetasPartitionNumber11Click();
  CommandOutcome ChangePartitionTypeGPT1Click();
  CommandOutcome ChangePartitionAttributesGPT1Click();
  // Not an item of the windows' menus: a new logical drive in the extended
  // partition of an MBR disk, in a group of slots appended behind the last
  // one (CreateLogicalDriveMBR), so every partition keeps its number. The
  // create dialog proposes the codec's first free place for it
  // (ProposedLogicalDrivePlace); its boot flag is not used. Refused with a
  // message on another style, without an extended partition, when the
  // record holds no further group, and when the dialog gives no offset.
  CommandOutcome CreateLogicalDrive();
  CommandOutcome Refresh1Click();
  CommandOutcome SelectanotherDISK1Click();

  // Commands beyond the window's menu, which the command line offers; each
  // asks, confirms ("Modify entry #k for <disk>?", "Resize entry #k for
  // <disk>?") and writes as the menu's commands do.
  // The GPT partition name: the prompt "Enter partition name", initially
  // empty; an empty name clears it, one of more than 36 UTF-16 code units is
  // refused before the question.
  CommandOutcome ChangePartitionNameGPT();
  // The size of a partition of either style, at the same start: the prompt
  // "Enter partition size (MB, or max)"; max reaches the next partition or
  // the end of the room the partition lies in (LargestLength, Placement.h),
  // worked out from the layout the write reads.
  CommandOutcome ChangePartitionSize();
  // One GPT attribute bit: the prompts "Enter attribute bit (0 to 63, or a
  // name)" and "Set or clear the bit (on or off)"; the other bits stay as
  // the disk holds them at the write.
  CommandOutcome ChangePartitionAttributeBitGPT();

 private:
  enum class ZeroEntry { Refuse, Allow };

  // Shows "MBR only" / "GPT only" and returns false when the disk on screen
  // is not of `style`.
  bool requireStyle(std::uint32_t style);
  // The selected row's entry number (index + 1 in 8 bits); nullopt without a
  // selection (silently) or, unless allowed, for the wrapped number 0 (with
  // "not a valid part number").
  std::optional<std::uint8_t> selectedEntry(ZeroEntry zero);
  // On an MBR disk, shows "not a valid part number" and returns false when
  // the selected row is an empty slot: deleting it or making it the first
  // one would move or change nothing the user meant (make-first moved
  // partition 1 into the empty slot, /dev/sdX1 becoming /dev/sdX3).
  bool requireMbrEntry();
  // "<verb> entry #<k> for <disk>?"
  std::string entryQuestion(const char* verb, std::uint8_t entry) const;
  // The command's error trap: an error raised by `step` is shown as a
  // message and goes no further. False when one was.
  bool trapped(const std::function<void()>& step);
  // Cancelled without a selection, Refused with one (the wrapped entry 0).
  CommandOutcome withoutEntry() const;
  // Done when the trap caught nothing and the operation wrote its change.
  static CommandOutcome operationOutcome(bool trappedCleanly, bool written);
  // Runs the write `operation` (true when it wrote) in the error trap, then
  // waits and redraws the table, as every command does after its write.
  CommandOutcome written(const std::function<bool()>& operation);
  void waitAndRefresh();
  // The partition number a GPT create on the selected row gives the new
  // entry: on a filler row whose entry number another partition has, the
  // lowest free number; else 0, the entry number.
  std::uint32_t fillerRowPartitionNumber(int selected, std::uint8_t entry) const;

  EditorState& m_state;
  EditorTable& m_table;
  Interaction& m_ui;
};

}  // namespace kestrin
