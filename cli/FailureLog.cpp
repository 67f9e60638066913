#include "FailureLog.h"

namespace kestrin::cli {

void FailureLog::report(const std::string& text) {
  m_errors << "kestrin-cli: " << text << std::endl;
  ++m_count;
}

void FailureLog::note(const std::string& text) { m_errors << text << std::flush; }

}  // namespace kestrin::cli
