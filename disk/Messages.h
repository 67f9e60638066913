#pragma once
// How the core shows a message to the user. The core never talks to the user
// directly: an operation that fails "shows a message" through the installed
// sink, which the window answers with a message box, the command line with
// a line on standard error, and tests with a record.

#include <string>

namespace kestrin {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void showMessage(const std::string& text) = 0;
};

// The process-wide sink; without one installed, messages go to standard
// error. Returns the previous sink; the sink is not owned.
MessageSink* installMessageSink(MessageSink* sink);
void ShowMessage(const std::string& text);

class ScopedMessageSink {
 public:
  explicit ScopedMessageSink(MessageSink& sink) : m_previous(installMessageSink(&sink)) {}
  ~ScopedMessageSink() { installMessageSink(m_previous); }
  ScopedMessageSink(const ScopedMessageSink&) = delete;
  ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

 private:
  MessageSink* m_previous;
};

}  // namespace kestrin
