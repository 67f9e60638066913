#include "EditorCommands.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <limits>

#include "Convert.h"
#include "DiskLength.h"
#include "DiskOperations.h"
#include "DiskReaders.h"
#include "Errors.h"
#include "GptAttributeBits.h"
#include "GptOperations.h"
#include "Guid.h"
#include "LayoutQueries.h"
#include "MbrOperations.h"
#include "Placement.h"
#include "PortDisk.h"
#include "RefusalReasons.h"
#include "ResizeOperation.h"
#include "TypeNames.h"
#include "Utf16.h"

namespace kestrin {

namespace {

constexpr int kWaitAfterOperationMs = 100;
constexpr int kWaitBetweenOfflineStepsMs = 50;
constexpr int kSizeShift = 20;  // MB to bytes
constexpr std::int64_t kBytesPerMb = std::int64_t{1} << kSizeShift;
constexpr std::int64_t kMaxSizeMb = std::numeric_limits<std::int64_t>::max() >> kSizeShift;
constexpr std::int64_t kGapAfterEmptySlot = 65536;

constexpr const char* kMbrOnly = "MBR only";
constexpr const char* kGptOnly = "GPT only";
constexpr const char* kNotAValidPartNumber = "not a valid part number";
constexpr const char* kPromptCaption = "Brimvale";

constexpr const char* kMbrCreateOffset = "1048576";
constexpr const char* kGptCreateOffset = "65536";
constexpr const char* kDialogSize = "0";  // txtsize as the dialog's form has it

// Offsets and lengths are added as the system's 64-bit integers would be:
// wrapping, never undefined.
std::int64_t wrappingAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

std::int64_t wrappingSub(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

// The cell of a row as the table holds it; a cell the row does not carry
// (a filler row has none) is an error, like reading a missing sub-item.
const std::string& cellOf(const ViewRow& row, std::size_t index) {
  if (index >= row.cells.size()) throw KestrinError("row has no cell " + std::to_string(index));
  return row.cells[index];
}

// True when `row` shows an MBR slot of the unused type.
bool isEmptyMbrRow(const ViewRow& row) { return row.cells.size() > 3 && row.cells[3] == MbrTypeText(0); }

// True when `row` shows a slot that holds an entry: an MBR row of another
// type than the unused one, any GPT row but a filler row (the view lists
// only the used GPT entries).
bool rowHoldsEntry(const ViewRow& row, std::uint32_t style) {
  if (row.cells.size() < 2) return false;
  return style != kStyleMbr || (row.cells.size() > 3 && !isEmptyMbrRow(row));
}

// The size typed in MB, in bytes. Refuses what would not survive the shift:
// a negative size, or one whose byte count does not fit a signed 64-bit
// value (the shift would otherwise silently wrap into a different length).
std::int64_t sizeInBytes(const std::string& sizeText, std::int64_t sizeMb) {
  if (sizeMb < 0 || sizeMb > kMaxSizeMb) {
    throw KestrinError("'" + sizeText + "' is not a valid size in MB (0 to " + std::to_string(kMaxSizeMb) + ")");
  }
  return sizeMb << kSizeShift;
}

// The code of a type chosen or typed in a type box, as TypeNameToCode gives
// codes: one of the listed names of `style`; on an MBR disk else a type
// byte typed as a number (131, 0x83, $83), in decimal; elsewhere a type
// GUID typed with or without braces, in braces. Any other text comes back
// as it was typed, so that the conversion it then fails names it.
std::string typeCodeOf(std::uint32_t style, const std::string& text) {
  std::string code;
  if (TypeNameToCode(style, text, code)) return code;
  if (style == kStyleMbr) {
    std::optional<std::int32_t> number = TryStrToInt(text);
    if (number && *number >= 0 && *number <= std::numeric_limits<std::uint8_t>::max()) return std::to_string(*number);
    return text;
  }
  Guid guid;
  return TryGuidWithOrWithoutBraces(text, guid) ? GuidToString(guid) : text;
}

// The MBR type byte of `code`; a number outside one byte is refused rather
// than cut to its low byte.
std::uint8_t mbrTypeByte(const std::string& code) {
  const std::int32_t number = StrToInt(code);
  if (number < 0 || number > std::numeric_limits<std::uint8_t>::max()) {
    throw KestrinError(QuotedInput(code) + " is no MBR type byte (0 to 255)");
  }
  return static_cast<std::uint8_t>(number);
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// An answer to "on or off": on or off in any letter case, or a boolean as
// the window reads one.
bool switchOf(const std::string& text) {
  const std::string lower = lowered(text);
  if (lower == "on") return true;
  if (lower == "off") return false;
  return StrToBool(text);
}

// The attribute bit `text` names; an error naming the text when none.
unsigned attributeBitOf(const std::string& text) {
  if (std::optional<unsigned> bit = GptAttributeBit(text)) return *bit;
  std::string names;
  for (const GptAttributeName& named : GptAttributeNames()) names += std::string(", ") + std::string(named.name);
  throw KestrinError(QuotedInput(text) + " is no attribute bit: give 0 to 63 or a name (" + names.substr(2) + ")");
}

}  // namespace

std::string WindowCaption(const std::string& diskPath) { return "Kestrin 0.1 - " + diskPath; }

// The size proposed for a new entry at `offsetText`, in whole MB (the
// quotient truncated). On a GPT it runs to the end of the usable area, never
// below 0: the backup table lies behind that end, so an entry running to the
// disk's end could never be written. Elsewhere it runs to the disk's end,
// and an unreadable length (0) gives a negative size. Throws when the layout
// cannot be read or the offset does not convert.
std::int64_t ProposedCreateSizeMb(const std::string& disk, std::uint32_t style, const std::string& offsetText) {
  if (style == kStyleGpt) {
    LayoutBuffer layout;
    GetDriveLayout(disk, layout);
    if (layout.partitionStyle() == kStyleGpt) {
      std::int64_t usableEnd = wrappingAdd(layout.gptStartingUsableOffset(), layout.gptUsableLength());
      return std::max<std::int64_t>(0, wrappingSub(usableEnd, StrToInt64(offsetText)) / kBytesPerMb);
    }
  }
  return wrappingSub(GetDiskLengthByPath(disk), StrToInt64(offsetText)) / kBytesPerMb;
}

std::optional<NewEntryPlace> ProposedLogicalDrivePlace(const std::string& disk, std::optional<std::int64_t> offset) {
  LayoutBuffer layout;
  GetDriveLayout(disk, layout);
  PortDisk geometry(disk, PortDisk::Access::Read);
  if (!geometry.ok()) throw KestrinError(geometry.failure());
  return NewLogicalDrivePlace(layout, geometry.sectors().sectorSize(), offset);
}

// --- the steps every entry command shares ---

bool EditorCommands::requireStyle(std::uint32_t style) {
  if (m_state.view.diskStyle == style) return true;
  m_ui.message(style == kStyleMbr ? kMbrOnly : kGptOnly);
  return false;
}

std::optional<std::uint8_t> EditorCommands::selectedEntry(ZeroEntry zero) {
  int index = m_table.selectedIndex();
  if (index < 0) return std::nullopt;  // no selection: silently nothing
  auto entry = static_cast<std::uint8_t>(index + 1);
  if (entry == 0 && zero == ZeroEntry::Refuse) {
    m_ui.message(kNotAValidPartNumber);
    return std::nullopt;
  }
  return entry;
}

bool EditorCommands::requireMbrEntry() {
  const int selected = m_table.selectedIndex();
  if (m_state.view.diskStyle != kStyleMbr || selected >= m_table.rowCount() || !isEmptyMbrRow(m_table.row(selected))) {
    return true;
  }
  m_ui.message(kNotAValidPartNumber);
  return false;
}

std::string EditorCommands::entryQuestion(const char* verb, std::uint8_t entry) const {
  return std::string(verb) + " entry #" + std::to_string(entry) + " for " + FirstWord(m_state.diskPath) + "?";
}

bool EditorCommands::trapped(const std::function<void()>& step) {
  // A write the disk stack refuses names the codec's reasons in its message.
  CodecRefusalExplainer explainer;
  ScopedRefusalExplainer reasons(explainer);
  try {
    step();
    return true;
  } catch (const std::exception& error) {
    m_ui.message(error.what());
    return false;
  }
}

CommandOutcome EditorCommands::withoutEntry() const {
  return m_table.selectedIndex() < 0 ? CommandOutcome::Cancelled : CommandOutcome::Refused;
}

CommandOutcome EditorCommands::written(const std::function<bool()>& operation) {
  bool done = false;
  const bool clean = trapped([&] {
    done = operation();
    waitAndRefresh();
  });
  return operationOutcome(clean, done);
}

CommandOutcome EditorCommands::operationOutcome(bool trappedCleanly, bool written) {
  return trappedCleanly && written ? CommandOutcome::Done : CommandOutcome::Failed;
}

void EditorCommands::waitAndRefresh() {
  m_ui.sleep(kWaitAfterOperationMs);
  m_table.refresh();
}

std::uint32_t EditorCommands::fillerRowPartitionNumber(int selected, std::uint8_t entry) const {
  if (selected < 0 || selected >= m_table.rowCount() || !m_table.row(selected).cells.empty()) return 0;
  LayoutBuffer layout;
  GetDriveLayout(m_state.diskPath, layout);
  if (GptSlotOfPartition(layout, entry) == 0) return 0;
  return FirstFreeGptPartitionNumber(layout);
}

// --- whole-disk commands ---

CommandOutcome EditorCommands::CreateDisk1Click() {
  std::optional<int> style = m_ui.partitionStyleDialog();
  if (!style) return CommandOutcome::Cancelled;
  if (!m_ui.confirm("Create Disk on " + m_state.diskPath + "?")) return CommandOutcome::Cancelled;
  bool created = false;
  const bool clean = trapped([&] {
    created = CreateDisk(m_state.diskPath, static_cast<std::uint8_t>(*style));
    m_table.setOutcomeText(created ? "IOCTL_DISK_CREATE_DISK Ok" : "IOCTL_DISK_CREATE_DISK Failed");
  });
  // Redrawn whatever happened, so the table shows what the disk now holds.
  waitAndRefresh();
  return operationOutcome(clean, created);
}

CommandOutcome EditorCommands::DeleteDriveLayout1Click() {
  std::string disk = FirstWord(m_state.diskPath);
  if (!m_ui.confirm("Delete Drive Layout for " + disk + "?")) return CommandOutcome::Cancelled;
  const bool clean = trapped([&] {
    DeleteDriveLayout(disk);
    m_table.setOutcomeText("DELETE_DRIVE_LAYOUT Ok");
  });
  waitAndRefresh();
  return operationOutcome(clean, true);
}

// --- entry commands ---

CommandOutcome EditorCommands::CreatePartition1Click() {
  const int rows = m_table.rowCount();
  const int selected = m_table.selectedIndex();
  if (rows > 0 && selected < 0) return CommandOutcome::Cancelled;
  const auto entry = static_cast<std::uint8_t>(rows == 0 ? 1 : selected + 1);
  if (entry == 0) {
    m_ui.message(kNotAValidPartNumber);
    return CommandOutcome::Refused;
  }

  const std::uint32_t style = m_state.view.diskStyle;
  CreatePartitionDialogInput input{std::string(style == kStyleMbr ? kMbrCreateOffset : kGptCreateOffset),
                                   std::string(kDialogSize), CreatePartitionTypeList(style)};

  // The proposal is only a convenience: whatever cannot be read leaves the
  // field as it was.
  if (entry > 1) {
    try {
      ViewRow above = m_table.row(selected - 1);
      input.offsetText = std::to_string(wrappingAdd(StrToInt64(cellOf(above, 0)), StrToInt64(cellOf(above, 1))));
    } catch (const std::exception&) {
    }
  }
  if (selected > 0) {
    try {
      ViewRow above = m_table.row(selected - 1);
      if (above.number == "0") {
        input.offsetText = std::to_string(wrappingAdd(StrToInt64(cellOf(above, 0)), kGapAfterEmptySlot));
      }
    } catch (const std::exception&) {
    }
  }
  try {
    input.sizeText = std::to_string(ProposedCreateSizeMb(m_state.diskPath, style, input.offsetText));
  } catch (const std::exception&) {
  }

  std::optional<CreatePartitionDialogResult> answer = m_ui.createPartitionDialog(input);
  if (!answer) return CommandOutcome::Cancelled;
  // Outside the error trap: bad numbers reach the caller's error report and
  // nothing is written.
  const bool boot = answer->boot;
  const std::int64_t sizeMb = StrToInt64(answer->sizeText);
  const std::int64_t length = sizeInBytes(answer->sizeText, sizeMb);
  const std::int64_t offset = StrToInt64(answer->offsetText);
  const std::string code = typeCodeOf(style, answer->typeText);

  // The new entry takes the slot's place whatever it holds: a slot in use
  // is replaced only on a second, plain answer, whose default is No.
  if (selected >= 0 && selected < rows) {
    const ViewRow replaced = m_table.row(selected);
    if (rowHoldsEntry(replaced, style) &&
        !m_ui.confirmDefaultNo("Entry #" + std::to_string(entry) + " holds partition " + replaced.number +
                               " (offset " + replaced.cells[0] + ", " + replaced.cells[1] + " bytes, type " +
                               (replaced.cells.size() > 3 ? replaced.cells[3] : std::string()) +
                               "). Write the new entry over it?")) {
      return CommandOutcome::Cancelled;
    }
  }
  if (!m_ui.confirm(entryQuestion("Create", entry))) return CommandOutcome::Cancelled;
  bool written = false;
  const bool clean = trapped([&] {
    if (style == kStyleMbr) {
      written = CreatePartitionMBR(m_state.diskPath, entry, offset, length, boot, mbrTypeByte(code));
    } else {
      const std::uint32_t number =
          answer->partitionNumber != 0 ? answer->partitionNumber : fillerRowPartitionNumber(selected, entry);
      written = CreatePartitionGPT(m_state.diskPath, entry, offset, length, code, number);
    }
    waitAndRefresh();
  });
  return operationOutcome(clean, written);
}

CommandOutcome EditorCommands::CreateLogicalDrive() {
  if (!requireStyle(kStyleMbr)) return CommandOutcome::Refused;
  LayoutBuffer layout;
  std::optional<NewEntryPlace> place;
  if (!trapped([&] {
        GetDriveLayout(m_state.diskPath, layout);
        place = ProposedLogicalDrivePlace(m_state.diskPath);
      })) {
    return CommandOutcome::Failed;
  }
  if (MbrExtendedEntry(layout) == 0) {
    m_ui.message("There is no extended partition on " + FirstWord(m_state.diskPath) + " to hold a logical drive");
    return CommandOutcome::Refused;
  }
  const std::optional<int> entry = MbrNewLogicalDriveEntry(layout);
  if (!entry) {
    m_ui.message("The table holds no further logical drive: the layout record has no room for another EBR");
    return CommandOutcome::Refused;
  }
  CreatePartitionDialogInput input{place ? std::to_string(place->offset) : std::string(),
                                   place ? std::to_string(place->length / kBytesPerMb) : std::string(kDialogSize),
                                   CreatePartitionTypeList(kStyleMbr)};
  std::optional<CreatePartitionDialogResult> answer = m_ui.createPartitionDialog(input);
  if (!answer) return CommandOutcome::Cancelled;
  if (answer->offsetText.empty()) {
    m_ui.message("There is no free space for a logical drive in the extended partition of " +
                 FirstWord(m_state.diskPath));
    return CommandOutcome::Refused;
  }
  // Outside the error trap, as in Create Partition.
  const std::int64_t length = sizeInBytes(answer->sizeText, StrToInt64(answer->sizeText));
  const std::int64_t offset = StrToInt64(answer->offsetText);
  const std::string code = typeCodeOf(kStyleMbr, answer->typeText);

  const auto slot = static_cast<std::uint8_t>(*entry);
  if (!m_ui.confirm(entryQuestion("Create", slot))) return CommandOutcome::Cancelled;
  return written([&] {
    return CreateLogicalDriveMBR(m_state.diskPath, slot, offset, length, static_cast<std::uint8_t>(StrToInt(code)));
  });
}

CommandOutcome EditorCommands::DeletePa1Click() {
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  if (!requireMbrEntry()) return CommandOutcome::Refused;
  if (!m_ui.confirm(entryQuestion("Delete", *entry))) return CommandOutcome::Cancelled;
  bool written = false;
  const bool clean = trapped([&] {
    if (m_state.view.diskStyle == kStyleMbr) {
      written = DeletePartitionMBR(m_state.diskPath, *entry);
    } else {
      written = DeletePartitionGPT(m_state.diskPath, *entry);
    }
    waitAndRefresh();
  });
  return operationOutcome(clean, written);
}

CommandOutcome EditorCommands::ChangePartition1Click() {
  if (!requireStyle(kStyleMbr)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> typeText = m_ui.changeTypeDialog(ChangeTypeListMbr());
  if (!typeText) return CommandOutcome::Cancelled;
  // A text that is neither a name nor a type byte fails the conversion
  // below, with its message naming it.
  const std::string code = typeCodeOf(kStyleMbr, *typeText);
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  return written([&] { return SetPartitionTypeMBR(m_state.diskPath, *entry, mbrTypeByte(code)); });
}

CommandOutcome EditorCommands::ChangePartitionBootMBR1Click() {
  if (!requireStyle(kStyleMbr)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> answer = m_ui.prompt(kPromptCaption, "Enter partition boot (0 or 1)", "");
  if (!answer) return CommandOutcome::Cancelled;
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  return written([&] { return SetPartitionBootMBR(m_state.diskPath, *entry, StrToBool(*answer)); });
}

CommandOutcome EditorCommands::ChangeDiskID1Click() {
  if (!requireStyle(kStyleMbr)) return CommandOutcome::Refused;
  const std::string initial = "$";
  // Cancel leaves the initial text, which ends the command below.
  std::string answer = m_ui.prompt(kPromptCaption, "Enter DiskID (4 bytes : $01020304)", initial).value_or(initial);
  if (answer.empty() || answer == initial) return CommandOutcome::Cancelled;
  // Converted before the confirmation and outside the error trap.
  const auto signature = static_cast<std::uint32_t>(StrToInt(answer));
  if (!m_ui.confirm("Modify DiskID for " + FirstWord(m_state.diskPath) + "?")) return CommandOutcome::Cancelled;
  return written([&] { return SetDiskIdMBR(m_state.diskPath, signature); });
}

CommandOutcome EditorCommands::SetasPartitionNumber11Click() {
  if (!requireStyle(kStyleMbr)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Allow);
  if (!entry) return withoutEntry();
  if (!requireMbrEntry()) return CommandOutcome::Refused;
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  // The exchange does not ask the system to re-read the disk; taking the disk
  // offline and online again does.
  bool written = false;
  const bool clean = trapped([&] {
    written = SetPartitionNumberOneMBR(m_state.diskPath, *entry);
    m_ui.sleep(kWaitBetweenOfflineStepsMs);
    SetDiskAttributes(m_state.diskPath, 1, 1);
    m_ui.sleep(kWaitBetweenOfflineStepsMs);
    SetDiskAttributes(m_state.diskPath, 0, 1);
    m_ui.sleep(kWaitBetweenOfflineStepsMs);
    m_table.refresh();
  });
  return operationOutcome(clean, written);
}

CommandOutcome EditorCommands::ChangePartitionTypeGPT1Click() {
  if (!requireStyle(kStyleGpt)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> typeText = m_ui.changeTypeDialog(ChangeTypeListGpt());
  if (!typeText) return CommandOutcome::Cancelled;
  // A text that is not one of the names is taken as GUID text itself, so a
  // mistyped name can never write the unused-entry type by accident.
  const std::string code = typeCodeOf(kStyleGpt, *typeText);
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  bool written = false;
  const bool clean = trapped([&] {
    // Checked before the disk is opened: bad text raises the GUID conversion
    // error and nothing is dismounted or written.
    StringToGuid(code);
    written = SetPartitionTypeGPT(m_state.diskPath, *entry, code);
    waitAndRefresh();
  });
  return operationOutcome(clean, written);
}

CommandOutcome EditorCommands::ChangePartitionAttributesGPT1Click() {
  if (!requireStyle(kStyleGpt)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> answer = m_ui.prompt(kPromptCaption, "Enter partition attributes ($int64)", "");
  if (!answer) return CommandOutcome::Cancelled;
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  return written([&] {
    return SetPartitionAttributesGPT(m_state.diskPath, *entry, static_cast<std::uint64_t>(StrToInt64(*answer)));
  });
}

CommandOutcome EditorCommands::Refresh1Click() {
  m_table.refresh();
  return CommandOutcome::Done;
}

CommandOutcome EditorCommands::SelectanotherDISK1Click() {
  std::optional<std::string> number = m_ui.diskChooser();
  if (!number) return CommandOutcome::Cancelled;
  m_state.diskPath = "\\\\.\\PhysicalDrive" + *number;
  m_table.refresh();
  m_table.setCaption(WindowCaption(m_state.diskPath));
  return CommandOutcome::Done;
}

// --- commands beyond the menu ---

CommandOutcome EditorCommands::ChangePartitionNameGPT() {
  if (!requireStyle(kStyleGpt)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> answer = m_ui.prompt(kPromptCaption, "Enter partition name", "");
  if (!answer) return CommandOutcome::Cancelled;
  const std::u16string name = Utf8ToUtf16(*answer);
  if (std::string refusal = GptNameRefusal(name); !refusal.empty()) {
    m_ui.message(refusal);
    return CommandOutcome::Refused;
  }
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  return written([&] { return SetPartitionNameGPT(m_state.diskPath, *entry, name); });
}

CommandOutcome EditorCommands::ChangePartitionSize() {
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  if (!requireMbrEntry()) return CommandOutcome::Refused;
  std::optional<std::string> answer = m_ui.prompt(kPromptCaption, "Enter partition size (MB, or max)", "");
  if (!answer) return CommandOutcome::Cancelled;
  const bool largest = lowered(*answer) == "max";
  std::int64_t bytes = 0;
  if (!largest && !trapped([&] { bytes = sizeInBytes(*answer, StrToInt64(*answer)); })) return CommandOutcome::Failed;
  if (!m_ui.confirm(entryQuestion("Resize", *entry))) return CommandOutcome::Cancelled;
  bool written = false;
  const bool clean = trapped([&] {
    NewLength length = [bytes](const LayoutBuffer&, int) { return bytes; };
    if (largest) {
      std::uint32_t sectorSize = 0;
      std::uint64_t sectorCount = 0;
      {
        PortDisk disk(m_state.diskPath, PortDisk::Access::Read);
        if (!disk.ok()) throw KestrinError(disk.failure());
        sectorSize = disk.sectors().sectorSize();
        sectorCount = disk.sectors().sectorCount();
      }
      length = [=](const LayoutBuffer& layout, int slot) {
        std::optional<std::int64_t> most = LargestLength(layout, slot, sectorSize, sectorCount);
        if (!most) throw KestrinError("entry #" + std::to_string(slot) + " has no room of its own to grow into");
        return *most;
      };
    }
    written = ResizePartition(m_state.diskPath, m_state.view.diskStyle, *entry, length);
    waitAndRefresh();
  });
  return operationOutcome(clean, written);
}

CommandOutcome EditorCommands::ChangePartitionAttributeBitGPT() {
  if (!requireStyle(kStyleGpt)) return CommandOutcome::Refused;
  std::optional<std::uint8_t> entry = selectedEntry(ZeroEntry::Refuse);
  if (!entry) return withoutEntry();
  std::optional<std::string> bitText = m_ui.prompt(kPromptCaption, "Enter attribute bit (0 to 63, or a name)", "");
  if (!bitText) return CommandOutcome::Cancelled;
  std::optional<std::string> stateText = m_ui.prompt(kPromptCaption, "Set or clear the bit (on or off)", "");
  if (!stateText) return CommandOutcome::Cancelled;
  unsigned bit = 0;
  bool on = false;
  if (!trapped([&] {
        bit = attributeBitOf(*bitText);
        on = switchOf(*stateText);
      })) {
    return CommandOutcome::Failed;
  }
  if (!m_ui.confirm(entryQuestion("Modify", *entry))) return CommandOutcome::Cancelled;
  return written([&] { return SetPartitionAttributeBitGPT(m_state.diskPath, *entry, bit, on); });
}

}  // namespace kestrin
