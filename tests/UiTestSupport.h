#pragma once
// Helpers for the window tests: one application object on the offscreen
// platform, a way to answer the next modal window from inside its own loop,
// and demo-like disk images made by the peers.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "KestrinApplication.h"
#include "PeerImages.h"

// The font library keeps a cache for the life of the process, which the
// leak checker of sanitizer builds would otherwise report at exit.
extern "C" __attribute__((used)) inline const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace kestrin::test {

// The offscreen platform says so for every window it cannot raise or hint;
// that noise hides what matters in the test output.
inline QtMessageHandler& StandardMessageHandler() {
  static QtMessageHandler handler = nullptr;
  return handler;
}
inline void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QStringLiteral("This plugin does not support"))) return;
  if (StandardMessageHandler() != nullptr) StandardMessageHandler()(type, context, text);
}

// The application object of the test program, created on first use.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "UiTest";
  static char* argv[] = {name, nullptr};
  static KestrinApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    StandardMessageHandler() = qInstallMessageHandler(QuietOffscreenNotes);
    auto* application = new KestrinApplication(argc, argv);
    // Tests open and close windows one after another without a loop to end.
    application->setQuitOnLastWindowClosed(false);
    return application;
  }();
  return *app;
}

// Calls `answer` with the next modal window as soon as it is up (from inside
// its modal loop). `answer` must close it. Gives up after `timeoutMs`.
inline void OnNextModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000) {
  auto* timer = new QTimer();
  auto waited = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, waited, timeoutMs] {
    *waited += 10;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
    } else if (*waited > timeoutMs) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

// What a message box showed.
struct SeenBox {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool hasParent = false;
};

// Records the next modal message box and presses `press` on it.
inline void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton press = QMessageBox::Ok) {
  OnNextModal([&seen, press](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      modal->close();
      return;
    }
    seen.seen = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.hasParent = box->parentWidget() != nullptr;
    box->button(press)->click();
  });
}

inline constexpr std::uint64_t kDemoDiskSize = 256ull << 20;

// An MBR disk: a bootable NTFS entry, a FAT32 entry, an extended entry with
// two logical drives. Returns sfdisk's complaint, empty on success.
inline std::string MakeMbrDemoImage(const std::string& image) {
  return MakeSfdiskImage(image, kDemoDiskSize,
                         "label: dos\n"
                         "label-id: 0x4b657374\n"
                         "start=2048, size=100MiB, type=7, bootable\n"
                         "size=40MiB, type=c\n"
                         "type=5\n"
                         "size=30MiB, type=83\n"
                         "type=82\n");
}

// A GPT disk with five typed entries. Returns sgdisk's complaint, empty on
// success.
inline std::string MakeGptDemoImage(const std::string& image) {
  return MakeSgdiskImage(
      image, kDemoDiskSize,
      {"-n", "1:2048:+32M", "-t", "1:EF00",   "-c", "1:EFI system", "-n", "2:0:+16M", "-t", "2:0C01", "-n", "3:0:+64M",
       "-t", "3:0700",      "-n", "4:0:+64M", "-t", "4:8300",       "-n", "5:0:+16M", "-t", "5:8200", "-A", "4:set:2"});
}

}  // namespace kestrin::test
