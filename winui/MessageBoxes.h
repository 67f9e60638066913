#pragma once
// The message windows of the native program: the plain message, the Yes/No
// confirmation, the application-wide error report, and the message sink
// through which the core's operations show their failures.

#include <windows.h>

#include <exception>
#include <string>
#include <type_traits>

#include "Messages.h"

namespace kestrin {

// The application's title: this executable's name, as the editor layer
// makes it (ApplicationTexts.h).
std::string ApplicationTitle();

// A plain message: the text, one OK button, no icon, captioned with the
// application's title; modal to `owner`.
void ShowPlainMessage(HWND owner, const std::string& text);

// The confirmation: the question with Yes and No, captioned "Brimvale", no
// icon and no owner window, so the main window stays enabled. False only
// when the answer is No.
bool AskYesNo(const std::string& question);
// The same box with No as its default button: true only when the answer is Yes.
bool AskYesNoDefaultNo(const std::string& question);

// The report of an error that escaped a handler: error icon, one OK button,
// the application's title as caption, the text as ErrorReportText gives it,
// modal to the active window. The program goes on afterwards.
void ShowErrorReport(const std::string& message);

// Runs the body of a window or dialog procedure. An error it raises is
// shown in the error report and `fallback` is returned instead: no
// exception ever unwinds through the system's message dispatch.
template <typename Body>
std::invoke_result_t<Body&> ReportingErrors(Body&& body, std::invoke_result_t<Body&> fallback) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    ShowErrorReport(error.what());
  } catch (...) {
    ShowErrorReport("Unknown error");
  }
  return fallback;
}

// Shows the core's messages as plain messages over the active window.
class MessageBoxSink : public MessageSink {
 public:
  void showMessage(const std::string& text) override;
};

}  // namespace kestrin
