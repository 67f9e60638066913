#pragma once
// Runs one parsed command against the installed port.

#include <iosfwd>

#include "CliArguments.h"

namespace kestrin::cli {

struct CliStreams {
  std::ostream& out;    // results
  std::ostream& err;    // messages, questions
  std::istream& in;     // the confirmation answers
  bool terminal = false;  // standard input is a terminal
};

// Returns the exit status: 0 success, 1 the operation failed or was refused
// (its message already on `err`). Throws UsageError for arguments that are
// malformed (a disk number that is no number, an unknown style); those are
// found before any disk is read.
int RunCommand(const CliRequest& request, CliStreams& io);

}  // namespace kestrin::cli
