#include "HeadlessTable.h"

namespace kestrin {

void HeadlessTable::refresh() {
  m_readSucceeded = true;
  RefreshLayoutView(m_state.diskPath, m_state.view, *this, m_record);
}

void HeadlessTable::clearRows() {
  m_rows.clear();
  // As in the list view, a redraw leaves no row selected.
  m_selected = -1;
}

void HeadlessTable::showError(const std::string& message) {
  m_readSucceeded = false;
  m_showError(message);
}

}  // namespace kestrin
