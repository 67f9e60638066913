#include "DiskMap.h"

#include <cctype>

namespace kestrin {

std::optional<std::string> TakeDiskOptions(std::vector<std::string>& args, DiskMap& map) {
  std::vector<std::string> rest;
  std::uint32_t sectorSize = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--disk" || arg == "--sector-size") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      const std::string& value = args[++i];
      if (arg == "--disk") {
        if (value.empty()) return std::string("--disk needs a path");
        map.push_back(DiskSpec{value, sectorSize});
      } else if (value == "512") {
        sectorSize = 512;
      } else if (value == "4096") {
        sectorSize = 4096;
      } else {
        return "--sector-size takes 512 or 4096, not '" + value + "'";
      }
    } else {
      rest.push_back(arg);
    }
  }
  args = std::move(rest);
  return std::nullopt;
}

int DiskNumberOfPath(const std::string& path) {
  static const std::string kPrefix = "\\\\.\\physicaldrive";
  if (path.size() <= kPrefix.size() || path.size() > kPrefix.size() + 9) return -1;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) return -1;
  }
  int number = 0;
  for (std::size_t i = kPrefix.size(); i < path.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return -1;
    number = number * 10 + (path[i] - '0');
  }
  return number;
}

}  // namespace kestrin
