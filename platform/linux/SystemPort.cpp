#include "SystemPort.h"

#include "DiskEnumeration.h"
#include "EmulatedPort.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error) {
  // Without any --disk option the stack serves the machine's whole disks.
  return PortForDiskOptions(args, error, [] { return std::make_unique<EmulatedPort>(DefaultDiskMap()); });
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace kestrin
