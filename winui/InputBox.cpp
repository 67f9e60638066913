#include "InputBox.h"

#include "Forms.h"
#include "WinText.h"

namespace kestrin {

namespace {

struct Question {
  std::string caption;
  std::string prompt;
  std::string text;  // the initial text, then the answer
};

INT_PTR handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Question* question = DialogState<Question>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG: {
      SetTextOf(dialog, question->caption);
      SetTextOf(::GetDlgItem(dialog, IDC_InputPrompt), question->prompt);
      HWND edit = ::GetDlgItem(dialog, IDC_InputText);
      SetTextOf(edit, question->text);
      // The initial text is selected, so typing replaces it.
      ::SendMessageW(edit, EM_SETSEL, 0, -1);
      ::SetFocus(edit);
      return FALSE;
    }
    case WM_COMMAND:
      return EndWithOkOrCancel(dialog, wParam, [&] { question->text = TextOf(::GetDlgItem(dialog, IDC_InputText)); });
    default:
      return FALSE;
  }
}

}  // namespace

std::optional<std::string> InputBox(HWND owner, const std::string& caption, const std::string& prompt,
                                    const std::string& initial) {
  Question question{caption, prompt, initial};
  if (ShowModal<handle>(owner, IDD_InputBox, &question) != IDC_btnok) return std::nullopt;
  return question.text;
}

}  // namespace kestrin
