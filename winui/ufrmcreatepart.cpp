#include "ufrmcreatepart.h"

#include <algorithm>

#include "Dpi.h"
#include "Forms.h"
#include "WinText.h"

namespace kestrin {

HWND frmcreatepart = nullptr;

namespace {

constexpr const char* kChangeTypeCaption = "Change Partition Type";
// Room beside a type name in the box: the edit field's margins and border,
// in pixels at 96 pixels per inch.
constexpr int kTypeTextMargin = 8;

enum class Mode { Create, TypeOnly };

struct CreatePartState {
  Mode mode;
  CreatePartitionDialogInput input;
  CreatePartitionDialogResult result;
};

// The control's rectangle in its dialog's client coordinates.
RECT placeOf(HWND control) {
  RECT place{};
  ::GetWindowRect(control, &place);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

void resizeBy(HWND control, int extraWidth) {
  const RECT place = placeOf(control);
  ::SetWindowPos(control, nullptr, 0, 0, place.right - place.left + extraWidth, place.bottom - place.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

void moveBy(HWND control, int dx) {
  const RECT place = placeOf(control);
  ::SetWindowPos(control, nullptr, place.left + dx, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The form's type box is too narrow for the longest names in most fonts,
// and an editable box would show such a name scrolled, without its first
// letters. The column of fields widens to what the longest name needs, the
// buttons keep their places at its right edge, and the window grows by as
// much.
void fitTypeNames(HWND dialog, const TypeNameList& types) {
  HWND box = ::GetDlgItem(dialog, IDC_cmb_type);
  HDC dc = ::GetDC(box);
  HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(box, WM_GETFONT, 0, 0)));
  int widest = 0;
  for (const std::string& name : types.items) {
    const std::wstring text = Wide(name);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    widest = std::max(widest, static_cast<int>(extent.cx));
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(box, dc);
  const RECT place = placeOf(box);
  const UINT dpi = WindowDpi(dialog);
  const int need = widest + SystemMetric(SM_CXVSCROLL, dpi) + Scaled(kTypeTextMargin, dpi);
  const int extra = need - (place.right - place.left);
  if (extra <= 0) return;
  for (int field : {IDC_txtoffset, IDC_txtsize, IDC_cmb_type, IDC_chkboot})
    resizeBy(::GetDlgItem(dialog, field), extra);
  for (int button : {IDC_btnok, IDC_btncancel}) moveBy(::GetDlgItem(dialog, button), extra);
  RECT frame{};
  ::GetWindowRect(dialog, &frame);
  ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + extra, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
  CentreOnScreen(dialog);
}

void fill(HWND dialog, const CreatePartState& state) {
  HWND box = ::GetDlgItem(dialog, IDC_cmb_type);
  ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::string& name : state.input.types.items) {
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
  }
  ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(state.input.types.preselected), 0);
  if (state.mode == Mode::Create) {
    SetTextOf(::GetDlgItem(dialog, IDC_txtoffset), state.input.offsetText);
    SetTextOf(::GetDlgItem(dialog, IDC_txtsize), state.input.sizeText);
  } else {
    SetTextOf(dialog, kChangeTypeCaption);
    for (int hidden : {IDC_txtoffset, IDC_txtsize, IDC_Label1, IDC_Label2, IDC_chkboot}) {
      ::ShowWindow(::GetDlgItem(dialog, hidden), SW_HIDE);
    }
  }
  fitTypeNames(dialog, state.input.types);
}

CreatePartitionDialogResult valuesOf(HWND dialog) {
  CreatePartitionDialogResult result;
  result.boot = ::IsDlgButtonChecked(dialog, IDC_chkboot) == BST_CHECKED;
  result.sizeText = TextOf(::GetDlgItem(dialog, IDC_txtsize));
  result.offsetText = TextOf(::GetDlgItem(dialog, IDC_txtoffset));
  result.typeText = TextOf(::GetDlgItem(dialog, IDC_cmb_type));
  return result;
}

// GroupBox1 fills the client area, also when the window is resized.
void fillClientWithGroupBox(HWND dialog) {
  RECT client{};
  ::GetClientRect(dialog, &client);
  ::SetWindowPos(::GetDlgItem(dialog, IDC_GroupBox1), nullptr, 0, 0, client.right, client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER);
}

INT_PTR handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  CreatePartState* state = DialogState<CreatePartState>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      frmcreatepart = dialog;
      fill(dialog, *state);
      return TRUE;
    case WM_SHOWWINDOW:
      if (wParam) BringToFront(dialog);
      return FALSE;
    case WM_SIZE:
      fillClientWithGroupBox(dialog);
      return TRUE;
    case WM_COMMAND:
      return EndWithOkOrCancel(dialog, wParam, [&] { state->result = valuesOf(dialog); });
    case WM_DESTROY:
      if (frmcreatepart == dialog) frmcreatepart = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

std::optional<CreatePartitionDialogResult> show(HWND owner, CreatePartState state) {
  if (ShowModal<handle>(owner, IDD_Tfrmcreatepart, &state) != IDC_btnok) return std::nullopt;
  return state.result;
}

}  // namespace

std::optional<CreatePartitionDialogResult> ShowCreatePartition(HWND owner, const CreatePartitionDialogInput& input) {
  return show(owner, CreatePartState{Mode::Create, input, {}});
}

std::optional<std::string> ShowChangeType(HWND owner, const TypeNameList& types) {
  std::optional<CreatePartitionDialogResult> values = show(owner, CreatePartState{Mode::TypeOnly, {"", "", types}, {}});
  if (!values) return std::nullopt;
  return values->typeText;
}

}  // namespace kestrin
