#include "BackupFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kestrin {

namespace {

// Writes `bytes` to a new file and makes them stable.
bool writeNewFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
#ifdef _WIN32
  ok = ok && _commit(_fileno(file)) == 0;
#else
  ok = ok && ::fsync(fileno(file)) == 0;
#endif
  return std::fclose(file) == 0 && ok;
}

}  // namespace

PendingBackup::~PendingBackup() { discard(); }

bool PendingBackup::write(const std::string& file, const TableBackup& backup, std::string& failure) {
  discard();
  const std::vector<std::uint8_t> bytes = EncodeBackup(backup);
  // A name of its own, so that a file an earlier crash left is not lost.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = file + ".new" + (attempt == 0 ? "" : std::to_string(attempt));
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) continue;
    if (!writeNewFile(candidate, bytes)) {
      std::filesystem::remove(candidate, error);
      break;
    }
    m_file = file;
    m_temporary = candidate;
    m_sectors = backup.sectors.size();
    return true;
  }
  failure = "cannot write the backup file " + file;
  return false;
}

bool PendingBackup::commit(std::string& failure) {
  std::error_code error;
  std::filesystem::rename(m_temporary, m_file, error);
  if (error) {
    failure = "the backup is in " + m_temporary + ", but it cannot replace " + m_file + ": " + error.message();
    m_temporary.clear();
    return false;
  }
  m_temporary.clear();
  return true;
}

void PendingBackup::discard() {
  if (m_temporary.empty()) return;
  std::error_code error;
  std::filesystem::remove(m_temporary, error);
  m_temporary.clear();
}

}  // namespace kestrin
