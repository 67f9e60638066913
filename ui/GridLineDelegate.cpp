#include "GridLineDelegate.h"

#include <QPainter>

namespace kestrin {

namespace {
constexpr int kGridLineWidth = 1;
}  // namespace

void GridLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QRect& cell = option.rect;
  QStyleOptionViewItem content(option);
  content.rect = cell.adjusted(0, 0, -kGridLineWidth, -kGridLineWidth);
  QStyledItemDelegate::paint(painter, content, index);
  painter->save();
  painter->setPen(option.palette.color(QPalette::Midlight));
  painter->drawLine(cell.topRight(), cell.bottomRight());
  painter->drawLine(cell.bottomLeft(), cell.bottomRight());
  painter->restore();
}

QSize GridLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return QStyledItemDelegate::sizeHint(option, index) + QSize(kGridLineWidth, kGridLineWidth);
}

}  // namespace kestrin
