#pragma once
// The native window program: its start, message loop and end. The caller
// installs the port first and keeps it until this returns.

#include <string>
#include <vector>

namespace kestrin {

// The program's arguments, after its own name, from the system's wide
// command line: UTF-8, every character of an image's path kept.
std::vector<std::string> CommandLineArguments();

// Creates the main window and the hidden disk chooser, shows the main
// window (which then reads \\.\PhysicalDrive0) and runs the message loop
// until the main window is closed. Returns the program's exit code.
int RunWindowProgram();

}  // namespace kestrin
