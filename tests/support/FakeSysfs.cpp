#include "FakeSysfs.h"

#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kestrin::test {

FakeSysfs::FakeSysfs(fs::path root) : m_root(std::move(root)) {
  fs::create_directories(m_root / "block");
  fs::create_directories(m_root / "dev" / "block");
}

void FakeSysfs::write(const fs::path& attribute, const std::string& text) {
  fs::path path = attribute.is_absolute() ? attribute : m_root / attribute;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path FakeSysfs::addDisk(const std::string& devicePath, std::uint64_t sectors, const std::string& majorMinor) {
  fs::path disk = m_root / "devices" / devicePath;
  std::string name = disk.filename().string();
  fs::create_directories(disk);
  write(disk / "dev", (majorMinor.empty() ? std::string("8:0") : majorMinor) + "\n");
  write(disk / "size", std::to_string(sectors) + "\n");
  write(disk / "removable", "0\n");
  write(disk / "hidden", "0\n");
  fs::create_directory_symlink(fs::relative(disk, m_root / "block"), m_root / "block" / name);
  if (!majorMinor.empty()) {
    fs::create_directory_symlink(fs::relative(disk, m_root / "dev" / "block"), m_root / "dev" / "block" / majorMinor);
  }
  bool isVirtual = devicePath.rfind("virtual/", 0) == 0;
  if (!isVirtual) {
    fs::path parent = disk.parent_path();
    if (parent.filename() == "block") parent = parent.parent_path();
    fs::create_directory_symlink(fs::relative(parent, disk), disk / "device");
  }
  return disk;
}

void FakeSysfs::addPartition(const fs::path& disk, const std::string& name, int number, std::uint64_t start,
                             std::uint64_t size) {
  write(disk / name / "partition", std::to_string(number) + "\n");
  write(disk / name / "start", std::to_string(start) + "\n");
  write(disk / name / "size", std::to_string(size) + "\n");
  write(disk / name / "dev", "259:" + std::to_string(number) + "\n");
}

}  // namespace kestrin::test
