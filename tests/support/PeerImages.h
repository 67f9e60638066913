#pragma once
// Disks partitioned by the peers, as the reference for what a disk holds:
// sparse image files in a test's temporary folder, or a loop device the test
// attached itself. Each returns an empty text on success, else what the peer
// said, so that a test writes ASSERT_EQ(MakeSfdiskImage(...), "").

#include <cstdint>
#include <string>
#include <vector>

namespace kestrin::test {

// Partitions the image or device with sfdisk from `script`.
std::string PartitionWithSfdisk(const std::string& device, const std::string& script);
// Makes (or truncates) a sparse image of `size` bytes and partitions it with
// sfdisk from `script`.
std::string MakeSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script);

// Partitions the image or device with sgdisk and its `options`.
std::string PartitionWithSgdisk(const std::string& device, std::vector<std::string> options);
// Makes a sparse image of `size` bytes, unless one of that size is there
// already (a test may have filled it with a pattern first), and partitions it
// with sgdisk and its `options`.
std::string MakeSgdiskImage(const std::string& image, std::uint64_t size, std::vector<std::string> options);
// sgdisk options for `count` partitions of `size` each (as sgdisk takes
// sizes: "+16" sectors, "+64K"), numbered from 1, one behind the other on
// 8-sector boundaries: tables of more entries than a layout record holds.
std::vector<std::string> SgdiskPartitionsInARow(int count, const std::string& size);

}  // namespace kestrin::test
