#pragma once
// Where the table view's content lands in the main window: the rows in the
// report list view, the status text in the status bar's only panel, the
// enabled state in the six style-bound items of the popup menu, and a failed
// read in a message. Also the report list's rows and columns as such, which
// the disk chooser uses too.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "LayoutView.h"

namespace kestrin {

class ListViewTarget : public LayoutViewTarget {
 public:
  ListViewTarget(HWND list, HWND statusBar, HMENU menu, std::function<void(const std::string&)> showMessage);

  void clearRows() override;
  void setMenuState(const StyleMenuState& state) override;
  void setStatusText(const std::string& text) override;
  // The Number text is the item's caption; the given cells follow as its
  // sub-items, and a cell that is not given adds none.
  void addRow(const ViewRow& row) override;
  void showError(const std::string& message) override;

 private:
  HWND m_list;
  HWND m_statusBar;
  HMENU m_menu;
  std::function<void(const std::string&)> m_showMessage;
};

// Appends a column of `width` pixels to a report list.
void AddReportColumn(HWND list, const std::string& caption, int width);

// Appends a row: `texts` holds the caption, then the sub-items. The item
// keeps the number of sub-items it was given, so that it reads back as it
// was given (a list view has no "missing" sub-item of its own).
void AddListRow(HWND list, const std::vector<std::string>& texts);

// Row `index` read back: its caption and the sub-items it was given.
ViewRow RowOfItem(HWND list, int index);

// The index of the selected row, or -1.
int SelectedRow(HWND list);

}  // namespace kestrin
