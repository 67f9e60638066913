#pragma once
// The main window's table without a window, for tests of the editor commands
// and of the table view. As the view's target it records every call of a
// refresh as a line of text, in order ("clear", "menu mbr=on gpt=off",
// "status <text>", "row <number>", "error <text>"), and keeps the rows and
// the status line. As the commands' table it hands them the rows and the
// selection a test sets, and logs its own calls ("refresh", "caption:<text>",
// "outcome:<text>"; a refresh's error also as "message:<text>") into an
// optional log shared with a ScriptedInteraction.

#include <stdexcept>
#include <string>
#include <vector>

#include "EditorCommands.h"
#include "LayoutView.h"

namespace kestrin::test {

class FakeTable : public EditorTable, public LayoutViewTarget {
 public:
  explicit FakeTable(std::vector<std::string>* log = nullptr) : m_log(log) {}

  int rowCount() const override { return static_cast<int>(rows.size()); }
  int selectedIndex() const override { return selected; }
  ViewRow row(int index) const override { return rows.at(static_cast<std::size_t>(index)); }
  // Logged; with a disk behind the table (redrawFrom), the rows are drawn
  // again from it and `selectedAfterRedraw` is selected.
  void refresh() override {
    note("refresh");
    if (redrawFrom == nullptr) return;
    RefreshLayoutView(redrawFrom->diskPath, redrawFrom->view, *this);
    selected = rows.empty() ? -1 : selectedAfterRedraw;
  }
  void setCaption(const std::string& caption) override { note("caption:" + caption); }
  void setOutcomeText(const std::string& text) override { note("outcome:" + text); }

  void clearRows() override {
    events.push_back("clear");
    rows.clear();
    status.clear();
  }
  void setMenuState(const StyleMenuState& state) override {
    events.push_back(std::string("menu mbr=") + (state.mbrItems ? "on" : "off") +
                     " gpt=" + (state.gptItems ? "on" : "off"));
  }
  void setStatusText(const std::string& text) override {
    events.push_back("status " + text);
    status = text;
  }
  void addRow(const ViewRow& row) override {
    if (failOnRow) throw std::runtime_error("row failed");
    events.push_back("row " + row.number);
    rows.push_back(row);
  }
  void showError(const std::string& message) override {
    events.push_back("error " + message);
    note("message:" + message);
  }

  std::vector<ViewRow> rows;
  int selected = -1;
  std::string status;
  std::vector<std::string> events;
  // The disk whose layout a refresh draws; none by default.
  EditorState* redrawFrom = nullptr;
  // The row a redraw leaves selected (when there are rows): none, as in the window.
  int selectedAfterRedraw = -1;
  // Makes every addRow raise, as a failing list would.
  bool failOnRow = false;

 private:
  void note(const std::string& entry) {
    if (m_log != nullptr) m_log->push_back(entry);
  }

  std::vector<std::string>* m_log;
};

}  // namespace kestrin::test
