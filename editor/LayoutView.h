#pragma once
// What the partition table view shows, computed from a layout without any
// widget: the rows (a Number text and the cells per style), the filler rows,
// the status text and the enabled state of the style-bound menu items; and
// the refresh sequence, which renders through a small target interface that
// the window (or a test) implements.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LayoutBuffer.h"

namespace kestrin {

// One row: the Number text and the cells that are given, in column order
// (Offset, Length, HiddenSectors, Type, Boot, Attributes). A cell that is
// "not given" is absent; an "empty text" cell is present and empty.
struct ViewRow {
  std::string number;
  std::vector<std::string> cells;
  friend bool operator==(const ViewRow&, const ViewRow&) = default;
};

// Enabled flags of the six style-bound menu items.
struct StyleMenuState {
  bool mbrItems = true;  // ChangePartition1, ChangePartitionBootMBR1, ChangeDiskID1, SetasPartitionNumber11
  bool gptItems = true;  // ChangePartitionTypeGPT1, ChangePartitionAttributesGPT1
  friend bool operator==(const StyleMenuState&, const StyleMenuState&) = default;
};

// The row of entry `entry` (1 .. the record's capacity) for a layout of style `style`.
ViewRow SlotRow(const LayoutBuffer& layout, int entry);
// The MBR type text: "(0xNN)" + descriptions, or the byte in decimal.
std::string MbrTypeText(std::uint8_t type);
// The GPT type text: the descriptions, or the GUID text.
std::string GptTypeText(const Guid& type);
// "Style: MBR, Count=4".
std::string StatusText(std::uint32_t style, std::uint32_t entryCount);
// The slot count the view shows for `layout`: in the fixed record the
// low 8 bits of the header's count (EntryCount); in a larger record, read to
// show a whole table, the header's count itself.
std::uint32_t ShownEntryCount(const LayoutBuffer& layout);
// The status text of `layout`, with its ShownEntryCount.
std::string LayoutStatusText(const LayoutBuffer& layout);
// The menu state for a style, or nullopt for a style that leaves it as it was.
std::optional<StyleMenuState> MenuStateForStyle(std::uint32_t style);
// Every row the view shows for a layout: the slot rows (never more than the
// record holds) and the filler rows: a GPT of one to three entries is padded
// to four rows, and one of four or more gets one filler row after its last
// slot while its entry array has room for another entry.
std::vector<ViewRow> LayoutRows(const LayoutBuffer& layout);

// Where the refresh sequence lands. The window implements it over its list,
// status bar and popup menu.
class LayoutViewTarget {
 public:
  virtual ~LayoutViewTarget() = default;
  virtual void clearRows() = 0;
  virtual void setMenuState(const StyleMenuState& state) = 0;
  virtual void setStatusText(const std::string& text) = 0;
  virtual void addRow(const ViewRow& row) = 0;
  virtual void showError(const std::string& message) = 0;
};

// The view's own state: the style and slot count of the last layout read
// successfully.
struct LayoutViewState {
  std::uint32_t diskStyle = 0;
  std::uint8_t entryCount = 0;
};

// The record a refresh reads the layout into: the fixed one of 64 slots
// (the windows, the editor commands), or one large enough for the whole
// table (the text front end's show, whose table may hold more).
enum class LayoutRecord { Fixed, WholeTable };

// Clears the rows, reads the layout of `diskPath`, sets the state, the menu,
// the status text and the rows. An error is shown through the target; the
// state and menu then keep the values of the last good read. A read that
// fails also empties the status text, which would otherwise name the style
// and count of another disk or of the table as it was. Never throws.
void RefreshLayoutView(const std::string& diskPath, LayoutViewState& state, LayoutViewTarget& target,
                       LayoutRecord record = LayoutRecord::Fixed);

}  // namespace kestrin
