#include "QtInteraction.h"

#include <QInputDialog>
#include <QPointer>
#include <QThread>
#include <utility>

#include "MessageBoxes.h"
#include "ufrmcreatepart.h"
#include "ufrmdisks.h"
#include "ufrmpartstyle.h"

namespace kestrin {

// Every dialog lives for one question: created with the main window as its
// owner, kept in its global reference, shown modally, read, released.

void QtInteraction::message(const std::string& text) { ShowPlainMessage(m_owner, QString::fromStdString(text)); }

std::optional<std::string> QtInteraction::prompt(const std::string& caption, const std::string& text,
                                                 const std::string& initial) {
  bool ok = false;
  QString answer = QInputDialog::getText(m_owner, QString::fromStdString(caption), QString::fromStdString(text),
                                         QLineEdit::Normal, QString::fromStdString(initial), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

bool QtInteraction::confirm(const std::string& question) { return AskYesNo(QString::fromStdString(question)); }

bool QtInteraction::confirmDefaultNo(const std::string& question) {
  return AskYesNoDefaultNo(QString::fromStdString(question));
}

namespace {

// Creates the dialog, lets `fill` put values in, shows it modally and, on OK,
// copies what `read` takes out. The window is released in every case; the
// guard covers a window destroyed while it was up.
template <typename Form, typename Fill, typename Read>
auto askWith(QWidget* owner, QPointer<Form>& instance, Fill fill, Read read)
    -> std::optional<decltype(read(std::declval<Form&>()))> {
  QPointer<Form> dialog = new Form(owner);
  instance = dialog;
  fill(*dialog);
  std::optional<decltype(read(std::declval<Form&>()))> result;
  int modalResult = dialog->showModal();
  if (dialog && modalResult == kModalOk) result = read(*dialog);
  if (dialog) dialog->release();
  return result;
}

}  // namespace

std::optional<CreatePartitionDialogResult> QtInteraction::createPartitionDialog(
    const CreatePartitionDialogInput& input) {
  return askWith(
      m_owner, frmcreatepart, [&](Tfrmcreatepart& d) { d.fillCreate(input); },
      [](Tfrmcreatepart& d) { return d.values(); });
}

std::optional<std::string> QtInteraction::changeTypeDialog(const TypeNameList& types) {
  return askWith(
      m_owner, frmcreatepart, [&](Tfrmcreatepart& d) { d.fillTypeOnly(types); },
      [](Tfrmcreatepart& d) { return d.values().typeText; });
}

std::optional<int> QtInteraction::partitionStyleDialog() {
  return askWith(
      m_owner, frmpartstyle, [](Tfrmpartstyle&) {}, [](Tfrmpartstyle& d) { return d.style(); });
}

std::optional<std::string> QtInteraction::diskChooser() {
  // No row selected counts as Cancel.
  std::optional<std::optional<std::string>> chosen = askWith(
      m_owner, frmdisks, [](Tfrmdisks&) {}, [](Tfrmdisks& d) { return d.selectedDisk(); });
  if (!chosen) return std::nullopt;
  return *chosen;
}

void QtInteraction::sleep(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

}  // namespace kestrin
