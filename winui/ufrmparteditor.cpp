#include "ufrmparteditor.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "ControlIds.h"
#include "Dpi.h"
#include "Errors.h"
#include "Forms.h"
#include "MessageBoxes.h"
#include "ProgramIcon.h"
#include "TableColumns.h"
#include "WinText.h"

namespace kestrin {

Tfrmparteditor* frmparteditor = nullptr;

namespace {

constexpr const wchar_t* kWindowClass = L"Tfrmparteditor";
constexpr const char* kFormCaption = "Partition Editor";
constexpr const char* kFirstDisk = "\\\\.\\PhysicalDrive0";
// Sizes in pixels at 96 pixels per inch, scaled to the window's DPI.
constexpr int kClientWidth = 705;
constexpr int kClientHeight = 348;
constexpr int kFontHeight = -11;  // "MS Sans Serif", 8 points
constexpr int kStatusBarHeight = 19;
constexpr int kGroupBoxInset = 2;
constexpr std::size_t kTypeCell = 3;  // Offset, Length, HiddenSectors, Type
// Not clipping its children: the group box paints only its frame, and the
// window's own background shows through the rest of it.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
// A sizeable tool-window border; the program still has its button in the
// task bar, as it has on its home platform through its application window.
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_APPWINDOW;
// Posted by the first show, so that FormShow runs once the window is up.
constexpr UINT kFormShowMessage = WM_APP + 1;

// The popup menu's items and their handlers: the window procedure runs a
// command only through this table.
struct MenuCommand {
  WORD id;
  CommandOutcome (EditorCommands::*handler)();
};
constexpr MenuCommand kMenuCommands[] = {
    {IDM_CreateDisk1, &EditorCommands::CreateDisk1Click},
    {IDM_DeleteDriveLayout1, &EditorCommands::DeleteDriveLayout1Click},
    {IDM_CreatePartition1, &EditorCommands::CreatePartition1Click},
    {IDM_DeletePa1, &EditorCommands::DeletePa1Click},
    {IDM_ChangePartition1, &EditorCommands::ChangePartition1Click},
    {IDM_ChangePartitionBootMBR1, &EditorCommands::ChangePartitionBootMBR1Click},
    {IDM_ChangeDiskID1, &EditorCommands::ChangeDiskID1Click},
    {IDM_SetasPartitionNumber11, &EditorCommands::SetasPartitionNumber11Click},
    {IDM_ChangePartitionTypeGPT1, &EditorCommands::ChangePartitionTypeGPT1Click},
    {IDM_ChangePartitionAttributesGPT1, &EditorCommands::ChangePartitionAttributesGPT1Click},
    {IDM_Refresh1, &EditorCommands::Refresh1Click},
    {IDM_SelectanotherDISK1, &EditorCommands::SelectanotherDISK1Click},
};

void registerWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_Kestrin));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassExW(&windowClass);  // fails harmlessly when already registered
}

HWND createChild(HWND parent, const wchar_t* windowClass, DWORD style, int id, HFONT font) {
  HWND child =
      ::CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

Tfrmparteditor::Tfrmparteditor() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  registerWindowClass(instance, windowProcedure);
  // WM_CREATE makes the controls at the DPI of the screen the window is
  // made on, inside this call; the window then takes its size at that DPI.
  ::CreateWindowExW(kExStyle, kWindowClass, Wide(kFormCaption).c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  if (m_window == nullptr)
    throw KestrinError("the main window cannot be made (error " + std::to_string(::GetLastError()) + ")");
  m_ui.setOwner(m_window);
  RECT frame{0, 0, Scaled(kClientWidth, m_dpi), Scaled(kClientHeight, m_dpi)};
  AdjustFrame(frame, kStyle, kExStyle, m_dpi);
  ::SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  layoutControls();
  widenToShowEveryColumn();
  CentreOnScreen(m_window);
}

Tfrmparteditor::~Tfrmparteditor() {
  if (::IsWindow(m_window)) ::DestroyWindow(m_window);
  if (m_menuResource != nullptr) ::DestroyMenu(m_menuResource);
  if (m_font != nullptr) ::DeleteObject(m_font);
  for (HICON icon : m_icons) {
    if (icon != nullptr) ::DestroyIcon(icon);
  }
}

void Tfrmparteditor::show() { ::ShowWindow(m_window, SW_SHOW); }

LRESULT CALLBACK Tfrmparteditor::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Tfrmparteditor*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_window = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Tfrmparteditor*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return ReportingErrors([&] { return self->handleMessage(message, wParam, lParam); }, LRESULT{0});
}

