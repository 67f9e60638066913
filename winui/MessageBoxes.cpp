#include "MessageBoxes.h"

#include "ApplicationTexts.h"
#include "WinText.h"

namespace kestrin {

namespace {
constexpr const char* kConfirmationCaption = "Brimvale";
}  // namespace

std::string ApplicationTitle() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return ApplicationTitleFromPath(Utf8(path));
}

void ShowPlainMessage(HWND owner, const std::string& text) {
  ::MessageBoxW(owner, Wide(text).c_str(), Wide(ApplicationTitle()).c_str(), MB_OK);
}

bool AskYesNo(const std::string& question) {
  return ::MessageBoxW(nullptr, Wide(question).c_str(), Wide(kConfirmationCaption).c_str(), MB_YESNO) != IDNO;
}

bool AskYesNoDefaultNo(const std::string& question) {
  return ::MessageBoxW(nullptr, Wide(question).c_str(), Wide(kConfirmationCaption).c_str(),
                       MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void ShowErrorReport(const std::string& message) {
  ::MessageBoxW(::GetActiveWindow(), Wide(ErrorReportText(message)).c_str(), Wide(ApplicationTitle()).c_str(),
                MB_OK | MB_ICONERROR);
}

void MessageBoxSink::showMessage(const std::string& text) { ShowPlainMessage(::GetActiveWindow(), text); }

}  // namespace kestrin
