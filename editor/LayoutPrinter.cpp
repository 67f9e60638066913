#include "LayoutPrinter.h"

namespace kestrin {

void PrintTable(const HeadlessTable& table, std::ostream& out) {
  out << table.statusText() << '\n';
  for (const ViewRow& row : table.rows()) {
    out << row.number;
    for (const std::string& cell : row.cells) out << '\t' << cell;
    out << '\n';
  }
}

void PrintLayout(const LayoutBuffer& layout, std::ostream& out) {
  EditorState state;
  HeadlessTable table(state, [](const std::string&) {});
  table.setStatusText(LayoutStatusText(layout));
  for (const ViewRow& row : LayoutRows(layout)) table.addRow(row);
  PrintTable(table, out);
}

bool PrintLayoutView(const std::string& diskPath, std::ostream& out, std::ostream& errors) {
  EditorState state;
  state.diskPath = diskPath;
  HeadlessTable table(state, [&errors](const std::string& message) { errors << message << '\n'; });
  table.refresh();
  if (!table.lastReadSucceeded()) return false;
  PrintTable(table, out);
  return true;
}

}  // namespace kestrin
