#pragma once
// A sysfs tree of the test's own in a folder, shaped as the kernel lays it
// out: disks under devices/..., linked from block/<name> and from
// dev/block/<major>:<minor>, with the attributes a test writes. The disk
// enumeration and the descriptor are pointed at it instead of "/sys", so no
// test ever looks at the machine's own disks.

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrin::test {

class FakeSysfs {
 public:
  explicit FakeSysfs(std::filesystem::path root);

  const std::filesystem::path& root() const { return m_root; }

  // Adds a disk at devices/<devicePath> (the last component is its kernel
  // name) of `sectors` 512-byte units, linked from block/<name> and, when
  // `majorMinor` ("8:0") is given, from dev/block/<majorMinor>. Its
  // "device" link points at the parent device: the directory above
  // "block/<name>" or, without a "block" level (NVMe), the one above the
  // disk. A disk under devices/virtual gets no device link. Returns the disk
  // directory.
  std::filesystem::path addDisk(const std::string& devicePath, std::uint64_t sectors,
                                const std::string& majorMinor = "");
  // Adds partition `name` of a disk directory (start and size in 512-byte units).
  void addPartition(const std::filesystem::path& disk, const std::string& name, int number, std::uint64_t start,
                    std::uint64_t size);
  // Writes an attribute (a path below the root, or an absolute one inside
  // the tree), creating the folders on the way.
  void write(const std::filesystem::path& attribute, const std::string& text);

 private:
  std::filesystem::path m_root;
};

}  // namespace kestrin::test
