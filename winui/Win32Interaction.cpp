#include "Win32Interaction.h"

#include "InputBox.h"
#include "MessageBoxes.h"
#include "ufrmcreatepart.h"
#include "ufrmdisks.h"
#include "ufrmpartstyle.h"

namespace kestrin {

// Every dialog lives for one question: created with the main window as its
// owner, shown modally, read before it closes, destroyed as it closes.

void Win32Interaction::message(const std::string& text) { ShowPlainMessage(m_owner, text); }

std::optional<std::string> Win32Interaction::prompt(const std::string& caption, const std::string& text,
                                                    const std::string& initial) {
  return InputBox(m_owner, caption, text, initial);
}

bool Win32Interaction::confirm(const std::string& question) { return AskYesNo(question); }

bool Win32Interaction::confirmDefaultNo(const std::string& question) { return AskYesNoDefaultNo(question); }

std::optional<CreatePartitionDialogResult> Win32Interaction::createPartitionDialog(
    const CreatePartitionDialogInput& input) {
  return ShowCreatePartition(m_owner, input);
}

std::optional<std::string> Win32Interaction::changeTypeDialog(const TypeNameList& types) {
  return ShowChangeType(m_owner, types);
}

std::optional<int> Win32Interaction::partitionStyleDialog() { return ShowPartitionStyle(m_owner); }

std::optional<std::string> Win32Interaction::diskChooser() { return ShowDiskChooser(m_owner); }

void Win32Interaction::sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace kestrin
