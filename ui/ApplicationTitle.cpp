#include "ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace kestrin {

QString ApplicationTitleFromPath(const QString& executablePath) {
  QString name = QFileInfo(executablePath).fileName();
  qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

QString ApplicationTitle() { return ApplicationTitleFromPath(QCoreApplication::applicationFilePath()); }

QString ErrorReportText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

}  // namespace kestrin
