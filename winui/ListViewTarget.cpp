#include "ListViewTarget.h"

#include <commctrl.h>

#include "ControlIds.h"
#include "Errors.h"
#include "WinText.h"

namespace kestrin {

namespace {

constexpr int kStatusPanel = 0;
constexpr UINT kMbrItems[] = {IDM_ChangePartition1, IDM_ChangePartitionBootMBR1, IDM_ChangeDiskID1,
                              IDM_SetasPartitionNumber11};
constexpr UINT kGptItems[] = {IDM_ChangePartitionTypeGPT1, IDM_ChangePartitionAttributesGPT1};
// The longest text a cell holds: a type text with every description of its code.
constexpr int kCellCapacity = 4096;

std::string itemText(HWND list, int index, int column) {
  std::wstring text(kCellCapacity, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = kCellCapacity;
  const auto length =
      ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  text.resize(static_cast<std::size_t>(length));
  return Utf8(text);
}

}  // namespace

ListViewTarget::ListViewTarget(HWND list, HWND statusBar, HMENU menu,
                               std::function<void(const std::string&)> showMessage)
    : m_list(list), m_statusBar(statusBar), m_menu(menu), m_showMessage(std::move(showMessage)) {}

void ListViewTarget::clearRows() { ListView_DeleteAllItems(m_list); }

void ListViewTarget::setMenuState(const StyleMenuState& state) {
  for (UINT item : kMbrItems) ::EnableMenuItem(m_menu, item, MF_BYCOMMAND | (state.mbrItems ? MF_ENABLED : MF_GRAYED));
  for (UINT item : kGptItems) ::EnableMenuItem(m_menu, item, MF_BYCOMMAND | (state.gptItems ? MF_ENABLED : MF_GRAYED));
}

void ListViewTarget::setStatusText(const std::string& text) {
  ::SendMessageW(m_statusBar, SB_SETTEXTW, kStatusPanel, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void ListViewTarget::addRow(const ViewRow& row) {
  std::vector<std::string> texts{row.number};
  texts.insert(texts.end(), row.cells.begin(), row.cells.end());
  AddListRow(m_list, texts);
}

void ListViewTarget::showError(const std::string& message) { m_showMessage(message); }

void AddReportColumn(HWND list, const std::string& caption, int width) {
  const int index = Header_GetItemCount(ListView_GetHeader(list));
  std::wstring text = Wide(caption);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = text.data();
  column.cx = width;
  column.iSubItem = index;
  ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void AddListRow(HWND list, const std::vector<std::string>& texts) {
  std::wstring caption = Wide(texts.empty() ? std::string() : texts.front());
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = ListView_GetItemCount(list);
  item.pszText = caption.data();
  item.lParam = texts.empty() ? 0 : static_cast<LPARAM>(texts.size() - 1);
  const auto index = ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  for (std::size_t column = 1; column < texts.size(); ++column) {
    std::wstring cell = Wide(texts[column]);
    LVITEMW sub{};
    sub.iSubItem = static_cast<int>(column);
    sub.pszText = cell.data();
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
  }
}

ViewRow RowOfItem(HWND list, int index) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  if (!::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
    throw KestrinError("no row " + std::to_string(index));
  }
  ViewRow row;
  row.number = itemText(list, index, 0);
  for (LPARAM cell = 1; cell <= item.lParam; ++cell) row.cells.push_back(itemText(list, index, static_cast<int>(cell)));
  return row;
}

int SelectedRow(HWND list) { return ListView_GetNextItem(list, -1, LVNI_SELECTED); }

}  // namespace kestrin
