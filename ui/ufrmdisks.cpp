#include "ufrmdisks.h"

#include <QKeyEvent>

#include "DiskList.h"
#include "GridLineDelegate.h"
#include "TableColumns.h"
#include "ui_ufrmdisks.h"

namespace kestrin {

QPointer<Tfrmdisks> frmdisks;

namespace {

// The form's place on the screen; the chooser is not centred.
constexpr QPoint kFormPosition{393, 123};

}  // namespace

Tfrmdisks::Tfrmdisks(QWidget* owner) : ModalForm(owner), m_form(std::make_unique<Ui::frmdisks>()) {
  m_form->setupUi(this);
  bindButtons(m_form->btnok, m_form->btncancel);
  // A fixed single border with the system menu and minimising, no maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(size());
  move(kFormPosition);
  QHeaderView* header = m_form->lvdisks->header();
  for (int column = 0; column < static_cast<int>(kDiskColumns.size()); ++column) {
    header->resizeSection(column, kDiskColumns[static_cast<std::size_t>(column)].width);
  }
  m_form->lvdisks->setItemDelegate(new GridLineDelegate(m_form->lvdisks));
  // A double click chooses the row it lands on, as its selection and OK do.
  connect(m_form->lvdisks, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    m_form->lvdisks->setCurrentItem(item);
    done(kModalOk);
  });
}

Tfrmdisks::~Tfrmdisks() = default;

std::optional<std::string> Tfrmdisks::selectedDisk() const {
  QList<QTreeWidgetItem*> selected = m_form->lvdisks->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  return selected.front()->text(0).toStdString();
}

void Tfrmdisks::showEvent(QShowEvent* event) {
  ModalForm::showEvent(event);
  if (!event->spontaneous()) FillDiskList(m_form->lvdisks);
}

// Enter is OK and Escape Cancel, wherever the focus is; the buttons are
// not the default and cancel buttons of the form.
void Tfrmdisks::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      event->accept();
      done(kModalCancel);
      return;
    case Qt::Key_Enter:
    case Qt::Key_Return:
      event->accept();
      done(kModalOk);
      return;
    default:
      ModalForm::keyPressEvent(event);
  }
}

void FillDiskList(QTreeWidget* lvdisks) {
  lvdisks->clear();
  for (const DiskListRow& row : DiskListRows()) {
    new QTreeWidgetItem(lvdisks, {QString::fromStdString(row.number), QString::fromStdString(row.type),
                                  QString::fromStdString(row.name), QString::fromStdString(row.sizeMb),
                                  QString::fromStdString(row.attributes)});
  }
}

}  // namespace kestrin
