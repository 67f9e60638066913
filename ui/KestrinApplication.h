#pragma once
// The application object. An error that escapes an event handler ends up
// here, is shown in the application-wide error report, and the program goes
// on.

#include <QApplication>

namespace kestrin {

class KestrinApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrin
