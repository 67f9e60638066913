#pragma once
// The commands kestrin-cli knows, with their argument counts and help texts.

#include <string>
#include <vector>

namespace kestrin::cli {

struct CommandSpec {
  const char* name;
  int minPositional;
  int maxPositional;
  const char* synopsis;     // the arguments, as the usage line shows them
  const char* description;  // the --help text after the synopsis
};

const std::vector<CommandSpec>& Commands();
// Null when `name` is no command.
const CommandSpec* FindCommand(const std::string& name);

// The program's usage: synopsis, options and the list of commands.
std::string ProgramUsage();
// One command's usage line and description.
std::string CommandHelp(const CommandSpec& command);

}  // namespace kestrin::cli
