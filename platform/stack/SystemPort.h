#pragma once
// The port a program talks to disks through. Each platform defines these
// (platform/linux, platform/win32), so the programs build their port in one
// way:
//
//   std::vector<std::string> args = kestrin::CommandLineArguments(argc, argv);
//   std::string error;
//   std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
//   if (!port) { report error; exit 2; }
//   kestrin::ScopedPort installed(*port);
//
// With `--disk PATH` options the disks are Kestrin's own stack over those
// images (and, on Linux, block devices), the first being disk 0, with
// `--sector-size N` (see DiskMap.h). Without any --disk option they are the
// machine's whole disks: on Linux the stack over them, in the order
// DiskEnumeration.h documents; on Windows "\\.\PhysicalDrive<n>" through
// the system (Win32Port.h).

#include <memory>
#include <string>
#include <vector>

#include "Port.h"

namespace kestrin {

// Builds the port, taking the options that choose the disks out of `args`
// (everything else stays, in order). Returns null and sets `error` to a
// one-line text when an option is malformed.
std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error);

// The files whose bytes are the disk at `path`: the path itself, and on
// Linux, for a loop device, the image file behind it. A program that writes
// a file of its own (a backup) refuses every one of them.
std::vector<std::string> FilesOfDisk(const std::string& path);

// The program's arguments (without its name) as UTF-8. On Windows they come
// from the wide command line: the narrow `argv` is in the ANSI code page and
// loses what that cannot hold, such as a file name in another script.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace kestrin
