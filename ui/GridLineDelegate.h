#pragma once
// Draws the grid lines of a report list: a line at the right and at the
// bottom of every cell, over the normal cell painting.

#include <QStyledItemDelegate>

namespace kestrin {

class GridLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace kestrin
