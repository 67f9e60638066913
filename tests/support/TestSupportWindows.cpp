// The general test helpers on Windows. The peer tools (sfdisk, sgdisk,
// parted, xmllint) are Linux programs and are never found here, so the
// tests that consult them skip.

#include "TestSupport.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace kestrin::test {

TempDir::TempDir() {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("kestrin-test-" + std::to_string(random()));
    // create_directory is false when the folder already exists: another
    // test's, never to be shared or removed by this one.
    if (std::filesystem::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be created");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

bool HaveTool(const std::string& /*name*/) { return false; }

RunResult Run(const std::vector<std::string>& argv, const std::string& /*input*/) {
  RunResult result;
  result.err = argv.at(0) + ": not found";
  return result;
}

void MakeSparseFile(const std::string& path, std::uint64_t size) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, size);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  return bytes;
}

void WriteFileRange(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kestrin::test