LRESULT Tfrmparteditor::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      createControls();
      return 0;
    case WM_SIZE:
      layoutControls();
      return 0;
    case WM_DPICHANGED:
      // Moved to a screen of another DPI, or the screen's scale changed: the
      // font, columns and icons are made anew for it, and the window takes
      // the place the system proposes.
      rescale(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_SHOWWINDOW:
      // The window is shown once per run; FormShow follows that first show.
      if (wParam && !m_shown) {
        m_shown = true;
        ::PostMessageW(m_window, kFormShowMessage, 0, 0);
      }
      break;
    case kFormShowMessage:
      FormShow();
      return 0;
    case WM_SETFOCUS:
      // The keyboard goes on to the table, the window's only control.
      ::SetFocus(m_list);
      return 0;
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(lParam)->code == LVN_GETINFOTIPW) {
        showTypeText(*reinterpret_cast<NMLVGETINFOTIPW*>(lParam));
        return 0;
      }
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == m_list) {
        openPopupMenu(lParam);
        return 0;
      }
      break;
    case WM_COMMAND:
      if (runCommand(LOWORD(wParam))) return 0;
      break;
    case WM_DESTROY:
      // FormClose: the window is freed once closed, and being the main
      // window that ends the program.
      ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(m_window, message, wParam, lParam);
}

bool Tfrmparteditor::runCommand(WORD id) {
  auto command = std::find_if(std::begin(kMenuCommands), std::end(kMenuCommands),
                              [id](const MenuCommand& entry) { return entry.id == id; });
  if (command == std::end(kMenuCommands)) return false;
  (m_commands.*(command->handler))();
  return true;
}

void Tfrmparteditor::createControls() {
  m_dpi = WindowDpi(m_window);
  m_font = makeFont();
  // GroupBox1, without caption, fills the client area; the list and the
  // status bar lie inside its frame, beneath its top edge.
  m_groupBox = createChild(m_window, L"BUTTON", BS_GROUPBOX, IDC_GroupBox1, m_font);
  m_list = createChild(m_window, WC_LISTVIEWW, WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SINGLESEL, IDC_ListView1,
                       m_font);
  ListView_SetExtendedListViewStyle(m_list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
  m_statusBar = createChild(m_window, STATUSCLASSNAMEW,
                            WS_CLIPSIBLINGS | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER | SBARS_TOOLTIPS,
                            IDC_StatusBar1, m_font);
  ::SetWindowPos(m_groupBox, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  setStatusPanel();
  addColumns();
  measureFont();
  setIcons();

  m_menuResource = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_PopupMenu1));
  m_popup = ::GetSubMenu(m_menuResource, 0);
  m_target = std::make_unique<ListViewTarget>(m_list, m_statusBar, m_popup,
                                              [this](const std::string& text) { m_ui.message(text); });
  // A window made hidden has its first WM_SIZE only when it is shown; the
  // controls need their places before that, to measure the columns.
  layoutControls();
}

HFONT Tfrmparteditor::makeFont() const {
  return ::CreateFontW(Scaled(kFontHeight, m_dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       L"MS Sans Serif");
}

void Tfrmparteditor::measureFont() {
  HDC dc = ::GetDC(m_window);
  HGDIOBJ previous = ::SelectObject(dc, m_font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, previous);
  ::ReleaseDC(m_window, dc);
  m_groupBoxTop = metrics.tmHeight + Scaled(kGroupBoxInset, m_dpi);
}

void Tfrmparteditor::setStatusPanel() {
  int parts[] = {Scaled(kStatusPanelWidth, m_dpi)};
  ::SendMessageW(m_statusBar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
}

// The frame's and the task bar's icons, each drawn at its own size for the
// DPI rather than one size stretched.
void Tfrmparteditor::setIcons() {
  const int sizes[] = {SystemMetric(SM_CXICON, m_dpi), SystemMetric(SM_CXSMICON, m_dpi)};
  const WPARAM kinds[] = {ICON_BIG, ICON_SMALL};
  for (std::size_t i = 0; i < m_icons.size(); ++i) {
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_Kestrin), IMAGE_ICON,
                                                 sizes[i], sizes[i], LR_DEFAULTCOLOR));
    ::SendMessageW(m_window, WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(icon));
    if (m_icons[i] != nullptr) ::DestroyIcon(m_icons[i]);
    m_icons[i] = icon;
  }
}

