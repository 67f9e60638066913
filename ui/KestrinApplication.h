#pragma once
// The application object. An error that escapes an event handler ends up
// here, is shown in the application-wide error report, and the program goes
// on.

#include <QApplication>

namespace kestrin {

class KestrinApplication : public QApplication {
 public:
  // Also maps the forms' font, which only Windows has, to a narrow font of
  // the machine, so the forms keep roughly their intended proportions, and
  // gives every window the program's icon.
  KestrinApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrin
