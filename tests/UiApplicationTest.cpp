// The application's title, the error report's text, and the report of an
// error that escapes an event handler, after which the program goes on.

#include <gtest/gtest.h>

#include <QEvent>
#include <QIcon>
#include <QObject>
#include <stdexcept>

#include "ApplicationTitle.h"
#include "Errors.h"
#include "UiTestSupport.h"

namespace kestrin::test {
namespace {

TEST(ApplicationTitle, IsTheFileNameUpToItsFirstFullStopWithTheRestLowered) {
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/opt/kestrin/Kestrin")), QStringLiteral("Kestrin"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("C:/Programs/KESTRIN.EXE")), QStringLiteral("Kestrin"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/x/kESTRIN.v2.exe")), QStringLiteral("kestrin"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("/x.d/UiApplicationTest")), QStringLiteral("Uiapplicationtest"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral("K")), QStringLiteral("K"));
  EXPECT_EQ(ApplicationTitleFromPath(QStringLiteral(".hidden")), QString());
}

TEST(ErrorReportText, AppendsAFullStopOnlyAfterACharacterAboveIt) {
  EXPECT_EQ(ErrorReportText(QStringLiteral("'x' n'est pas une valeur entière correcte")),
            QStringLiteral("'x' n'est pas une valeur entière correcte."));
  EXPECT_EQ(ErrorReportText(QStringLiteral("failed:Access is denied")), QStringLiteral("failed:Access is denied."));
  EXPECT_EQ(ErrorReportText(QStringLiteral("ends in a digit 0")), QStringLiteral("ends in a digit 0."));  // '0' is 48
  EXPECT_EQ(ErrorReportText(QStringLiteral("already.")), QStringLiteral("already."));
  EXPECT_EQ(ErrorReportText(QStringLiteral("trailing blank ")), QStringLiteral("trailing blank "));
  EXPECT_EQ(ErrorReportText(QStringLiteral("dash-")), QStringLiteral("dash-"));   // '-' is 45
  EXPECT_EQ(ErrorReportText(QStringLiteral("slash/")), QStringLiteral("slash/."));  // '/' is 47
  EXPECT_EQ(ErrorReportText(QStringLiteral("bang!")), QStringLiteral("bang!"));   // '!' is 33
  EXPECT_EQ(ErrorReportText(QString()), QString());
}

// Every window has the program's icon, sharp at the frame's and the task
// bar's sizes (the theme's, or the program's own where no theme has it).
TEST(ApplicationIcon, IsTheProgramsOwnAtEverySizeItWasDrawnAt) {
  const QIcon icon = TestApplication().windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 48, 256}) {
    EXPECT_EQ(icon.actualSize(QSize(size, size)), QSize(size, size)) << size;
  }
}

// An object whose event handler raises, as a command handler might.
class Raising : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw KestrinError("IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Access is denied");
    if (e->type() == QEvent::Type(QEvent::User + 1)) {
      ++handled;
      return true;
    }
    return QObject::event(e);
  }
  int handled = 0;
};

TEST(ApplicationErrorReport, ShowsAnEscapedErrorWithErrorIconAndTitleAndGoesOn) {
  QApplication& app = TestApplication();
  Raising object;
  SeenBox report;
  AnswerNextBox(report);
  QEvent raising(QEvent::User);
  EXPECT_NO_THROW(app.notify(&object, &raising));
  ASSERT_TRUE(report.seen);
  EXPECT_EQ(report.title, ApplicationTitle());
  EXPECT_EQ(report.title, QStringLiteral("Uiapplicationtest"));
  EXPECT_EQ(report.icon, QMessageBox::Critical);
  EXPECT_EQ(report.buttons, QMessageBox::Ok);
  EXPECT_EQ(report.text, QStringLiteral("IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:Access is denied."));

  // The next event is delivered as usual.
  QEvent ordinary(QEvent::Type(QEvent::User + 1));
  EXPECT_TRUE(app.notify(&object, &ordinary));
  EXPECT_EQ(object.handled, 1);
}

}  // namespace
}  // namespace kestrin::test
