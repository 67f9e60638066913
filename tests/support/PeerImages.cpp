#include "PeerImages.h"

#include <filesystem>

#include "TestSupport.h"

namespace kestrin::test {

std::string PartitionWithSfdisk(const std::string& device, const std::string& script) {
  RunResult run = Run({"sfdisk", "--quiet", "--no-reread", "--no-tell-kernel", device}, script);
  return run.exitCode == 0 ? std::string() : "sfdisk failed: " + run.err;
}

std::string MakeSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script) {
  MakeSparseFile(image, size);
  return PartitionWithSfdisk(image, script);
}

std::string PartitionWithSgdisk(const std::string& device, std::vector<std::string> options) {
  options.insert(options.begin(), "sgdisk");
  options.push_back(device);
  RunResult run = Run(options);
  // sgdisk reports its errors on standard output.
  return run.exitCode == 0 ? std::string() : "sgdisk failed: " + run.out + run.err;
}

std::string MakeSgdiskImage(const std::string& image, std::uint64_t size, std::vector<std::string> options) {
  if (!std::filesystem::exists(image)) MakeSparseFile(image, size);
  if (std::uintmax_t found = std::filesystem::file_size(image); found != size) {
    return image + " is " + std::to_string(found) + " bytes, not " + std::to_string(size);
  }
  return PartitionWithSgdisk(image, std::move(options));
}

std::vector<std::string> SgdiskPartitionsInARow(int count, const std::string& size) {
  std::vector<std::string> options{"-a", "8"};
  for (int n = 1; n <= count; ++n) options.insert(options.end(), {"-n", std::to_string(n) + ":0:" + size});
  return options;
}

}  // namespace kestrin::test
