#include "MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

#include "ApplicationTitle.h"

namespace kestrin {

void ShowPlainMessage(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, owner);
  box.setObjectName(QStringLiteral("Message"));
  box.exec();
}

bool AskYesNo(const QString& question) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brimvale"), question, QMessageBox::Yes | QMessageBox::No);
  box.setObjectName(QStringLiteral("Confirmation"));
  return box.exec() != QMessageBox::No;
}

bool AskYesNoDefaultNo(const QString& question) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brimvale"), question, QMessageBox::Yes | QMessageBox::No);
  box.setObjectName(QStringLiteral("ReplaceQuestion"));
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void ShowErrorReport(const QString& message) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorReportText(message), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setObjectName(QStringLiteral("ErrorReport"));
  box.exec();
}

void MessageBoxSink::showMessage(const std::string& text) {
  ShowPlainMessage(QApplication::activeWindow(), QString::fromStdString(text));
}

}  // namespace kestrin
