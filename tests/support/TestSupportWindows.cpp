// The process and folder helpers on Windows. The peer tools (sfdisk,
// sgdisk, parted, xmllint) are Linux programs and are never found here, so
// the tests that consult them skip.

#include <random>
#include <stdexcept>

#include "TestSupport.h"

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

bool HaveTool(const std::string& /*name*/) { return false; }

RunResult Run(const std::vector<std::string>& argv, const std::string& /*input*/) {
  RunResult result;
  result.err = argv.at(0) + ": not found";
  return result;
}

}  // namespace kestrin::test
