#pragma once
// A backup file that takes its place only once the write it protects has
// gone ahead. It is first written whole to a new file beside its name and
// flushed to the disk; then the write happens; then the new file replaces
// the old one. A refused or failed write leaves an existing file as it was
// (the backup a user made before an earlier mistake is not lost), and a
// crash between the two leaves the new file where it lies, with the table
// as it was before the write.

#include <string>

#include "TableBackup.h"

namespace kestrin {

class PendingBackup {
 public:
  PendingBackup() = default;
  PendingBackup(const PendingBackup&) = delete;
  PendingBackup& operator=(const PendingBackup&) = delete;
  // Removes a new file that was neither committed nor kept.
  ~PendingBackup();

  // Writes `backup` to a new file beside `file` and flushes it; false with
  // `failure` set when it cannot be written whole (nothing is left behind).
  bool write(const std::string& file, const TableBackup& backup, std::string& failure);
  // The write went ahead: the new file replaces the one named. False with
  // `failure` set when it cannot; the new file then stays where it is.
  bool commit(std::string& failure);
  // The write did not go ahead: the new file goes, the one named stays.
  void discard();
  // The write stopped part-way: the new file stays beside the one named.
  void keep() { m_temporary.clear(); }

  const std::string& file() const { return m_file; }
  const std::string& temporaryPath() const { return m_temporary; }
  std::size_t sectorCount() const { return m_sectors; }

 private:
  std::string m_file;
  std::string m_temporary;
  std::size_t m_sectors = 0;
};

}  // namespace kestrin
