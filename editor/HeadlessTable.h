#pragma once
// The main window's table without a window: RefreshLayoutView fills it as it
// fills the list view, and the editor commands read its rows and selection.
// Every text front end works on one and prints it (LayoutPrinter.h).

#include <functional>
#include <string>
#include <vector>

#include "EditorTable.h"
#include "LayoutView.h"

namespace kestrin {

class HeadlessTable : public EditorTable, public LayoutViewTarget {
 public:
  // `showError` receives what the window would show in a message box: a
  // read that failed. `record` is the layout record the refresh reads into:
  // the window's, or one that holds a whole table of any size (to show it).
  HeadlessTable(EditorState& state, std::function<void(const std::string&)> showError,
                LayoutRecord record = LayoutRecord::Fixed)
      : m_state(state), m_showError(std::move(showError)), m_record(record) {}

  // EditorTable
  int rowCount() const override { return static_cast<int>(m_rows.size()); }
  int selectedIndex() const override { return m_selected; }
  ViewRow row(int index) const override { return m_rows.at(static_cast<std::size_t>(index)); }
  // Reads the current disk again; a failed read goes to `showError`.
  void refresh() override;
  void setCaption(const std::string&) override {}
  void setOutcomeText(const std::string& text) override { m_outcome = text; }

  // LayoutViewTarget
  void clearRows() override;
  void setMenuState(const StyleMenuState&) override {}
  void setStatusText(const std::string& text) override { m_status = text; }
  void addRow(const ViewRow& row) override { m_rows.push_back(row); }
  void showError(const std::string& message) override;

  // Selects row `index` (0-based); the caller has checked it against rowCount.
  void select(int index) { m_selected = index; }
  // False when the last refresh could not read the layout.
  bool lastReadSucceeded() const { return m_readSucceeded; }
  const std::string& statusText() const { return m_status; }
  const std::vector<ViewRow>& rows() const { return m_rows; }
  // The outcome text Create Disk and Delete Disk Layout record, if any.
  const std::string& outcomeText() const { return m_outcome; }

 private:
  EditorState& m_state;
  std::function<void(const std::string&)> m_showError;
  LayoutRecord m_record;
  std::vector<ViewRow> m_rows;
  int m_selected = -1;
  std::string m_status;
  std::string m_outcome;
  bool m_readSucceeded = false;
};

}  // namespace kestrin
