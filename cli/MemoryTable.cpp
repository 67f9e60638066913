#include "MemoryTable.h"

namespace kestrin::cli {

void MemoryTable::refresh() {
  m_readSucceeded = true;
  RefreshLayoutView(m_state.diskPath, m_state.view, *this);
}

void MemoryTable::clearRows() {
  m_rows.clear();
  // As in the list view, a redraw leaves no row selected.
  m_selected = -1;
}

void MemoryTable::showError(const std::string& message) {
  m_readSucceeded = false;
  m_failures.report(message);
}

}  // namespace kestrin::cli
