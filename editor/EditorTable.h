#pragma once
// What the editor commands need of the table they work on, and the window
// state they read and write. A window implements the table with its list
// view; the text front ends use HeadlessTable.

#include <cstdint>
#include <string>

#include "LayoutView.h"

namespace kestrin {

// What the commands need of the main window's table.
class EditorTable {
 public:
  virtual ~EditorTable() = default;
  virtual int rowCount() const = 0;
  // The selected row's index, or -1 when no row is selected.
  virtual int selectedIndex() const = 0;
  virtual ViewRow row(int index) const = 0;
  // RefreshLayoutView of the current disk.
  virtual void refresh() = 0;
  // The window caption ("Kestrin 0.1 - " + DiskPath).
  virtual void setCaption(const std::string& caption) = 0;
  // The outcome text of Create Disk and Delete Disk Layout.
  virtual void setOutcomeText(const std::string& text) = 0;
};

// The window state the commands read and write.
struct EditorState {
  std::string diskPath = "\\\\.\\PhysicalDrive0";
  LayoutViewState view;  // DiskStyle and EntryCount, written by the refresh
};

}  // namespace kestrin
