#include "ufrmdisks.h"

#include <commctrl.h>

#include "DiskList.h"
#include "Dpi.h"
#include "Forms.h"
#include "ListViewTarget.h"
#include "TableColumns.h"

namespace kestrin {

HWND frmdisks = nullptr;

namespace {

// The form's place on the screen at 96 pixels per inch; the chooser is not
// centred.
constexpr POINT kFormPosition{393, 123};

// The template scales with its font; the columns, given in pixels, and the
// place on the screen are scaled to the dialog's DPI here.
void setUp(HWND dialog) {
  HWND list = ::GetDlgItem(dialog, IDC_lvdisks);
  const UINT dpi = WindowDpi(dialog);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (const TableColumn& column : kDiskColumns) AddReportColumn(list, column.caption, Scaled(column.width, dpi));
  ::SetWindowPos(dialog, nullptr, Scaled(kFormPosition.x, dpi), Scaled(kFormPosition.y, dpi), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

// Moved to a screen of another DPI: the system scales the template's
// controls and font; the columns follow.
void rescaleColumns(HWND dialog, UINT dpi) {
  HWND list = ::GetDlgItem(dialog, IDC_lvdisks);
  for (std::size_t i = 0; i < kDiskColumns.size(); ++i) {
    ListView_SetColumnWidth(list, static_cast<int>(i), Scaled(kDiskColumns[i].width, dpi));
  }
}

std::optional<std::string> selectedDisk(HWND dialog) {
  HWND list = ::GetDlgItem(dialog, IDC_lvdisks);
  const int selected = SelectedRow(list);
  if (selected < 0) return std::nullopt;
  return RowOfItem(list, selected).number;
}

// OK: the selected row, if any, is the answer.
void choose(HWND dialog, std::optional<std::string>* chosen) {
  if (chosen != nullptr) *chosen = selectedDisk(dialog);
  ::EndDialog(dialog, IDOK);
}

INT_PTR handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // The hidden chooser of the start has no command, hence no record.
  auto* chosen = DialogState<std::optional<std::string>>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      frmdisks = dialog;
      setUp(dialog);
      return TRUE;
    case WM_SHOWWINDOW:
      // FormShow: the list is filled anew each time the window is shown.
      if (wParam) FillDiskList(::GetDlgItem(dialog, IDC_lvdisks));
      return FALSE;
    case WM_COMMAND:
      // Enter comes as IDOK and Escape as IDCANCEL: they do what the
      // buttons do.
      switch (LOWORD(wParam)) {
        case IDC_frmdisks_btnok:
        case IDOK:
          choose(dialog, chosen);
          return TRUE;
        case IDC_frmdisks_btncancel:
        case IDCANCEL:
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_NOTIFY: {
      // A double click on a row chooses that row.
      const auto* notice = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
      if (notice->hdr.idFrom == IDC_lvdisks && notice->hdr.code == NM_DBLCLK && notice->iItem >= 0) {
        if (chosen != nullptr) *chosen = RowOfItem(notice->hdr.hwndFrom, notice->iItem).number;
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE:
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_DPICHANGED:
      rescaleColumns(dialog, LOWORD(wParam));
      return FALSE;  // the system's own scaling of the dialog goes on
    case WM_DESTROY:
      if (frmdisks == dialog) frmdisks = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

HWND CreateHiddenDiskChooser(HWND owner) {
  return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_Tfrmdisks), owner,
                              GuardedDialogProcedure<handle>, 0);
}

std::optional<std::string> ShowDiskChooser(HWND owner) {
  std::optional<std::string> chosen;
  if (ShowModal<handle>(owner, IDD_Tfrmdisks, &chosen) != IDOK) return std::nullopt;
  return chosen;
}

void FillDiskList(HWND lvdisks) {
  ListView_DeleteAllItems(lvdisks);
  for (const DiskListRow& row : DiskListRows()) {
    AddListRow(lvdisks, {row.number, row.type, row.name, row.sizeMb, row.attributes});
  }
}

}  // namespace kestrin
