#include "SystemPort.h"

#include <sys/stat.h>

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
  // A partition's bytes are its disk's; a loop device's are its backing
  // file's, which may be another loop device in turn.
  std::string device = path;
  for (int depth = 0; depth < 8; ++depth) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) break;
    std::filesystem::path sysfs = SysfsDeviceDirectory("/sys", st.st_rdev);
    if (sysfs.empty()) break;
    std::error_code error;
    if (std::filesystem::exists(sysfs / "partition", error)) sysfs = sysfs.parent_path();
    device = ReadSysfsText(sysfs / "loop" / "backing_file");
    if (device.empty()) break;
    files.push_back(device);
  }
  return files;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace kestrin
