#include "KestrinApplication.h"

#include <QFont>
#include <exception>

#include "MessageBoxes.h"

namespace kestrin {

KestrinApplication::KestrinApplication(int& argc, char** argv) : QApplication(argc, argv) {
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans Narrow"),
                              QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial")});
}

bool KestrinApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorReport(QString::fromStdString(error.what()));
  }
  return false;
}

}  // namespace kestrin
