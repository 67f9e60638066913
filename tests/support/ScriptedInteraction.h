#pragma once
// An Interaction for tests of the editor commands: it answers every dialog,
// prompt and confirmation from a script and logs what was asked, in order.
// A FakeTable and a MessageRecorder can write into the same log, so that a
// test sees every step of a command in one list.

#include <optional>
#include <string>
#include <vector>

#include "Interaction.h"

namespace kestrin::test {

using Log = std::vector<std::string>;

class ScriptedInteraction : public Interaction {
 public:
  void message(const std::string& text) override { log.push_back("message:" + text); }
  std::optional<std::string> prompt(const std::string& caption, const std::string& text,
                                    const std::string& initial) override {
    log.push_back("prompt:" + caption + "|" + text + "|" + initial);
    return promptAnswer;
  }
  bool confirm(const std::string& question) override {
    log.push_back("confirm:" + question);
    return confirmAnswer;
  }
  bool confirmDefaultNo(const std::string& question) override {
    log.push_back("confirmDefaultNo:" + question);
    return replaceAnswer;
  }
  std::optional<CreatePartitionDialogResult> createPartitionDialog(const CreatePartitionDialogInput& input) override {
    log.push_back("createDialog");
    createInput = input;
    return createAnswer;
  }
  std::optional<std::string> changeTypeDialog(const TypeNameList& types) override {
    log.push_back("typeDialog");
    typeList = types;
    return typeAnswer;
  }
  std::optional<int> partitionStyleDialog() override {
    log.push_back("styleDialog");
    return styleAnswer;
  }
  std::optional<std::string> diskChooser() override {
    log.push_back("chooser");
    return chooserAnswer;
  }
  void sleep(int milliseconds) override { log.push_back("sleep:" + std::to_string(milliseconds)); }

  // The text of the last message shown, or "" when none was.
  std::string lastMessage() const {
    for (auto entry = log.rbegin(); entry != log.rend(); ++entry) {
      if (entry->rfind("message:", 0) == 0) return entry->substr(8);
    }
    return {};
  }

  Log log;
  // The script.
  std::optional<std::string> promptAnswer;
  bool confirmAnswer = true;
  bool replaceAnswer = false;
  std::optional<CreatePartitionDialogResult> createAnswer;
  std::optional<std::string> typeAnswer;
  std::optional<int> styleAnswer;
  std::optional<std::string> chooserAnswer;
  // What the commands put in.
  std::optional<CreatePartitionDialogInput> createInput;
  std::optional<TypeNameList> typeList;
};

}  // namespace kestrin::test
