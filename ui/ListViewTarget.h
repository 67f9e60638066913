#pragma once
// Where the table view's content lands in the main window: the rows in the
// report list, the status text in the status bar's only panel, the enabled
// state in the six style-bound menu items, and a failed read in a message.

#include <QList>
#include <functional>
#include <string>

#include "LayoutView.h"

class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrin {

class ListViewTarget : public LayoutViewTarget {
 public:
  ListViewTarget(QTreeWidget* list, QLabel* statusPanel, QList<QAction*> mbrItems, QList<QAction*> gptItems,
                 std::function<void(const std::string&)> showMessage);

  void clearRows() override;
  void setMenuState(const StyleMenuState& state) override;
  void setStatusText(const std::string& text) override;
  // The Number text is the item's caption; the given cells follow as its
  // further columns, and a cell that is not given adds no column.
  void addRow(const ViewRow& row) override;
  void showError(const std::string& message) override;

 private:
  QTreeWidget* m_list;
  QLabel* m_statusPanel;
  QList<QAction*> m_mbrItems;
  QList<QAction*> m_gptItems;
  std::function<void(const std::string&)> m_showMessage;
};

// A list item read back as a row: the caption and the columns it carries.
ViewRow RowOfItem(const QTreeWidgetItem& item);

}  // namespace kestrin
