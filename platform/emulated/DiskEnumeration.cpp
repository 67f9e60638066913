#include "DiskEnumeration.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "SysfsFiles.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The run of digits or of other characters that starts at `from`.
std::string_view pieceAt(std::string_view name, std::size_t from) {
  std::size_t end = from;
  bool digits = isDigit(name[from]);
  while (end < name.size() && isDigit(name[end]) == digits) ++end;
  return name.substr(from, end - from);
}

// Compares two digit runs by value without converting them (they may be
// longer than any integer type).
int compareNumbers(std::string_view a, std::string_view b) {
  auto skipZeros = [](std::string_view s) {
    std::size_t i = 0;
    while (i + 1 < s.size() && s[i] == '0') ++i;
    return s.substr(i);
  };
  a = skipZeros(a);
  b = skipZeros(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool isWholeDisk(const fs::path& entry, const std::string& name) {
  static const char* const kLeftOut[] = {"ram", "zram", "dm-", "sr", "fd"};
  for (const char* prefix : kLeftOut) {
    if (startsWith(name, prefix)) return false;
  }
  std::error_code error;
  if (!fs::exists(entry / "dev", error)) return false;
  if (fs::exists(entry / "partition", error)) return false;
  if (ReadSysfsText(entry / "hidden") == "1") return false;
  if (startsWith(name, "loop") && ReadSysfsText(entry / "loop" / "backing_file").empty()) return false;
  auto size = ReadSysfsNumber(entry / "size");
  return size && *size > 0;
}

}  // namespace

bool KernelNameLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    std::string_view pa = pieceAt(a, i);
    std::string_view pb = pieceAt(b, j);
    bool da = isDigit(pa[0]);
    bool db = isDigit(pb[0]);
    int order = 0;
    if (da != db) {
      order = da ? -1 : 1;
    } else if (da) {
      order = compareNumbers(pa, pb);
    } else if (pa.size() != pb.size()) {
      order = pa.size() < pb.size() ? -1 : 1;
    } else {
      order = pa.compare(pb);
    }
    if (order != 0) return order < 0;
    i += pa.size();
    j += pb.size();
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  // Equal piece by piece ("sda01" and "sda1"): the plain text decides, so
  // that the order stays strict.
  return a < b;
}

std::vector<std::string> WholeDiskNames(const fs::path& sysfsRoot) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysfsRoot / "block", error)) {
    std::string name = entry.path().filename().string();
    if (isWholeDisk(entry.path(), name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), KernelNameLess);
  return names;
}

DiskMap DefaultDiskMap(const fs::path& sysfsRoot, const fs::path& devRoot) {
  DiskMap map;
  for (std::string name : WholeDiskNames(sysfsRoot)) {
    std::replace(name.begin(), name.end(), '!', '/');
    map.push_back(DiskSpec{(devRoot / name).string(), 0});
  }
  return map;
}

}  // namespace kestrin
