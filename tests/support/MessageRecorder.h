#pragma once
// A message sink that keeps what the operations would have shown, and also
// writes it ("sink:<text>") into a log shared with a ScriptedInteraction.

#include <string>
#include <vector>

#include "Messages.h"

namespace kestrin::test {

class MessageRecorder : public MessageSink {
 public:
  MessageRecorder() = default;
  explicit MessageRecorder(std::vector<std::string>* log) : m_log(log) {}
  void showMessage(const std::string& text) override {
    shown.push_back(text);
    if (m_log != nullptr) m_log->push_back("sink:" + text);
  }
  // The first message shown, or "" when none was: for failure output.
  std::string first() const { return shown.empty() ? std::string() : shown.front(); }
  std::vector<std::string> shown;

 private:
  std::vector<std::string>* m_log = nullptr;
};

}  // namespace kestrin::test
