#include "DiskEnumeration.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <system_error>

#include "SysfsFiles.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }

// One piece of a name's sort key: a run of digits (compared by value) or a
// run of other characters (compared as text).
struct KeyPiece {
  bool number;
  std::string text;  // a number without leading zeros
};

std::string withoutLeadingZeros(std::string_view digits) {
  std::size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') ++i;
  return std::string(digits.substr(i));
}

// The drive letters of sd, hd, vd and xvd disks are handed out a, b, ... z,
// aa, ab, ...: the letters as a number in bijective base 26 (a = 1).
std::optional<std::string> driveLetterNumber(std::string_view letters) {
  if (letters.empty() || letters.size() > 8) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : letters) {
    if (!isLower(c)) return std::nullopt;
    value = value * 26 + static_cast<std::uint64_t>(c - 'a' + 1);
  }
  return std::to_string(value);
}

std::vector<KeyPiece> sortKey(std::string_view name) {
  for (std::string_view family : {"xvd", "sd", "hd", "vd"}) {
    if (name.size() > family.size() && name.substr(0, family.size()) == family) {
      if (auto number = driveLetterNumber(name.substr(family.size()))) {
        return {KeyPiece{false, std::string(family)}, KeyPiece{true, *number}};
      }
    }
  }
  std::vector<KeyPiece> key;
  std::size_t from = 0;
  while (from < name.size()) {
    bool digits = isDigit(name[from]);
    std::size_t end = from;
    while (end < name.size() && isDigit(name[end]) == digits) ++end;
    std::string_view piece = name.substr(from, end - from);
    key.push_back(digits ? KeyPiece{true, withoutLeadingZeros(piece)} : KeyPiece{false, std::string(piece)});
    from = end;
  }
  return key;
}

int comparePieces(const KeyPiece& a, const KeyPiece& b) {
  if (a.number != b.number) return a.number ? -1 : 1;
  if (a.number && a.text.size() != b.text.size()) return a.text.size() < b.text.size() ? -1 : 1;
  int order = a.text.compare(b.text);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// True when `name` is `family` followed by a device number ("ram0", "dm-3").
bool isNumbered(std::string_view name, std::string_view family) {
  if (name.size() <= family.size() || name.substr(0, family.size()) != family) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(family.size()), name.end(), isDigit);
}

bool isWholeDisk(const fs::path& entry, const std::string& name) {
  for (std::string_view family : {"ram", "zram", "dm-", "sr", "fd"}) {
    if (isNumbered(name, family)) return false;
  }
  std::error_code error;
  if (!fs::exists(entry / "dev", error)) return false;
  if (fs::exists(entry / "partition", error)) return false;
  if (ReadSysfsText(entry / "hidden") == "1") return false;
  if (isNumbered(name, "loop") && ReadSysfsText(entry / "loop" / "backing_file").empty()) return false;
  auto size = ReadSysfsNumber(entry / "size");
  return size && *size > 0;
}

}  // namespace

bool KernelNameLess(const std::string& a, const std::string& b) {
  std::vector<KeyPiece> ka = sortKey(a);
  std::vector<KeyPiece> kb = sortKey(b);
  for (std::size_t i = 0; i < ka.size() && i < kb.size(); ++i) {
    if (int order = comparePieces(ka[i], kb[i]); order != 0) return order < 0;
  }
  if (ka.size() != kb.size()) return ka.size() < kb.size();
  // Equal keys ("sda01" and "sda1"): the plain text decides, so that the
  // order stays strict.
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
