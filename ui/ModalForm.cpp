#include "ModalForm.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>

namespace kestrin {

void ModalForm::bindButtons(QAbstractButton* ok, QAbstractButton* cancel) {
  connect(ok, &QAbstractButton::clicked, this, [this] { done(kModalOk); });
  connect(cancel, &QAbstractButton::clicked, this, [this] { done(kModalCancel); });
}

void ModalForm::centreOnScreen() {
  QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

// Activating the window hands the keyboard focus to its first control in
// the tab order, as focusing the window itself does on the home platform.
void ModalForm::bringToFront() {
  raise();
  activateWindow();
}

}  // namespace kestrin
