#include "SysfsFiles.h"

#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>

namespace kestrin {

namespace {

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

std::string ReadSysfsBytes(const std::filesystem::path& attribute, std::size_t limit) {
  std::ifstream in(attribute, std::ios::binary);
  if (!in) return {};
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::string ReadSysfsText(const std::filesystem::path& attribute) {
  // Text attributes are at most a page long.
  std::string text = ReadSysfsBytes(attribute, 4096);
  std::size_t first = 0;
  while (first < text.size() && isWhiteSpace(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && isWhiteSpace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::optional<std::uint64_t> ReadSysfsNumber(const std::filesystem::path& attribute) {
  std::string text = ReadSysfsText(attribute);
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::filesystem::path SysfsDeviceDirectory(const std::filesystem::path& sysfsRoot, dev_t device) {
  const std::filesystem::path link =
      sysfsRoot / "dev" / "block" / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
  std::error_code error;
  std::filesystem::path directory = std::filesystem::canonical(link, error);
  return error ? std::filesystem::path() : directory;
}

}  // namespace kestrin