void Tfrmparteditor::rescale(UINT dpi, const RECT& proposed) {
  const UINT previous = m_dpi;
  m_dpi = dpi;
  HFONT font = makeFont();
  for (HWND control : {m_groupBox, m_list, m_statusBar}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (m_font != nullptr) ::DeleteObject(m_font);
  m_font = font;
  // The columns keep the widths they had, the user's own included, at the
  // new scale.
  for (int i = 0; i < Header_GetItemCount(ListView_GetHeader(m_list)); ++i) {
    ListView_SetColumnWidth(
        m_list, i, ::MulDiv(ListView_GetColumnWidth(m_list, i), static_cast<int>(dpi), static_cast<int>(previous)));
  }
  setStatusPanel();
  measureFont();
  setIcons();
  ::SetWindowPos(m_window, nullptr, proposed.left, proposed.top, proposed.right - proposed.left,
                 proposed.bottom - proposed.top, SWP_NOZORDER | SWP_NOACTIVATE);
  layoutControls();
}

void Tfrmparteditor::addColumns() {
  for (const TableColumn& column : kLayoutColumns) AddReportColumn(m_list, column.caption, Scaled(column.width, m_dpi));
  // Columns whose text has a fixed length grow on a font wider than the
  // form's, so that it is never cut: the Attributes and, here, Number's
  // caption.
  auto widen = [this](int column, const char* text) {
    const int need = ListView_GetStringWidth(m_list, Wide(text).c_str()) + Scaled(kCellPadding, m_dpi);
    if (need > ListView_GetColumnWidth(m_list, column)) ListView_SetColumnWidth(m_list, column, need);
  };
  widen(kNumberColumn, kLayoutColumns[kNumberColumn].caption);
  widen(kAttributesColumn, kWidestAttributesText);
}

void Tfrmparteditor::layoutControls() {
  RECT client{};
  ::GetClientRect(m_window, &client);
  ::MoveWindow(m_groupBox, 0, 0, client.right, client.bottom, TRUE);
  const int inset = Scaled(kGroupBoxInset, m_dpi);
  const int left = inset;
  const int width = std::max(0, static_cast<int>(client.right) - 2 * inset);
  const int bottom = std::max(m_groupBoxTop, static_cast<int>(client.bottom) - inset);
  const int statusTop = std::max(m_groupBoxTop, bottom - Scaled(kStatusBarHeight, m_dpi));
  ::MoveWindow(m_statusBar, left, statusTop, width, bottom - statusTop, TRUE);
  ::MoveWindow(m_list, left, m_groupBoxTop, width, statusTop - m_groupBoxTop, TRUE);
}

// The form's client width fits its columns in the form's own font; with a
// wider font the window grows by what the columns need beyond the list.
// (At another DPI the form, its font and its columns scale alike.)
void Tfrmparteditor::widenToShowEveryColumn() {
  HWND header = ListView_GetHeader(m_list);
  int columns = 0;
  for (int i = 0; i < Header_GetItemCount(header); ++i) columns += ListView_GetColumnWidth(m_list, i);
  RECT list{};
  ::GetClientRect(m_list, &list);
  const int missing = columns - static_cast<int>(list.right);
  if (missing <= 0) return;
  RECT frame{};
  ::GetWindowRect(m_window, &frame);
  ::SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left + missing, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

// The type text is often longer than its column: the whole of it shows
// when the pointer rests on the row.
void Tfrmparteditor::showTypeText(NMLVGETINFOTIPW& tip) const {
  const ViewRow row = RowOfItem(m_list, tip.iItem);
  if (row.cells.size() <= kTypeCell || tip.cchTextMax <= 0) return;
  const std::wstring text = Wide(row.cells[kTypeCell]);
  const std::size_t length = std::min(text.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
  text.copy(tip.pszText, length);
  tip.pszText[length] = L'\0';
}

void Tfrmparteditor::openPopupMenu(LPARAM at) {
  POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
  // Opened from the keyboard: at the table's top left corner.
  if (at == -1) {
    point = POINT{0, 0};
    ::ClientToScreen(m_list, &point);
  }
  ::TrackPopupMenuEx(m_popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y, m_window, nullptr);
}

void Tfrmparteditor::FormShow() {
  BringToFront(m_window);
  m_state.diskPath = kFirstDisk;
  setCaption(WindowCaption(m_state.diskPath));
  RefreshLayoutView();
}

void Tfrmparteditor::RefreshLayoutView() { kestrin::RefreshLayoutView(m_state.diskPath, m_state.view, *m_target); }

int Tfrmparteditor::rowCount() const { return ListView_GetItemCount(m_list); }

int Tfrmparteditor::selectedIndex() const { return SelectedRow(m_list); }

ViewRow Tfrmparteditor::row(int index) const { return RowOfItem(m_list, index); }

void Tfrmparteditor::setCaption(const std::string& caption) { SetTextOf(m_window, caption); }

// The outcome texts of the whole-disk commands would be overwritten by the
// redraw 100 ms later; they stay readable as the status panel's tip.
void Tfrmparteditor::setOutcomeText(const std::string& text) {
  m_outcomeText = text;
  ::SendMessageW(m_statusBar, SB_SETTIPTEXTW, 0, reinterpret_cast<LPARAM>(Wide(m_outcomeText).c_str()));
}

}  // namespace kestrin
