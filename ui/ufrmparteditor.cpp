#include "ufrmparteditor.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <algorithm>
#include <exception>

#include "Errors.h"
#include "GridLineDelegate.h"
#include "ListViewTarget.h"
#include "MessageBoxes.h"
#include "QtInteraction.h"
#include "TableColumns.h"
#include "ui_ufrmparteditor.h"

namespace kestrin {

QPointer<Tfrmparteditor> frmparteditor;

namespace {

constexpr const char* kFirstDisk = "\\\\.\\PhysicalDrive0";

Interaction& chooseInteraction(Interaction* given, std::unique_ptr<Interaction>& own, QWidget* owner) {
  if (given != nullptr) return *given;
  own = std::make_unique<QtInteraction>(owner);
  return *own;
}

}  // namespace

Tfrmparteditor::Tfrmparteditor(Interaction* interaction, QWidget* parent)
    : QWidget(parent),
      m_form(std::make_unique<Ui::frmparteditor>()),
      m_ui(chooseInteraction(interaction, m_ownInteraction, this)),
      m_commands(m_state, *this, m_ui) {
  m_form->setupUi(this);

  QTreeWidget* list = m_form->ListView1;
  QHeaderView* header = list->header();
  for (int column = 0; column < static_cast<int>(kLayoutColumns.size()); ++column) {
    header->resizeSection(column, kLayoutColumns[static_cast<std::size_t>(column)].width);
  }
  // The Attributes text has a fixed length; on a font wider than the form's
  // the column grows so that it is never cut.
  int attributesText = list->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestAttributesText)) + kCellPadding;
  header->resizeSection(kAttributesColumn, std::max(kLayoutColumns[kAttributesColumn].width, attributesText));
  list->setItemDelegate(new GridLineDelegate(list));

  m_statusPanel = new QLabel(m_form->StatusBar1);
  m_statusPanel->setObjectName(QStringLiteral("StatusBar1Panel0"));
  m_statusPanel->setFixedWidth(kStatusPanelWidth);
  m_form->StatusBar1->addWidget(m_statusPanel);

  buildPopupMenu();
  connect(list, &QWidget::customContextMenuRequested, this,
          [this, list](const QPoint& at) { m_popup->popup(list->viewport()->mapToGlobal(at)); });
  list->viewport()->installEventFilter(this);
  list->installEventFilter(this);  // Shift+F10

  m_target = std::make_unique<ListViewTarget>(
      list, m_statusPanel,
      QList<QAction*>{m_form->ChangePartition1, m_form->ChangePartitionBootMBR1, m_form->ChangeDiskID1,
                      m_form->SetasPartitionNumber11},
      QList<QAction*>{m_form->ChangePartitionTypeGPT1, m_form->ChangePartitionAttributesGPT1},
      [this](const std::string& text) { m_ui.message(text); });

  // Placed in the centre of the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

Tfrmparteditor::~Tfrmparteditor() = default;

void Tfrmparteditor::buildPopupMenu() {
  m_popup = new QMenu(this);
  m_popup->setObjectName(QStringLiteral("PopupMenu1"));
  auto separator = [this](const char* name) { m_popup->addSeparator()->setObjectName(QString::fromLatin1(name)); };
  Ui::frmparteditor& f = *m_form;
  m_popup->addAction(f.CreateDisk1);
  m_popup->addAction(f.DeleteDriveLayout1);
  separator("N5");
  m_popup->addAction(f.CreatePartition1);
  m_popup->addAction(f.DeletePa1);
  separator("N2");
  m_popup->addAction(f.ChangePartition1);
  m_popup->addAction(f.ChangePartitionBootMBR1);
  m_popup->addAction(f.ChangeDiskID1);
  m_popup->addAction(f.SetasPartitionNumber11);
  separator("N4");
  m_popup->addAction(f.ChangePartitionTypeGPT1);
  m_popup->addAction(f.ChangePartitionAttributesGPT1);
  separator("N3");
  m_popup->addAction(f.Refresh1);
  m_popup->addAction(f.SelectanotherDISK1);

  connectCommand(f.CreateDisk1, &EditorCommands::CreateDisk1Click);
  connectCommand(f.DeleteDriveLayout1, &EditorCommands::DeleteDriveLayout1Click);
  connectCommand(f.CreatePartition1, &EditorCommands::CreatePartition1Click);
  connectCommand(f.DeletePa1, &EditorCommands::DeletePa1Click);
  connectCommand(f.ChangePartition1, &EditorCommands::ChangePartition1Click);
  connectCommand(f.ChangePartitionBootMBR1, &EditorCommands::ChangePartitionBootMBR1Click);
  connectCommand(f.ChangeDiskID1, &EditorCommands::ChangeDiskID1Click);
  connectCommand(f.SetasPartitionNumber11, &EditorCommands::SetasPartitionNumber11Click);
  connectCommand(f.ChangePartitionTypeGPT1, &EditorCommands::ChangePartitionTypeGPT1Click);
  connectCommand(f.ChangePartitionAttributesGPT1, &EditorCommands::ChangePartitionAttributesGPT1Click);
  connectCommand(f.Refresh1, &EditorCommands::Refresh1Click);
  connectCommand(f.SelectanotherDISK1, &EditorCommands::SelectanotherDISK1Click);
}

