#pragma once
// Everything the commands and the core show the user lands here: the line
// goes to standard error. The editor commands say themselves what they came
// to (CommandOutcome); the reading commands count the failures reported.

#include <ostream>
#include <string>

#include "Messages.h"

namespace kestrin::cli {

class FailureLog : public MessageSink {
 public:
  explicit FailureLog(std::ostream& errors) : m_errors(errors) {}

  void showMessage(const std::string& text) override { report(text); }
  // Writes "kestrin-cli: <text>" to standard error and marks the run failed.
  void report(const std::string& text);
  // A line for the user that is no failure (the confirmation question).
  void note(const std::string& text);
  bool failed() const { return m_count > 0; }
  // How many failures were reported so far.
  int count() const { return m_count; }

 private:
  std::ostream& m_errors;
  int m_count = 0;
};

}  // namespace kestrin::cli
