#pragma once
// The window's questions answered from the command line: the dialogs and
// prompts from the arguments, the confirmation from the terminal or --yes,
// every message as a failure. The waits are skipped: nothing on the command
// line needs the screen to settle.

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FailureLog.h"
#include "Interaction.h"

namespace kestrin::cli {

// How a write is confirmed.
enum class Confirmation {
  Ask,     // ask y/N on the terminal
  Yes,     // --yes: answered yes without asking
  DryRun,  // --dry-run: answered yes, nothing being written
  Refuse,  // no terminal and no --yes: every write is refused
};

// The answers a command's dialog or prompt gets.
struct ScriptedAnswers {
  // The answers to the command's prompts, in the order it asks them
  // (set-boot, set-disk-id, set-attributes, set-name, resize,
  // set-attribute); a prompt past them keeps its initial text.
  std::vector<std::string> promptAnswers;
  std::optional<std::string> offsetText;    // create-partition; nullopt keeps the proposal
  std::optional<std::string> sizeText;      // create-partition; nullopt keeps the proposal
  std::optional<std::string> typeText;      // create-partition, set-type; nullopt keeps the preselection
  bool boot = false;                        // create-partition
  bool force = false;                       // create-partition --force: replace an entry in use
  std::uint32_t partitionNumber = 0;        // create-partition on a GPT: the partition's number
  std::optional<int> style;                 // create-disk: 0 MBR, 1 GPT, 2 RAW
  // Shown on a line of its own before the question, when not empty: which
  // file or device the disk number stands for.
  std::string diskNote;
};

class ScriptedInteraction : public Interaction {
 public:
  ScriptedInteraction(ScriptedAnswers answers, Confirmation confirmation, std::istream& terminal,
                      FailureLog& failures)
      : m_answers(std::move(answers)), m_confirmation(confirmation), m_terminal(terminal), m_failures(failures) {}

  void message(const std::string& text) override { m_failures.report(text); }
  std::optional<std::string> prompt(const std::string& caption, const std::string& text,
                                    const std::string& initial) override;
  bool confirm(const std::string& question) override;
  // Answered by --force (a create over an entry in use); without it, no.
  bool confirmDefaultNo(const std::string& question) override;
  std::optional<CreatePartitionDialogResult> createPartitionDialog(const CreatePartitionDialogInput& input) override;
  std::optional<std::string> changeTypeDialog(const TypeNameList& types) override;
  std::optional<int> partitionStyleDialog() override { return m_answers.style; }
  std::optional<std::string> diskChooser() override { return std::nullopt; }
  void sleep(int) override {}

  // True once the command asked for confirmation, i.e. it got as far as a write.
  bool confirmationAsked() const { return m_confirmationAsked; }
  // True when the answer was yes.
  bool confirmed() const { return m_confirmed; }

 private:
  ScriptedAnswers m_answers;
  Confirmation m_confirmation;
  std::istream& m_terminal;
  FailureLog& m_failures;
  std::size_t m_promptsAsked = 0;
  bool m_confirmationAsked = false;
  bool m_confirmed = false;
};

}  // namespace kestrin::cli
