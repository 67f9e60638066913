#pragma once
// The columns of the windows' report lists, as every window front end lays
// them out: captions and widths in pixels at 96 pixels per inch. A width of
// kDefaultColumnWidth is the one the forms leave to the toolkit, taken as
// the 50 pixels a column has by default.

#include <array>

namespace kestrin {

struct TableColumn {
  const char* caption;
  int width;
};

inline constexpr int kDefaultColumnWidth = 50;

// The main window's table (ListView1), in order.
inline constexpr std::array<TableColumn, 7> kLayoutColumns = {{{"Number", kDefaultColumnWidth},
                                                               {"Offset (bytes)", 100},
                                                               {"Length (bytes)", 100},
                                                               {"HiddenSectors", 100},
                                                               {"Type", 200},
                                                               {"Boot", kDefaultColumnWidth},
                                                               {"Attributes", 100}}};
inline constexpr int kNumberColumn = 0;
inline constexpr int kAttributesColumn = 6;

// The widest text of the Attributes column, which has a fixed length: on a
// font wider than the forms' the column grows to show it whole, by this
// text's width and kCellPadding.
inline constexpr const char* kWidestAttributesText = "0x0000000000000000";
inline constexpr int kCellPadding = 12;

// The width of the status bar's only panel.
inline constexpr int kStatusPanelWidth = 500;

// The disk chooser's list (lvdisks), in order.
inline constexpr std::array<TableColumn, 5> kDiskColumns = {
    {{"#", kDefaultColumnWidth}, {"Type", kDefaultColumnWidth}, {"Name", 150}, {"Size( MB)", 75}, {"Attributes", 125}}};

}  // namespace kestrin
