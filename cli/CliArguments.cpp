#include "CliArguments.h"

#include <algorithm>
#include <filesystem>

#include "CliCommands.h"
#include "SizeArgument.h"
#include "SystemPort.h"

namespace kestrin::cli {

namespace {

bool isOption(const std::string& arg) { return arg.size() > 2 && arg.compare(0, 2, "--") == 0; }

// The options that take a value, which may also be written --name=value.
constexpr const char* kValueOptions[] = {"--disk", "--sector-size", "--backup", "--offset", "--size", "--type"};

// The arguments with --name=value split in two, and where the options end
// ("--", which is dropped): the arguments from there on are positional.
std::vector<std::string> splitArguments(const std::vector<std::string>& args, std::size_t& optionsEnd) {
  std::vector<std::string> out;
  optionsEnd = std::string::npos;
  for (const std::string& arg : args) {
    if (optionsEnd != std::string::npos) {
      out.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = out.size();
      continue;
    }
    const std::size_t equals = arg.find('=');
    if (isOption(arg) && equals != std::string::npos) {
      const std::string name = arg.substr(0, equals);
      if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) == std::end(kValueOptions)) {
        throw UsageError(name + " takes no value", nullptr);
      }
      out.push_back(name);
      out.push_back(arg.substr(equals + 1));
      continue;
    }
    out.push_back(arg);
  }
  return out;
}

// The value after option `args[i]`, advancing `i` past it.
std::string optionValue(const std::vector<std::string>& args, std::size_t& i, const CommandSpec* command) {
  if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value", command);
  return args[++i];
}

// Takes one of the options every command accepts; false when `args[i]` is
// none of them.
bool takeGlobalOption(const std::vector<std::string>& args, std::size_t& i, CliRequest& request) {
  const std::string& arg = args[i];
  if (arg == "--json") {
    request.json = true;
  } else if (arg == "--yes") {
    request.yes = true;
  } else if (arg == "--help" || arg == "-h") {
    request.help = true;
  } else if (arg == "--version" || arg == "-V") {
    request.version = true;
  } else if (arg == "--dry-run") {
    request.dryRun = true;
  } else if (arg == "--backup") {
    request.backup = optionValue(args, i, request.command);
  } else if (arg == "--disk" || arg == "--sector-size") {
    request.diskOptions.push_back(arg);
    request.diskOptions.push_back(optionValue(args, i, request.command));
    if (arg == "--disk") request.diskPaths.push_back(request.diskOptions.back());
  } else {
    return false;
  }
  return true;
}

bool takeCreateOption(const std::vector<std::string>& args, std::size_t& i, CliRequest& request) {
  const std::string& arg = args[i];
  // A logical drive is not booted, and is never written over another.
  if (!request.command->editor.createOptions && (arg == "--boot" || arg == "--force")) return false;
  if (arg == "--offset") {
    request.offset = optionValue(args, i, request.command);
  } else if (arg == "--size") {
    request.size = optionValue(args, i, request.command);
  } else if (arg == "--type") {
    request.type = optionValue(args, i, request.command);
  } else if (arg == "--boot") {
    request.boot = true;
  } else if (arg == "--force") {
    request.force = true;
  } else {
    return false;
  }
  return true;
}

// A backup file is written over whatever the path names: it must be a new
// file or a regular one, and none of the disks given, or the backup would
// take the place of the disk it saves.
void refuseDiskAsBackupFile(const std::string& path, const CliRequest& request) {
  namespace fs = std::filesystem;
  if (path.empty()) throw UsageError("the backup file needs a name", request.command);
  std::error_code error;
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, error)) {
    throw UsageError("the backup file " + path + " cannot be made: " + folder.string() + " is no folder",
                     request.command);
  }
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) return;
  if (!fs::is_regular_file(status)) {
    throw UsageError("the backup file " + path + " is not a regular file", request.command);
  }
  for (const std::string& disk : request.diskPaths) {
    for (const std::string& file : FilesOfDisk(disk)) {
      if (fs::equivalent(path, file, error)) {
        throw UsageError("the backup file " + path + " is the disk " + disk + " itself", request.command);
      }
    }
  }
}

