#pragma once
// The message windows of the program: the plain message, the Yes/No
// confirmation, the application-wide error report, and the message sink
// through which the core's operations show their failures.

#include <QString>

#include "Messages.h"

class QWidget;

namespace kestrin {

// A plain message: the text, one OK button, no icon, captioned with the
// application's title; modal to `owner` (or to the application).
void ShowPlainMessage(QWidget* owner, const QString& text);

// The confirmation: the question with Yes and No, captioned "Brimvale", no
// icon, no owner window. False only when the answer is No.
bool AskYesNo(const QString& question);
// The same box with No as its default button: true only when the answer is Yes.
bool AskYesNoDefaultNo(const QString& question);

// The report of an error that escaped an event handler: error icon, one OK
// button, the application's title as caption, the text as ErrorReportText
// gives it. The program goes on afterwards.
void ShowErrorReport(const QString& message);

// Shows the core's messages as plain messages over the active window.
class MessageBoxSink : public MessageSink {
 public:
  void showMessage(const std::string& text) override;
};

}  // namespace kestrin
