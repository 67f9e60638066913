#include "ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <string>

#include "ApplicationTexts.h"

namespace kestrin {

QString ApplicationTitleFromPath(const QString& executablePath) {
  return QString::fromStdString(ApplicationTitleFromPath(QFileInfo(executablePath).fileName().toStdString()));
}

QString ApplicationTitle() { return ApplicationTitleFromPath(QCoreApplication::applicationFilePath()); }

QString ErrorReportText(const QString& message) {
  return QString::fromStdString(ErrorReportText(message.toStdString()));
}

}  // namespace kestrin
