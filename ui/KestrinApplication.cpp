#include "KestrinApplication.h"

#include <exception>

#include "MessageBoxes.h"

namespace kestrin {

bool KestrinApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorReport(QString::fromStdString(error.what()));
  }
  return false;
}

}  // namespace kestrin
