#include "SystemPort.h"

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
  return std::make_unique<EmulatedPort>(std::move(disks));
}

}  // namespace kestrin
