#include "Messages.h"

#include <iostream>

namespace kestrin {

namespace {
MessageSink* g_sink = nullptr;
}

MessageSink* installMessageSink(MessageSink* sink) {
  MessageSink* previous = g_sink;
  g_sink = sink;
  return previous;
}

void ShowMessage(const std::string& text) {
  if (g_sink != nullptr) {
    g_sink->showMessage(text);
  } else {
    std::cerr << text << '\n';
  }
}

}  // namespace kestrin
