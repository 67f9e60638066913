#include "ListViewTarget.h"

#include <QAction>
#include <QLabel>
#include <QTreeWidget>

namespace kestrin {

namespace {
constexpr int kTypeColumn = 4;
}  // namespace

ListViewTarget::ListViewTarget(QTreeWidget* list, QLabel* statusPanel, QList<QAction*> mbrItems,
                               QList<QAction*> gptItems, std::function<void(const std::string&)> showMessage)
    : m_list(list),
      m_statusPanel(statusPanel),
      m_mbrItems(std::move(mbrItems)),
      m_gptItems(std::move(gptItems)),
      m_showMessage(std::move(showMessage)) {}

// Emptying the list also forgets which row was current, and the list would
// make its first row current as soon as it gets the focus again: it would
// look chosen while nothing is selected. Setting "no current row" outright
// stops that until the next clear.
void ListViewTarget::clearRows() {
  m_list->clear();
  m_list->setCurrentIndex(QModelIndex());
}

void ListViewTarget::setMenuState(const StyleMenuState& state) {
  for (QAction* item : m_mbrItems) item->setEnabled(state.mbrItems);
  for (QAction* item : m_gptItems) item->setEnabled(state.gptItems);
}

void ListViewTarget::setStatusText(const std::string& text) { m_statusPanel->setText(QString::fromStdString(text)); }

void ListViewTarget::addRow(const ViewRow& row) {
  QStringList columns{QString::fromStdString(row.number)};
  for (const std::string& cell : row.cells) columns << QString::fromStdString(cell);
  // QTreeWidgetItem keeps exactly the columns it is given, so a filler row
  // reads back with no cells.
  auto* item = new QTreeWidgetItem(columns);
  // The type text is often longer than its column: the whole of it shows
  // when the pointer rests on the cell.
  if (columns.size() > kTypeColumn) item->setToolTip(kTypeColumn, columns[kTypeColumn]);
  m_list->addTopLevelItem(item);
}

void ListViewTarget::showError(const std::string& message) { m_showMessage(message); }

ViewRow RowOfItem(const QTreeWidgetItem& item) {
  ViewRow row;
  row.number = item.text(0).toStdString();
  for (int column = 1; column < item.columnCount(); ++column) row.cells.push_back(item.text(column).toStdString());
  return row;
}

}  // namespace kestrin
