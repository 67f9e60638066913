#pragma once
// Draws the grid lines of a report list: a line at the right and at the
// bottom of every cell. Each cell is one pixel taller and wider than its
// content needs, and the lines take that extra pixel, so they never cover
// the text (an underscore sits on the content's last pixel row).

#include <QStyledItemDelegate>

namespace kestrin {

class GridLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace kestrin
