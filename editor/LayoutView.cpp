// The partition table view as data: row texts, filler rows, status text and
// menu state are pure functions of a layout; RefreshLayoutView reads the
// layout and hands the pieces to a target in a fixed order.

#include "LayoutView.h"

#include <algorithm>
#include <exception>

#include "Catalogue.h"
#include "DiskReaders.h"
#include "Guid.h"
#include "LayoutQueries.h"

namespace kestrin {

namespace {

// A GPT view always shows at least this many rows once it has any slot.
constexpr int kGptMinimumRows = 4;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// `value` as `width` upper-case hexadecimal digits, zero-padded.
std::string upperHex(std::uint64_t value, int width) {
  std::string text(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kHexDigits[value & 0x0F];
    value >>= 4;
  }
  return text;
}

// The slot count the view works with: the low 8 bits of the header's count.
std::uint8_t entryCountOf(const LayoutBuffer& layout) {
  return static_cast<std::uint8_t>(layout.partitionCount() & 0xFF);
}

}  // namespace

std::string MbrTypeText(std::uint8_t type) {
  // The catalogue puts a blank before each description, so none is added.
  std::string description = TypeDescriptionByByte(type);
  if (description.empty()) return std::to_string(type);
  return "(0x" + upperHex(type, 2) + ")" + description;
}

std::string GptTypeText(const Guid& type) {
  std::string guidText = GuidToString(type);
  std::string description = TypeDescriptionByGuid(guidText);
  return description.empty() ? guidText : description;
}

ViewRow SlotRow(const LayoutBuffer& layout, int entry) {
  ConstLayoutSlot slot = layout.slot(entry);
  ViewRow row;
  row.number = std::to_string(slot.partitionNumber());
  row.cells.push_back(std::to_string(slot.startingOffset()));
  row.cells.push_back(std::to_string(slot.partitionLength()));
  // The header's style decides the columns; the slot's own style is not
  // consulted, so a stray value there cannot change what a row shows.
  switch (layout.partitionStyle()) {
    case kStyleMbr:
      row.cells.push_back(std::to_string(slot.mbrHiddenSectors()));
      row.cells.push_back(MbrTypeText(slot.mbrPartitionType()));
      row.cells.push_back(slot.mbrBootIndicator() != 0 ? "True" : "False");
      break;
    case kStyleGpt:
      row.cells.push_back("");
      row.cells.push_back(GptTypeText(slot.gptPartitionType()));
      row.cells.push_back("");
      row.cells.push_back("0x" + upperHex(slot.gptAttributes(), 16));
      break;
    default:
      break;
  }
  return row;
}

std::string StatusText(std::uint32_t style, std::uint32_t entryCount) {
  const char* styleText = style == kStyleMbr ? "MBR" : style == kStyleGpt ? "GPT" : "";
  return std::string("Style: ") + styleText + ", Count=" + std::to_string(entryCount);
}

std::optional<StyleMenuState> MenuStateForStyle(std::uint32_t style) {
  switch (style) {
    case kStyleMbr:
      return StyleMenuState{true, false};
    case kStyleGpt:
      return StyleMenuState{false, true};
    default:
      return std::nullopt;
  }
}

std::uint32_t ShownEntryCount(const LayoutBuffer& layout) {
  return layout.slotCapacity() > kLayoutSlotCount ? layout.partitionCount() : entryCountOf(layout);
}

std::string LayoutStatusText(const LayoutBuffer& layout) {
  return StatusText(layout.partitionStyle(), ShownEntryCount(layout));
}

std::vector<ViewRow> LayoutRows(const LayoutBuffer& layout) {
  std::vector<ViewRow> rows;
  const std::uint32_t entryCount = ShownEntryCount(layout);
  // The low 8 bits of the count can exceed the 64 slots a buffer holds (a
  // count of 65 .. 255, or a larger count whose low byte is such a value).
  // The system refuses to return such a layout, but a count from any other
  // source must never make the view read past the last slot, so no more
  // slot rows are read than the record holds, while the status line still
  // shows the count itself.
  const int slotRows = static_cast<int>(std::min<std::uint32_t>(entryCount, layout.slotCapacity()));
  for (int entry = 1; entry <= slotRows; ++entry) rows.push_back(SlotRow(layout, entry));
  if (layout.partitionStyle() == kStyleGpt && entryCount > 0) {
    while (static_cast<int>(rows.size()) < kGptMinimumRows) rows.push_back(ViewRow{"0", {}});
    // Where the padding leaves no free row, one filler row stands for the
    // next entry, as long as the entry array and the record an edit writes
    // (64 slots, however large the record read) have room for it: Create
    // Partition on it adds a partition instead of replacing one.
    const bool arrayHasRoom = entryCount < GptPartitionNumberLimit(layout) && slotRows < kLayoutSlotCount;
    if (slotRows >= kGptMinimumRows && arrayHasRoom) rows.push_back(ViewRow{"0", {}});
  }
  return rows;
}

void RefreshLayoutView(const std::string& diskPath, LayoutViewState& state, LayoutViewTarget& target,
                       LayoutRecord record) {
  // Everything that can fail runs inside the try: the read raises with the
  // request's failure text, and whatever had not been done when an error
  // arrives keeps the value of the last good read.
  std::string error;
  bool read = false;
  try {
    target.clearRows();
    LayoutBuffer layout;  // fresh and zeroed: nothing of an earlier read can show
    if (record == LayoutRecord::WholeTable) {
      layout = GetWholeDriveLayout(diskPath);
    } else if (!GetDriveLayout(diskPath, layout)) {
      return;
    }
    read = true;
    state.entryCount = entryCountOf(layout);
    state.diskStyle = layout.partitionStyle();
    if (std::optional<StyleMenuState> menu = MenuStateForStyle(state.diskStyle)) target.setMenuState(*menu);
    target.setStatusText(LayoutStatusText(layout));
    if (ShownEntryCount(layout) == 0) return;
    for (const ViewRow& row : LayoutRows(layout)) target.addRow(row);
    return;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "Unknown error";
  }
  // The target is expected not to raise, in its status bar or its message box.
  if (!read) target.setStatusText("");
  target.showError(error);
}

}  // namespace kestrin
