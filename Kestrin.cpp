// Kestrin's entry: maps the --disk options (or, without any, the machine's
// whole disks) and installs the disk stack.
#include <iostream>
#include <string>
#include <vector>

#include "DiskEnumeration.h"
#include "DiskMap.h"
#include "EmulatedPort.h"
#include "lib.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kestrin::DiskMap disks;
  if (auto error = kestrin::TakeDiskOptions(args, disks)) {
    std::cerr << *error << '\n';
    return 2;
  }
  if (disks.empty()) disks = kestrin::DefaultDiskMap();
  kestrin::EmulatedPort port(disks);
  kestrin::ScopedPort installed(port);
  for (std::size_t i = 0; i < disks.size(); ++i) {
    kestrin::LayoutBuffer layout;
    kestrin::GetDriveLayout("\\\\.\\PhysicalDrive" + std::to_string(i), layout);
    std::cout << i << ": style " << layout.partitionStyle() << " count " << layout.partitionCount() << '\n';
  }
  return 0;
}
