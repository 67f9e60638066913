#pragma once
// The editor commands' questions answered with the real windows: message
// boxes, the one-line input box, the three dialogs, and the waits.

#include "Interaction.h"

class QWidget;

namespace kestrin {

class QtInteraction : public Interaction {
 public:
  // `owner` (the main window) owns the dialogs and the plain messages.
  explicit QtInteraction(QWidget* owner) : m_owner(owner) {}

  void message(const std::string& text) override;
  std::optional<std::string> prompt(const std::string& caption, const std::string& text,
                                    const std::string& initial) override;
  bool confirm(const std::string& question) override;
  bool confirmDefaultNo(const std::string& question) override;
  std::optional<CreatePartitionDialogResult> createPartitionDialog(const CreatePartitionDialogInput& input) override;
  std::optional<std::string> changeTypeDialog(const TypeNameList& types) override;
  std::optional<int> partitionStyleDialog() override;
  std::optional<std::string> diskChooser() override;
  void sleep(int milliseconds) override;

 private:
  QWidget* m_owner;
};

}  // namespace kestrin
