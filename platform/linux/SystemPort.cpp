#include "SystemPort.h"

#include "DiskEnumeration.h"
#include "DiskMap.h"
#include "EmulatedPort.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error) {
  DiskMap disks;
  if (auto malformed = TakeDiskOptions(args, disks)) {
    error = *malformed;
    return nullptr;
  }
  error.clear();
  // Without any --disk option the stack serves the machine's whole disks.
  if (disks.empty()) disks = DefaultDiskMap();
  return std::make_unique<EmulatedPort>(std::move(disks));
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace kestrin
