#pragma once
// What the forms of the native program share: the record a dialog keeps of
// its command, bringing a form to the front, and centring it.

#include <windows.h>

#include <functional>

#include "ControlIds.h"
#include "MessageBoxes.h"

namespace kestrin {

// The body of a dialog procedure: the system's signature, returning TRUE
// for a message it handled.
using DialogHandler = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog procedure around `Handle`: it only dispatches, and an error the
// body raises is reported (ReportingErrors), never passed to the system.
template <DialogHandler Handle>
INT_PTR CALLBACK GuardedDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return ReportingErrors([&] { return Handle(dialog, message, wParam, lParam); }, INT_PTR{FALSE});
}

// Shows dialog template `id` modally over `owner`, `state` being its record
// (DialogState). Returns the modal result: OK (1), Cancel (2), or -1 when the
// window could not be made.
template <DialogHandler Handle>
INT_PTR ShowModal(HWND owner, int id, void* state) {
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), owner, GuardedDialogProcedure<Handle>,
                           reinterpret_cast<LPARAM>(state));
}

// The OK and Cancel buttons of a dialog that binds them to Enter and
// Escape: OK lets `keepValues` copy the controls into the command's record
// before the window goes, then ends it with OK; Cancel (also Escape and the
// title bar's close button) ends it with Cancel. False for any other command.
inline bool EndWithOkOrCancel(HWND dialog, WPARAM wParam, const std::function<void()>& keepValues) {
  switch (LOWORD(wParam)) {
    case IDC_btnok:
      keepValues();
      ::EndDialog(dialog, IDC_btnok);
      return true;
    case IDC_btncancel:
      ::EndDialog(dialog, IDC_btncancel);
      return true;
    default:
      return false;
  }
}

// The command's record of `dialog`: the one passed to DialogBoxParamW,
// which arrives with WM_INITDIALOG and is kept in the dialog's user word for
// every later message. Null before WM_INITDIALOG.
template <typename State>
State* DialogState(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  return reinterpret_cast<State*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

// FormShow of the create-partition and partition-style dialogs: brings the
// window to the foreground and gives it the keyboard focus, which the
// dialog hands on to its first control in the tab order.
inline void BringToFront(HWND dialog) {
  ::SetForegroundWindow(dialog);
  ::SetFocus(dialog);
}

// Places `window` in the centre of the work area of the primary screen.
inline void CentreOnScreen(HWND window) {
  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT frame{};
  ::GetWindowRect(window, &frame);
  const int left = area.left + (area.right - area.left - (frame.right - frame.left)) / 2;
  const int top = area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2;
  ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace kestrin