void refuseNegative(const std::optional<std::string>& text, const char* what, const CommandSpec* command) {
  if (!text) return;
  const std::size_t first = text->find_first_not_of(' ');
  if (first != std::string::npos && (*text)[first] == '-') {
    throw UsageError(std::string(what) + " must not be negative, not '" + *text + "'", command);
  }
}

}  // namespace

CliRequest ParseArguments(const std::vector<std::string>& given) {
  CliRequest request;
  bool helpCommand = false;
  std::size_t optionsEnd = 0;  // std::string::npos: no "--"
  const std::vector<std::string> args = splitArguments(given, optionsEnd);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i >= optionsEnd) {
      // Past "--" every word is an argument, the command's name first.
      if (request.command == nullptr && !helpCommand) {
        request.command = FindCommand(arg);
        if (request.command == nullptr) throw UsageError("unknown command '" + arg + "'", nullptr);
      } else {
        request.positional.push_back(arg);
      }
      continue;
    }
    if (takeGlobalOption(args, i, request)) continue;
    if (request.command == nullptr && !helpCommand) {
      if (arg == "help") {
        helpCommand = true;
        request.help = true;
        continue;
      }
      if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'", nullptr);
      request.command = FindCommand(arg);
      if (request.command == nullptr) throw UsageError("unknown command '" + arg + "'", nullptr);
      continue;
    }
    if (helpCommand) {
      // "help COMMAND"
      request.command = FindCommand(arg);
      if (request.command == nullptr) throw UsageError("unknown command '" + arg + "'", nullptr);
      helpCommand = false;
      continue;
    }
    const EditorCall& editor = request.command->editor;
    if ((editor.createOptions || editor.logicalDrive) && takeCreateOption(args, i, request)) continue;
    if (arg == "--new-ids" && request.command->run == ApplyLayout) {
      request.newIds = true;
      continue;
    }
    if (isOption(arg)) throw UsageError("unknown option '" + arg + "'", request.command);
    request.positional.push_back(arg);
  }
  if (request.help || request.version) return request;
  if (request.command == nullptr) throw UsageError("no command given", nullptr);
  if (request.diskOptions.size() >= 2 && request.diskOptions[request.diskOptions.size() - 2] == "--sector-size") {
    throw UsageError("--sector-size applies to the --disk options after it, and none follows it", nullptr);
  }
  if (request.dryRun && !WritesToDisk(*request.command)) {
    throw UsageError("--dry-run goes with a command that writes to a disk", request.command);
  }
  if (request.backup && !WritesToDisk(*request.command)) {
    throw UsageError("--backup goes with a command that writes to a disk", request.command);
  }
  if (request.backup) refuseDiskAsBackupFile(*request.backup, request);
  if (request.command->name == std::string("backup") && request.positional.size() >= 2) {
    refuseDiskAsBackupFile(request.positional[1], request);
  }
  // The window reads a sign in every number it asks for; on the command line
  // a negative size, offset, disk signature or attribute value is a slip
  // (set-attributes 0 1 -1 would set all 64 bits, read-only and hidden
  // among them).
  refuseNegative(request.size, "the size --size", request.command);
  refuseNegative(request.offset, "the offset --offset", request.command);
  const int answer = request.command->editor.promptAnswer;
  if (request.command->editor.unsignedAnswer && answer >= 0 && static_cast<int>(request.positional.size()) > answer) {
    refuseNegative(request.positional[static_cast<std::size_t>(answer)], "VALUE", request.command);
  }
  if (request.size) request.size = SizeArgumentMib(*request.size, request.command);
  if (request.offset) request.offset = OffsetArgumentBytes(*request.offset, kSmallestSectorSize, request.command);
  const int count = static_cast<int>(request.positional.size());
  if (count < request.command->minPositional) throw UsageError("missing arguments", request.command);
  if (count > request.command->maxPositional) {
    throw UsageError("unexpected argument '" + request.positional[request.command->maxPositional] + "'",
                     request.command);
  }
  return request;
}

int DecimalArgument(const std::string& text, const char* what, int max, const CommandSpec* command) {
  const bool digits = !text.empty() && text.size() <= 9 &&
                      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || std::stoi(text) > max) {
    throw UsageError(std::string(what) + " must be a number from 0 to " + std::to_string(max) + ", not '" + text + "'",
                     command);
  }
  return std::stoi(text);
}

}  // namespace kestrin::cli
