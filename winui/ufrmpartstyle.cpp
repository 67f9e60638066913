#include "ufrmpartstyle.h"

#include "Forms.h"

namespace kestrin {

HWND frmpartstyle = nullptr;

namespace {

int checkedStyle(HWND dialog) {
  if (::IsDlgButtonChecked(dialog, IDC_rbgpt) == BST_CHECKED) return 1;
  if (::IsDlgButtonChecked(dialog, IDC_rbraw) == BST_CHECKED) return 2;
  return 0;
}

INT_PTR handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  int* style = DialogState<int>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      frmpartstyle = dialog;
      ::CheckRadioButton(dialog, IDC_rbmbr, IDC_rbraw, IDC_rbmbr);
      return TRUE;
    case WM_SHOWWINDOW:
      if (wParam) BringToFront(dialog);
      return FALSE;
    case WM_COMMAND:
      return EndWithOkOrCancel(dialog, wParam, [&] { *style = checkedStyle(dialog); });
    case WM_DESTROY:
      if (frmpartstyle == dialog) frmpartstyle = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::optional<int> ShowPartitionStyle(HWND owner) {
  int style = 0;
  if (ShowModal<handle>(owner, IDD_Tfrmpartstyle, &style) != IDC_btnok) return std::nullopt;
  return style;
}

}  // namespace kestrin
