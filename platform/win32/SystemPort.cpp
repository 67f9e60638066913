#include "SystemPort.h"

#include "DiskMap.h"
#include "EmulatedPort.h"
#include "Win32Port.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error) {
  DiskMap disks;
  if (auto malformed = TakeDiskOptions(args, disks)) {
    error = *malformed;
    return nullptr;
  }
  error.clear();
  // Without any --disk option, the machine's own disks through the system.
  if (disks.empty()) return std::make_unique<Win32Port>(NativeSystem());
  return std::make_unique<EmulatedPort>(std::move(disks));
}

}  // namespace kestrin
