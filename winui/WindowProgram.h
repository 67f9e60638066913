#pragma once
// The native window program: its start, message loop and end. The caller
// installs the port first and keeps it until this returns.

namespace kestrin {

// Creates the main window and the hidden disk chooser, shows the main
// window (which then reads \\.\PhysicalDrive0) and runs the message loop
// until the main window is closed. Returns the program's exit code.
int RunWindowProgram();

}  // namespace kestrin