// Errors must not unwind through the toolkit's signal delivery: they are
// caught here, at the edge of our own code, and reported.
void Tfrmparteditor::connectCommand(QAction* item, CommandOutcome (EditorCommands::*handler)()) {
  connect(item, &QAction::triggered, this, [this, handler] {
    try {
      (m_commands.*handler)();
    } catch (const std::exception& error) {
      ShowErrorReport(QString::fromStdString(error.what()));
    }
  });
}

void Tfrmparteditor::FormShow() {
  raise();
  activateWindow();
  m_state.diskPath = kFirstDisk;
  setWindowTitle(QString::fromStdString(WindowCaption(m_state.diskPath)));
  RefreshLayoutView();
}

void Tfrmparteditor::RefreshLayoutView() { kestrin::RefreshLayoutView(m_state.diskPath, m_state.view, *m_target); }

void Tfrmparteditor::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window is shown once per run; a restore from the task bar is no show.
  if (m_shown) return;
  m_shown = true;
  widenToShowEveryColumn();
  FormShow();
}

// The form's client width fits its columns in the form's own font; with a
// wider font the window grows by what the columns need beyond the list.
void Tfrmparteditor::widenToShowEveryColumn() {
  QTreeWidget* list = m_form->ListView1;
  int missing = list->header()->length() - list->viewport()->width();
  if (missing > 0) resize(width() + missing, height());
}

void Tfrmparteditor::closeEvent(QCloseEvent* event) {
  // Freed once closed; being the main window, that ends the program.
  setAttribute(Qt::WA_DeleteOnClose);
  event->accept();
}

bool Tfrmparteditor::eventFilter(QObject* watched, QEvent* event) {
  QTreeWidget* list = m_form->ListView1;
  if (watched == list && event->type() == QEvent::KeyPress) {
    // Shift+F10 opens the popup menu as the menu key does, at the selected row.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
      const QList<QTreeWidgetItem*> selected = list->selectedItems();
      const QRect row = selected.isEmpty() ? QRect() : list->visualItemRect(selected.front());
      m_popup->popup(list->viewport()->mapToGlobal(row.isValid() ? row.center() : QPoint(0, 0)));
      return true;
    }
  }
  if (!m_tableDrawn && m_shown && event->type() == QEvent::Paint && watched == m_form->ListView1->viewport()) {
    m_tableDrawn = true;
    bool handled = QWidget::eventFilter(watched, event);
    // After this paint has finished: the table is on screen.
    QMetaObject::invokeMethod(this, &Tfrmparteditor::firstTableDrawn, Qt::QueuedConnection);
    return handled;
  }
  return QWidget::eventFilter(watched, event);
}

int Tfrmparteditor::rowCount() const { return m_form->ListView1->topLevelItemCount(); }

int Tfrmparteditor::selectedIndex() const {
  QList<QTreeWidgetItem*> selected = m_form->ListView1->selectedItems();
  if (selected.isEmpty()) return -1;
  return m_form->ListView1->indexOfTopLevelItem(selected.front());
}

ViewRow Tfrmparteditor::row(int index) const {
  QTreeWidgetItem* item = m_form->ListView1->topLevelItem(index);
  if (item == nullptr) throw KestrinError("no row " + std::to_string(index));
  return RowOfItem(*item);
}

void Tfrmparteditor::setCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

// The outcome texts of the whole-disk commands would be overwritten by the
// redraw 100 ms later; they stay readable as the status bar's tool tip.
void Tfrmparteditor::setOutcomeText(const std::string& text) {
  m_outcomeText = QString::fromStdString(text);
  m_form->StatusBar1->setToolTip(m_outcomeText);
}

}  // namespace kestrin
