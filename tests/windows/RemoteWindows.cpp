#include "RemoteWindows.h"

#include <commctrl.h>

#include <stdexcept>
#include <thread>

namespace kestrin::test {

namespace {

constexpr int kTextCapacity = 4096;
constexpr int kMaxStatusParts = 16;
constexpr Milliseconds kPollInterval{20};

}  // namespace

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

class RemoteProcess::Buffer {
 public:
  Buffer(HANDLE process, std::size_t size)
      : m_process(process),
        m_address(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {
    if (m_address == nullptr) throw std::runtime_error("no memory in the other process");
  }
  ~Buffer() { ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // The address inside the other process of byte `offset`.
  template <typename T = void>
  T* at(std::size_t offset = 0) const {
    return reinterpret_cast<T*>(static_cast<char*>(m_address) + offset);
  }
  void write(const void* data, std::size_t size, std::size_t offset = 0) const {
    ::WriteProcessMemory(m_process, at(offset), data, size, nullptr);
  }
  void read(void* data, std::size_t size, std::size_t offset = 0) const {
    ::ReadProcessMemory(m_process, at(offset), data, size, nullptr);
  }
  std::string readText(std::size_t offset, std::size_t characters) const {
    std::wstring text(characters, L'\0');
    read(text.data(), characters * sizeof(wchar_t), offset);
    return Utf8(text);
  }

 private:
  HANDLE m_process;
  void* m_address;
};

RemoteProcess::RemoteProcess(const std::string& program, const std::string& arguments) {
  std::wstring commandLine = Wide("\"" + program + "\" " + arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (!::CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_info)) {
    throw std::runtime_error("cannot start " + program + ": error " + std::to_string(::GetLastError()));
  }
}

RemoteProcess::~RemoteProcess() {
  if (::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(m_info.hProcess, 1);
  ::CloseHandle(m_info.hThread);
  ::CloseHandle(m_info.hProcess);
}

std::vector<HWND> RemoteProcess::windows(const std::wstring& windowClass) const {
  struct Search {
    DWORD process;
    const std::wstring& windowClass;
    std::vector<HWND> found;
  } search{m_info.dwProcessId, windowClass, {}};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == s.process && ::IsWindowVisible(window) && ClassOf(window) == s.windowClass) {
          s.found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

long RemoteProcess::waitForExit(Milliseconds timeout) {
  if (::WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  ::GetExitCodeProcess(m_info.hProcess, &code);
  return static_cast<long>(code);
}

std::vector<std::vector<std::string>> RemoteProcess::listRows(HWND list) const {
  Buffer buffer(m_info.hProcess, sizeof(LVITEMW) + kTextCapacity * sizeof(wchar_t));
  std::vector<std::vector<std::string>> rows;
  const auto count = ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = static_cast<int>(index);
    buffer.write(&item, sizeof(item));
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.at()));
    buffer.read(&item, sizeof(item));
    std::vector<std::string> texts;
    for (LPARAM column = 0; column <= item.lParam; ++column) {
      LVITEMW text{};
      text.iSubItem = static_cast<int>(column);
      text.pszText = buffer.at<wchar_t>(sizeof(LVITEMW));
      text.cchTextMax = kTextCapacity;
      buffer.write(&text, sizeof(text));
      const auto length =
          ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.at()));
      texts.push_back(buffer.readText(sizeof(LVITEMW), static_cast<std::size_t>(length)));
    }
    rows.push_back(texts);
  }
  return rows;
}

std::pair<std::string, int> RemoteProcess::listColumn(HWND list, int index) const {
  Buffer buffer(m_info.hProcess, sizeof(LVCOLUMNW) + kTextCapacity * sizeof(wchar_t));
  std::vector<wchar_t> zeros(kTextCapacity, L'\0');
  buffer.write(zeros.data(), zeros.size() * sizeof(wchar_t), sizeof(LVCOLUMNW));
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = buffer.at<wchar_t>(sizeof(LVCOLUMNW));
  column.cchTextMax = kTextCapacity;
  buffer.write(&column, sizeof(column));
  if (!::SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.at()))) {
    return {"", -1};
  }
  buffer.read(&column, sizeof(column));
  std::string caption = buffer.readText(sizeof(LVCOLUMNW), kTextCapacity);
  caption.resize(caption.find('\0'));
  return {caption, column.cx};
}

void RemoteProcess::selectRow(HWND list, int index) const {
  Buffer buffer(m_info.hProcess, sizeof(LVITEMW));
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  buffer.write(&state, sizeof(state));
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(buffer.at()));
  if (index < 0) return;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  buffer.write(&state, sizeof(state));
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.at()));
}

std::string RemoteProcess::statusText(HWND statusBar, int part) const {
  const auto length = LOWORD(::SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0));
  Buffer buffer(m_info.hProcess, (length + 1u) * sizeof(wchar_t));
  ::SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(buffer.at()));
  return buffer.readText(0, length);
}

std::vector<int> RemoteProcess::statusParts(HWND statusBar) const {
  Buffer buffer(m_info.hProcess, kMaxStatusParts * sizeof(int));
  const auto count = ::SendMessageW(statusBar, SB_GETPARTS, kMaxStatusParts, reinterpret_cast<LPARAM>(buffer.at()));
  std::vector<int> edges(static_cast<std::size_t>(count));
  buffer.read(edges.data(), edges.size() * sizeof(int));
  return edges;
}

std::string TextOf(HWND window) {
  std::wstring text(kTextCapacity, L'\0');
  const auto length = ::SendMessageW(window, WM_GETTEXT, kTextCapacity, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Utf8(text);
}

void SetText(HWND window, const std::string& text) {
  ::SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

bool WaitUntil(const std::function<bool()>& ready, Milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return ready();
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace kestrin::test
