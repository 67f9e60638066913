#pragma once
// The port a program talks to disks through. Each platform's disk stack
// offers this same header, so the programs build their port in one way:
//
//   std::vector<std::string> args(argv + 1, argv + argc);
//   std::string error;
//   std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
//   if (!port) { report error; exit 2; }
//   kestrin::ScopedPort installed(*port);
//
// On Windows the disks are the machine's own, "\\.\PhysicalDrive<n>",
// reached through the system (Win32Port.h); or, with `--disk PATH` options,
// Kestrin's own disk stack over those image files (the first is disk 0, see
// DiskMap.h), with `--sector-size N` as on Linux.

#include <memory>
#include <string>
#include <vector>

#include "Port.h"

namespace kestrin {

// Builds the port, taking the options that choose the disks out of `args`
// (everything else stays, in order). Returns null and sets `error` to a
// one-line text when an option is malformed.
std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error);

// The program's arguments (without its name) as UTF-8. On Windows they come
// from the wide command line: the narrow `argv` is in the ANSI code page and
// loses what that cannot hold, such as a file name in another script.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace kestrin
