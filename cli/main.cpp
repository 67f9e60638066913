// kestrin-cli: the editor's commands from a terminal or a script.
//
//   kestrin-cli [--disk PATH]... [--sector-size N] [--json] [--yes] COMMAND [ARGUMENTS]
//
// Each command is one call of the window's command over a table filled as
// the window fills it; see CommandTable.cpp for the commands.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "CliArguments.h"
#include "CliCommands.h"
#include "CliPort.h"
#include "CommandTable.h"
#include "Port.h"
#include "SystemPort.h"

namespace {

constexpr int kExitUsage = 2;

bool standardInputIsTerminal() {
#ifdef _WIN32
  return _isatty(0) != 0;
#else
  return isatty(0) != 0;
#endif
}

// One line on what is wrong, and where the help is.
int usageError(const std::string& text, const kestrin::cli::CommandSpec* command) {
  std::cerr << "kestrin-cli: " << text << '\n'
            << "Try 'kestrin-cli " << (command ? std::string(command->name) + " " : std::string()) << "--help'\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrin::cli;
  CliRequest request;
  try {
    request = ParseArguments(kestrin::CommandLineArguments(argc, argv));
  } catch (const UsageError& error) {
    return usageError(error.what(), error.command());
  }
  if (request.help) {
    std::cout << (request.command ? CommandHelp(*request.command) : ProgramUsage());
    return 0;
  }
  if (request.version) {
    std::cout << "kestrin-cli " << KESTRIN_VERSION << '\n';
    return 0;
  }

  std::string error;
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(request.diskOptions, error);
  if (port && !request.diskOptions.empty()) error = "unknown argument '" + request.diskOptions.front() + "'";
  if (!port || !error.empty()) return usageError(error, nullptr);
  // In front of the system's port: the backups of --backup and the layouts
  // of refused writes.
  CliPort front(*port);
  if (request.dryRun) front.dryRun();
  kestrin::ScopedPort installed(front);

  CliStreams io{std::cout, std::cerr, std::cin, standardInputIsTerminal(), &front};
  try {
    return RunCommand(request, io);
  } catch (const UsageError& usage) {
    return usageError(usage.what(), usage.command());
  }
}
