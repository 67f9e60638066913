#pragma once
// The modal results the commands look at, and the dialog base that returns
// them: OK (1) from its OK button; Cancel (2) from its Cancel button, from
// Escape (where the window binds it) and from the title bar's close button.
// A caller treats anything but OK as Cancel.

#include <QDialog>

class QAbstractButton;

namespace kestrin {

inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

class ModalForm : public QDialog {
  Q_OBJECT

 public:
  using QDialog::QDialog;

  // Shows the window modally; returns its modal result.
  int showModal() { return exec(); }

  // Escape and the title bar's close button end here.
  void reject() override { done(kModalCancel); }

  // Asks for the window's release. The deletion is deferred to the event
  // loop, so the controls stay readable until the handler returns; asking
  // twice still destroys the window once.
  void release() { deleteLater(); }

 protected:
  void bindButtons(QAbstractButton* ok, QAbstractButton* cancel);
  // Places the window in the centre of the screen it is on.
  void centreOnScreen();
  // Brings the window to the foreground and gives it the keyboard focus.
  void bringToFront();
};

}  // namespace kestrin
