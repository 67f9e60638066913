#pragma once
// A loop device over a test's own image file: with partitions (losetup
// --partscan) for the tests of the disk stack on block devices, or without
// them for the peers (sgdisk, sfdisk) that reach a sector size other than
// 512 only through a block device. The device is
// detached when the object goes out of scope, also when the test fails
// half-way, and with the test process should it be killed (it is held open
// with auto-clear set). Before it is detached its read-only flag is
// cleared, since the flag would otherwise stay with the loop device for its
// next user.
//
// Attaching needs root and loop device support; a test skips with
// failure() when it cannot have a device. Only devices attached here are
// ever opened by the tests.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace kestrin::test {

enum class LoopAccess { ReadWrite, ReadOnly };
// Without a partition scan the kernel neither creates partition devices nor
// holds the table open while a test rewrites the image.
enum class LoopPartitions { Scan, None };

class PartitionedLoopDevice {
 public:
  PartitionedLoopDevice(const std::string& image, std::uint32_t sectorSize = 512,
                        LoopAccess access = LoopAccess::ReadWrite, LoopPartitions partitions = LoopPartitions::Scan);
  ~PartitionedLoopDevice();
  PartitionedLoopDevice(const PartitionedLoopDevice&) = delete;
  PartitionedLoopDevice& operator=(const PartitionedLoopDevice&) = delete;

  bool attached() const { return !m_path.empty(); }
  // The device, "/dev/loopN".
  const std::string& path() const { return m_path; }
  // The kernel name, "loopN".
  std::string name() const;
  // Its sysfs directory, "/sys/block/loopN".
  std::filesystem::path sysfsDirectory() const;
  // A descriptor of the device held by the guard (read-only), for ioctls.
  int fd() const { return m_fd; }
  const std::string& failure() const { return m_failure; }
  // Detaches now, so that the image holds everything written through the
  // device before the test reads it directly.
  void detach();

 private:
  std::string m_path;
  std::string m_failure;
  int m_fd = -1;
};

// The kernel's partition list of a disk, read from sysfs on its own: for
// each partition directory, number -> {start, size} in 512-byte units.
std::map<int, std::pair<std::uint64_t, std::uint64_t>> KernelPartitionList(const std::filesystem::path& diskDirectory);

// How a test holds a partition: open, or mounted with a fresh file system.
enum class PartitionUse { Open, Mounted };

// Keeps partition `number` of a loop device open, through a device node
// made in `folder` (no udev is needed), so that the kernel refuses to
// re-read the disk's table meanwhile; or mounts it (mkfs.ext2, mount) on a
// folder beside the node, and unmounts it again at the end of the scope.
// open() tells whether it worked.
class HeldPartition {
 public:
  HeldPartition(const PartitionedLoopDevice& device, int number, const std::filesystem::path& folder,
                PartitionUse use = PartitionUse::Open);
  ~HeldPartition();
  HeldPartition(const HeldPartition&) = delete;
  HeldPartition& operator=(const HeldPartition&) = delete;
  bool open() const { return m_fd >= 0 || !m_mountPoint.empty(); }

 private:
  int m_fd = -1;
  std::filesystem::path m_mountPoint;
};

}  // namespace kestrin::test
