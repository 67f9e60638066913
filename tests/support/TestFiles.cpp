// The file helpers of TestSupport.h, the same on every platform.

#include <algorithm>
#include <fstream>

#include "TestSupport.h"

namespace kestrin::test {

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

void MakeSparseFile(const std::string& path, std::uint64_t size) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, size);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  // One read of the whole file: a character-by-character copy takes a
  // noticeable time on images of several MiB in unoptimised builds.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamsize size = in.tellg();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::streamsize>(size, 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
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

std::string ReadTextFile(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace kestrin::test
