#pragma once
// The command line taken apart: the global options, the disk options (left
// for MakeSystemPort), the command and its arguments. Nothing here touches a
// disk, so every usage error is found before the first disk is opened.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandTable.h"

namespace kestrin::cli {

// A malformed command line; `command` is the command whose usage applies,
// or null for the program's usage.
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& text, const CommandSpec* command) : std::runtime_error(text), m_command(command) {}
  const CommandSpec* command() const { return m_command; }

 private:
  const CommandSpec* m_command;
};

struct CliRequest {
  bool json = false;
  bool yes = false;
  // --dry-run: the write is only tried out (CliPort::dryRun).
  bool dryRun = false;
  // apply --new-ids: fresh identifiers for a clone.
  bool newIds = false;
  // --version
  bool version = false;
  bool help = false;
  // The --disk and --sector-size options with their values, in order.
  std::vector<std::string> diskOptions;
  // The --disk paths alone: the one at index N is disk N.
  std::vector<std::string> diskPaths;
  // Null only together with `help` (the program's help).
  const CommandSpec* command = nullptr;
  std::vector<std::string> positional;
  // create-partition's options.
  std::optional<std::string> offset;
  std::optional<std::string> size;
  std::optional<std::string> type;
  bool boot = false;
  // create-partition --force: write over an entry that is in use.
  bool force = false;
  // --backup FILE of a writing command.
  std::optional<std::string> backup;
};

// Throws UsageError for an unknown command or option, a missing option
// value, the wrong number of arguments (not checked when help is asked), a
// --sector-size that no --disk option follows, and a --size or --offset
// with a unit that does not come to whole MiB or sectors. --size is handed
// on in MiB, --offset in bytes (SizeArgument.h).
CliRequest ParseArguments(const std::vector<std::string>& args);

// The answers the entry commands beyond the window's menu give their
// prompts, from the arguments after N ENTRY; each throws UsageError for an
// argument it cannot take.
// set-name NAME: the name as it is; more than 36 UTF-16 code units is refused.
std::vector<std::string> NameAnswers(const CliRequest& request);
// resize SIZE: "max", or the size in whole MiB (SizeArgumentMib).
std::vector<std::string> SizeAnswers(const CliRequest& request);
// set-attribute BIT on|off: the bit's number, and "on" or "off".
std::vector<std::string> AttributeBitAnswers(const CliRequest& request);

// A disk number or an entry number: plain decimal digits, at most `max`.
// Throws UsageError naming `what` otherwise.
int DecimalArgument(const std::string& text, const char* what, int max, const CommandSpec* command);

}  // namespace kestrin::cli
