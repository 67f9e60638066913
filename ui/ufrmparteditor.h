#pragma once
// The main window: the table of the current disk's entry slots, its status
// line, and the popup menu of editor commands. The window renders what the
// view functions compute and hands every menu command to EditorCommands;
// an error a command does not trap itself is shown in the application-wide
// error report and the window goes on.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "EditorCommands.h"

class QLabel;
class QMenu;

namespace Ui {
class frmparteditor;
}

namespace kestrin {

class ListViewTarget;

class Tfrmparteditor : public QWidget, private EditorTable {
  Q_OBJECT

 public:
  // `interaction` answers the commands' questions; without one the window
  // asks with real message boxes and dialogs. It must outlive the window.
  explicit Tfrmparteditor(Interaction* interaction = nullptr, QWidget* parent = nullptr);
  ~Tfrmparteditor() override;

  // Brings the window to the front, points it at \\.\PhysicalDrive0, sets
  // the caption and draws the table. Runs when the window is shown.
  void FormShow();
  // Re-reads the layout of the current disk and redraws; never throws.
  void RefreshLayoutView();

  const EditorState& state() const { return m_state; }
  QMenu* popupMenu() const { return m_popup; }
  // The outcome text of the last Create Disk or Delete Disk Layout.
  const QString& outcomeText() const { return m_outcomeText; }

 signals:
  // Emitted once, when the table is first painted after FormShow.
  void firstTableDrawn();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // EditorTable: what the commands read and do through the window.
  int rowCount() const override;
  int selectedIndex() const override;
  ViewRow row(int index) const override;
  void refresh() override { RefreshLayoutView(); }
  void setCaption(const std::string& caption) override;
  void setOutcomeText(const std::string& text) override;

  void buildPopupMenu();
  void widenToShowEveryColumn();
  void connectCommand(QAction* item, CommandOutcome (EditorCommands::*handler)());

  std::unique_ptr<Ui::frmparteditor> m_form;
  std::unique_ptr<Interaction> m_ownInteraction;
  Interaction& m_ui;
  QMenu* m_popup = nullptr;
  QLabel* m_statusPanel = nullptr;
  std::unique_ptr<ListViewTarget> m_target;
  EditorState m_state;
  EditorCommands m_commands;
  QString m_outcomeText;
  bool m_shown = false;
  bool m_tableDrawn = false;
};

// The program's main window.
extern QPointer<Tfrmparteditor> frmparteditor;

}  // namespace kestrin
