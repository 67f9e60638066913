#pragma once
// Driving the windows of another process through window messages. Messages
// that carry a pointer to a record the system does not copy between
// processes (the list view's and the status bar's) get that record, and
// the text it points to, in memory allocated inside the other process.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kestrin::test {

using Milliseconds = std::chrono::milliseconds;

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// A program started for the test; it is closed (and, should it not end,
// terminated) when the object goes.
class RemoteProcess {
 public:
  // Starts `program` with the command line `arguments` (quoted as needed).
  RemoteProcess(const std::string& program, const std::string& arguments);
  ~RemoteProcess();
  RemoteProcess(const RemoteProcess&) = delete;
  RemoteProcess& operator=(const RemoteProcess&) = delete;

  // Its visible top-level windows of `windowClass`, in the system's order.
  std::vector<HWND> windows(const std::wstring& windowClass) const;
  // Waits until it ends; its exit code, or nullopt-like -1 after `timeout`.
  long waitForExit(Milliseconds timeout);

  // The list view's rows: each its caption and the sub-items the item was
  // given (the count the window keeps in the item's parameter).
  std::vector<std::vector<std::string>> listRows(HWND list) const;
  // Column `index` of a report list: its caption and width.
  std::pair<std::string, int> listColumn(HWND list, int index) const;
  // Selects row `index` of a list view alone; -1 clears the selection.
  void selectRow(HWND list, int index) const;
  // The text of panel `part` of a status bar, and the right edges of its panels.
  std::string statusText(HWND statusBar, int part) const;
  std::vector<int> statusParts(HWND statusBar) const;

 private:
  // `size` bytes inside the process, freed when the buffer goes.
  class Buffer;

  PROCESS_INFORMATION m_info{};
};

// The text of a control or window (WM_GETTEXT, which the system copies
// between processes).
std::string TextOf(HWND window);
// Replaces the text of an edit field or combo box.
void SetText(HWND window, const std::string& text);
// The class name of a window.
std::wstring ClassOf(HWND window);

// Calls `ready` every few milliseconds until it is true or `timeout` has
// passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& ready, Milliseconds timeout);

}  // namespace kestrin::test
