#include "KestrinApplication.h"

#include <QFont>
#include <QIcon>
#include <exception>

#include "MessageBoxes.h"

// The icons are compiled into this static library; its resources are
// registered by name, outside any namespace.
static void initIconResources() { Q_INIT_RESOURCE(icons); }

namespace kestrin {

KestrinApplication::KestrinApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The desktop's theme has the icon when the program is installed; the
  // program carries its own for a run from the build folder.
  initIconResources();
  QIcon own;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) own.addFile(QStringLiteral(":/icons/kestrin-%1.png").arg(size));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("kestrin"), own));
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
