#include "ScriptedInteraction.h"

#include <algorithm>
#include <cctype>
#include <istream>

namespace kestrin::cli {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::optional<std::string> ScriptedInteraction::prompt(const std::string&, const std::string&,
                                                        const std::string& initial) {
  const std::size_t asked = m_promptsAsked++;
  return asked < m_answers.promptAnswers.size() ? m_answers.promptAnswers[asked] : initial;
}

bool ScriptedInteraction::confirm(const std::string& question) {
  m_confirmationAsked = true;
  if (!m_answers.diskNote.empty()) m_failures.note(m_answers.diskNote + "\n");
  switch (m_confirmation) {
    case Confirmation::Yes:
    case Confirmation::DryRun:
      m_failures.note(question + (m_confirmation == Confirmation::Yes ? " [y/N] yes (--yes)\n"
                                                                       : " [y/N] yes (--dry-run: nothing is written)\n"));
      m_confirmed = true;
      return true;
    case Confirmation::Refuse:
      m_failures.note(question + "\n");
      m_failures.report("refusing to write: standard input is not a terminal to confirm on; give --yes to confirm");
      return false;
    case Confirmation::Ask:
      break;
  }
  m_failures.note(question + " [y/N] ");
  std::string answer;
  if (!std::getline(m_terminal, answer)) m_failures.note("\n");
  answer = lowered(trimmed(answer));
  m_confirmed = answer == "y" || answer == "yes";
  if (!m_confirmed) m_failures.report("not confirmed; nothing written");
  return m_confirmed;
}

bool ScriptedInteraction::confirmDefaultNo(const std::string& question) {
  m_failures.note(question + (m_answers.force ? " [y/N] yes (--force)\n" : " [y/N] no\n"));
  if (!m_answers.force) m_failures.report("not confirmed; nothing written (give --force to replace it)");
  return m_answers.force;
}

std::optional<CreatePartitionDialogResult> ScriptedInteraction::createPartitionDialog(
    const CreatePartitionDialogInput& input) {
  CreatePartitionDialogResult result;
  result.boot = m_answers.boot;
  result.partitionNumber = m_answers.partitionNumber;
  // What the dialog proposes goes back unchanged, as when OK is pressed at once.
  result.offsetText = m_answers.offsetText.value_or(input.offsetText);
  result.sizeText = m_answers.sizeText.value_or(input.sizeText);
  if (m_answers.typeText) {
    result.typeText = *m_answers.typeText;
  } else if (input.types.preselected >= 0 &&
             static_cast<std::size_t>(input.types.preselected) < input.types.items.size()) {
    result.typeText = input.types.items[static_cast<std::size_t>(input.types.preselected)];
  }
  m_failures.note("offset " + result.offsetText + " bytes, size " + result.sizeText + " MB, type " +
                  result.typeText + (result.boot ? ", boot" : "") + "\n");
  return result;
}

std::optional<std::string> ScriptedInteraction::changeTypeDialog(const TypeNameList& types) {
  if (m_answers.typeText) return m_answers.typeText;
  if (types.preselected < 0 || static_cast<std::size_t>(types.preselected) >= types.items.size()) return std::nullopt;
  return types.items[static_cast<std::size_t>(types.preselected)];
}

}  // namespace kestrin::cli
