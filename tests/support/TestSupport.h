#pragma once
// Shared helpers for tests: a temporary folder that removes itself, running
// peer tools (sfdisk, sgdisk, parted) as processes, reading and writing a
// file, and the text of an error an action raises.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kestrin::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a program (looked up in PATH, /sbin and /usr/sbin) with `input` on its
// standard input and collects its output. Never goes through a shell.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = "");

// True when the program can be found.
bool HaveTool(const std::string& name);

// Creates (or truncates) a sparse file of `size` bytes.
void MakeSparseFile(const std::string& path, std::uint64_t size);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::vector<std::uint8_t> ReadFileRange(const std::string& path, std::uint64_t offset, std::size_t size);
void WriteFileRange(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
// The whole file as text (empty when it cannot be read); a file of `text`,
// byte for byte, replacing what was there.
std::string ReadTextFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);

// kestrin-cli as the build lays it out beside the test programs.
inline std::string CliProgram() { return std::string(KESTRIN_BINARY_DIR) + "/cli/kestrin-cli"; }

// The text of the `Error` that `action` raises, or "no error raised".
template <typename Error, typename Action>
std::string ErrorOf(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const Error& error) {
    return error.what();
  }
  return "no error raised";
}

}  // namespace kestrin::test
