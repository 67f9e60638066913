#include "SystemPort.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "DiskEnumeration.h"
#include "EmulatedPort.h"
#include "SysfsFiles.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error) {
  // Without any --disk option the stack serves the machine's whole disks.
  return PortForDiskOptions(args, error, [] { return std::make_unique<EmulatedPort>(DefaultDiskMap()); });
}

std::vector<std::string> FilesOfDisk(const std::string& path) {
  std::vector<std::string> files{path};
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    const std::filesystem::path device = std::filesystem::path("/sys/dev/block") /
                                         (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    const std::string backing = ReadSysfsText(device / "loop" / "backing_file");
    if (!backing.empty()) files.push_back(backing);
  }
  return files;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace kestrin
