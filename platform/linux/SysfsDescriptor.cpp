#include "SysfsDescriptor.h"

#include <cctype>
#include <string>
#include <system_error>
#include <vector>

#include "SysfsFiles.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

// True when `component` is `prefix` followed by one or more decimal digits.
bool isNumbered(const std::string& component, const std::string& prefix) {
  if (component.size() <= prefix.size() || component.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < component.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(component[i]))) return false;
  }
  return true;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

fs::path canonicalOrEmpty(const fs::path& path) {
  std::error_code error;
  fs::path result = fs::canonical(path, error);
  return error ? fs::path() : result;
}

// The components of `path` below `root`, both canonical; empty when `path`
// does not lie below `root`.
std::vector<std::string> componentsBelow(const fs::path& root, const fs::path& path) {
  std::vector<std::string> components;
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *r != *p) return {};
  }
  for (; p != path.end(); ++p) components.push_back(p->string());
  return components;
}

// A libata port's links report the negotiated SATA speed ("6.0 Gbps"); a
// parallel ATA link reports "<unknown>". A port whose links say nothing at
// all is taken for SATA, which nearly every libata disk is today.
std::uint8_t ataBusType(const fs::path& portDirectory) {
  std::error_code error;
  bool sawSpeed = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(portDirectory, error)) {
    std::string link = entry.path().filename().string();
    if (!startsWith(link, "link")) continue;
    fs::path speedFile = entry.path() / "ata_link" / link / "sata_spd";
    std::error_code missing;
    if (!fs::exists(speedFile, missing)) continue;
    sawSpeed = true;
    std::string speed = ReadSysfsText(speedFile);
    if (!speed.empty() && speed != "<unknown>") return kBusTypeSata;
  }
  return sawSpeed ? kBusTypeAta : kBusTypeSata;
}

// The unit serial number VPD page: byte 1 is the page code 0x80, bytes 2-3
// the big-endian length of the serial number that follows at byte 4.
std::string serialFromVpdPage80(const std::string& page) {
  if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return {};
  std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(page[2])) << 8) |
                       static_cast<unsigned char>(page[3]);
  std::string serial = page.substr(4, length);
  std::size_t first = serial.find_first_not_of(' ');
  std::size_t last = serial.find_last_not_of(" \0", std::string::npos, 2);
  return first == std::string::npos || last == std::string::npos ? std::string() : serial.substr(first, last - first + 1);
}

std::string firstPresent(const std::vector<fs::path>& attributes) {
  for (const fs::path& attribute : attributes) {
    std::string text = ReadSysfsText(attribute);
    if (!text.empty()) return text;
  }
  return {};
}

}  // namespace

std::uint8_t BusTypeOfDisk(const fs::path& sysfsRoot, const fs::path& diskDirectory) {
  fs::path root = canonicalOrEmpty(sysfsRoot);
  fs::path disk = canonicalOrEmpty(diskDirectory);
  std::vector<std::string> components = componentsBelow(root, disk);
  if (components.empty()) return kBusTypeUnknown;
  std::string name = components.back();
  if (components.size() >= 3 && components[0] == "devices" && components[1] == "virtual" && components[2] == "block") {
    if (isNumbered(name, "loop")) return kBusTypeFileBackedVirtual;
    if (isNumbered(name, "md")) return kBusTypeRaid;
    return kBusTypeUnknown;
  }
  auto any = [&components](auto predicate) {
    for (const std::string& c : components) {
      if (predicate(c)) return true;
    }
    return false;
  };
  if (any([](const std::string& c) { return isNumbered(c, "usb"); })) return kBusTypeUsb;
  if (any([](const std::string& c) { return isNumbered(c, "nvme") || isNumbered(c, "nvme-subsys"); })) {
    return kBusTypeNvme;
  }
  fs::path walked = root;
  for (const std::string& c : components) {
    walked /= c;
    if (isNumbered(c, "ata")) return ataBusType(walked);
  }
  if (any([](const std::string& c) { return startsWith(c, "end_device-") || startsWith(c, "expander-"); })) {
    return kBusTypeSas;
  }
  if (any([](const std::string& c) { return isNumbered(c, "session"); })) return kBusTypeIscsi;
  if (any([](const std::string& c) { return startsWith(c, "rport-"); })) return kBusTypeFibre;
  if (any([](const std::string& c) { return isNumbered(c, "fw"); })) return kBusType1394;
  if (any([](const std::string& c) { return isNumbered(c, "mmc"); })) {
    return ReadSysfsText(disk / "device" / "type") == "MMC" ? kBusTypeMmc : kBusTypeSd;
  }
  if (any([](const std::string& c) { return isNumbered(c, "host"); })) return kBusTypeScsi;
  return kBusTypeUnknown;
}

MediumDescription DescribeBlockDevice(const fs::path& sysfsRoot, const fs::path& diskDirectory) {
  MediumDescription about;
  fs::path disk = canonicalOrEmpty(diskDirectory);
  if (disk.empty()) return about;
  fs::path device = disk / "device";
  about.vendor = ReadSysfsText(device / "vendor");
  if (startsWith(about.vendor, "0x")) about.vendor.clear();
  about.product = firstPresent({device / "model", device / "name"});
  if (about.product.empty()) {
    std::string backingFile = ReadSysfsText(disk / "loop" / "backing_file");
    about.product = backingFile.empty() ? disk.filename().string() : fs::path(backingFile).filename().string();
  }
  about.revision = firstPresent({device / "rev", device / "firmware_rev"});
  about.serial = firstPresent({device / "serial", disk / "serial"});
  if (about.serial.empty()) about.serial = serialFromVpdPage80(ReadSysfsBytes(device / "vpd_pg80", 512));
  if (about.serial.empty()) about.serial = firstPresent({disk / "wwid", device / "wwid"});
  about.removable = ReadSysfsText(disk / "removable") == "1";
  about.busType = BusTypeOfDisk(sysfsRoot, disk);
  return about;
}

}  // namespace kestrin
