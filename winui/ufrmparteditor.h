#pragma once
// The main window: the table of the current disk's entry slots, its status
// line, and the popup menu of editor commands. The window renders what the
// view functions compute and hands every menu command to EditorCommands;
// its window procedure only dispatches, and an error a command does not
// trap itself is shown in the application-wide error report, after which
// the window goes on.

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <memory>
#include <string>

#include "EditorCommands.h"
#include "ListViewTarget.h"
#include "Win32Interaction.h"

namespace kestrin {

class Tfrmparteditor : private EditorTable {
 public:
  // Makes the window, hidden, with its controls and popup menu; caption
  // "Partition Editor", client area 705 x 348, in the centre of the screen.
  Tfrmparteditor();
  ~Tfrmparteditor() override;
  Tfrmparteditor(const Tfrmparteditor&) = delete;
  Tfrmparteditor& operator=(const Tfrmparteditor&) = delete;

  HWND handle() const { return m_window; }
  // Shows the window. Its first show runs FormShow once the window is up.
  void show();

  // Brings the window to the front, points it at \\.\PhysicalDrive0, sets
  // the caption and draws the table.
  void FormShow();
  // Re-reads the layout of the current disk and redraws; never throws.
  void RefreshLayoutView();

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  // The form's font at the window's DPI; the caller owns it.
  HFONT makeFont() const;
  // Where the group box's inside begins, from the font's height.
  void measureFont();
  void setStatusPanel();
  void setIcons();
  // WM_DPICHANGED: everything drawn at `dpi`, the window at `proposed`.
  void rescale(UINT dpi, const RECT& proposed);
  void addColumns();
  void layoutControls();
  void widenToShowEveryColumn();
  void openPopupMenu(LPARAM at);
  void showTypeText(NMLVGETINFOTIPW& tip) const;
  // Runs the editor command of menu item `id`; false for any other id.
  bool runCommand(WORD id);

  // EditorTable: what the commands read and do through the window.
  int rowCount() const override;
  int selectedIndex() const override;
  ViewRow row(int index) const override;
  void refresh() override { RefreshLayoutView(); }
  void setCaption(const std::string& caption) override;
  void setOutcomeText(const std::string& text) override;

  HWND m_window = nullptr;
  HWND m_groupBox = nullptr;
  HWND m_list = nullptr;
  HWND m_statusBar = nullptr;
  HMENU m_menuResource = nullptr;
  HMENU m_popup = nullptr;  // PopupMenu1
  HFONT m_font = nullptr;
  UINT m_dpi = 96;                 // of the screen the window is on
  std::array<HICON, 2> m_icons{};  // ICON_BIG and ICON_SMALL, at m_dpi
  int m_groupBoxTop = 0;  // where the group box's inside begins, below its top edge
  Win32Interaction m_ui;
  EditorState m_state;
  EditorCommands m_commands{m_state, *this, m_ui};
  std::unique_ptr<ListViewTarget> m_target;
  std::string m_outcomeText;
  bool m_shown = false;
};

// The program's main window.
extern Tfrmparteditor* frmparteditor;

}  // namespace kestrin
