#include "PartitionedLoopDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <system_error>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace kestrin::test {

namespace {

std::string readText(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  return text;
}

}  // namespace

PartitionedLoopDevice::PartitionedLoopDevice(const std::string& image, std::uint32_t sectorSize, LoopAccess access,
                                             LoopPartitions partitions) {
  if (::geteuid() != 0) {
    m_failure = "attaching a loop device needs root";
    return;
  }
  if (::access("/dev/loop-control", F_OK) != 0) {
    m_failure = "no loop device support (/dev/loop-control is missing)";
    return;
  }
  std::vector<std::string> argv{"losetup", "--find", "--show", "--sector-size", std::to_string(sectorSize)};
  if (partitions == LoopPartitions::Scan) argv.push_back("--partscan");
  if (access == LoopAccess::ReadOnly) argv.push_back("--read-only");
  argv.push_back(image);
  RunResult r = Run(argv);
  std::string device = r.out.substr(0, r.out.find('\n'));
  if (r.exitCode != 0 || device.rfind("/dev/loop", 0) != 0) {
    m_failure = "no loop device could be attached: " + r.err;
    return;
  }
  m_path = device;
  m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
  loop_info64 info{};
  if (m_fd >= 0 && ::ioctl(m_fd, LOOP_GET_STATUS64, &info) == 0) {
    info.lo_flags |= LO_FLAGS_AUTOCLEAR;
    ::ioctl(m_fd, LOOP_SET_STATUS64, &info);
  }
}

PartitionedLoopDevice::~PartitionedLoopDevice() { detach(); }

std::string PartitionedLoopDevice::name() const { return fs::path(m_path).filename().string(); }

fs::path PartitionedLoopDevice::sysfsDirectory() const { return fs::path("/sys/block") / name(); }

void PartitionedLoopDevice::detach() {
  if (m_path.empty()) return;
  if (m_fd >= 0) {
    int writable = 0;
    ::ioctl(m_fd, BLKROSET, &writable);
  }
  Run({"losetup", "--detach", m_path});
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_path.clear();
}

std::map<int, std::pair<std::uint64_t, std::uint64_t>> KernelPartitionList(const fs::path& diskDirectory) {
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> list;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(diskDirectory, error)) {
    std::string number = readText(entry.path() / "partition");
    if (number.empty()) continue;
    list[std::stoi(number)] = {std::stoull(readText(entry.path() / "start")),
                               std::stoull(readText(entry.path() / "size"))};
  }
  return list;
}

HeldPartition::HeldPartition(const PartitionedLoopDevice& device, int number, const fs::path& folder,
                             PartitionUse use) {
  std::string name = device.name() + "p" + std::to_string(number);
  std::string numbers = readText(device.sysfsDirectory() / name / "dev");
  auto colon = numbers.find(':');
  if (colon == std::string::npos) return;
  dev_t node = makedev(std::stoul(numbers.substr(0, colon)), std::stoul(numbers.substr(colon + 1)));
  fs::path path = folder / name;
  if (::mknod(path.c_str(), S_IFBLK | 0600, node) != 0) return;
  if (use == PartitionUse::Open) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return;
  }
  fs::path mountPoint = folder / (name + "-mounted");
  std::error_code error;
  fs::create_directory(mountPoint, error);
  if (Run({"mkfs.ext2", "-q", "-F", path.string()}).exitCode == 0 &&
      Run({"mount", path.string(), mountPoint.string()}).exitCode == 0) {
    m_mountPoint = mountPoint;
  }
}

HeldPartition::~HeldPartition() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_mountPoint.empty()) Run({"umount", m_mountPoint.string()});
}

}  // namespace kestrin::test
