#pragma once
// The port kestrin-cli installs in front of the system's: every call goes
// on unchanged, and around the table writes it does what the command line
// adds to them. With --backup it saves, before a write goes on, the sectors
// that write is about to change, and puts the file in place once the write
// has gone ahead (BackupFile.h).

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "BackupFile.h"
#include "LayoutBuffer.h"
#include "Port.h"
#include "TableBackup.h"

namespace kestrin::cli {

class CliPort : public DevicePort {
 public:
  explicit CliPort(DevicePort& inner) : m_inner(inner) {}

  // Before the first table write (IOCTL_DISK_SET_DRIVE_LAYOUT_EX, _CREATE_DISK
  // or _DELETE_DRIVE_LAYOUT) reaches the disk, its table sectors and every
  // sector the write would change are saved to `file` (TableBackup.h),
  // through the same handle and so under the same lock. A backup that
  // cannot be saved fails the write with ERROR_WRITE_FAULT, and nothing is
  // written. The file replaces `file` once the write has gone ahead; a
  // refused write leaves `file` as it was, and one that failed part-way
  // leaves the backup beside it (backupKeptIn).
  void backupBeforeWriting(const std::string& file) { m_backupFile = file; }
  // Why the backup could not be saved or put in place; empty when it was, or
  // none was due.
  const std::string& backupFailure() const { return m_backupFailure; }
  // How many sectors the backup in place holds (0 before it is there).
  std::size_t backupSectorCount() const { return m_backupSectors; }
  // Where the backup stays when the write failed after changing the disk.
  const std::string& backupKeptIn() const { return m_backupKept; }

  // A disk did not open (no such file, no rights, ...): only then is it
  // worth opening it again to name the cause.
  bool anOpenFailed() const { return m_openFailed; }
  // A request failed because another program holds the disk: whatever the
  // command would try next waits as long again for the same lock.
  bool diskBusy() const { return m_busy; }

  // For the rest of the command every open of `path` shares one handle of
  // the port behind, opened for reading and writing at the first open and
  // closed by releaseDisk: the command's reads (the table it shows, the
  // guards') and its write happen under one hold of the disk's lock, and a
  // disk another program holds is waited for once. A disk that does not open
  // for writing is opened as each caller asks.
  void holdDisk(const std::string& path) { m_heldPath = path; }
  void releaseDisk();

  // From now on table writes are only tried out: the codec makes them over
  // the disk in memory and nothing reaches the disk. A write the codec
  // refuses fails as it would; one it
  // takes succeeds, and triedLayout holds the table it would leave. What a
  // write sends after it (update, offline and online) does nothing.
  void dryRun() { m_dryRun = true; }
  const std::optional<LayoutBuffer>& triedLayout() const { return m_triedLayout; }

  DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) override;
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override;
  void CloseDisk(DiskHandle handle) override;
  bool ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                std::uint32_t* bytesRead) override {
    m_lastError.reset();
    return m_inner.ReadDisk(innerHandle(handle), offset, buffer, size, bytesRead);
  }
  bool WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytesWritten) override {
    m_lastError.reset();
    return m_inner.WriteDisk(innerHandle(handle), offset, buffer, size, bytesWritten);
  }
  bool FlushDisk(DiskHandle handle) override {
    m_lastError.reset();
    return m_inner.FlushDisk(innerHandle(handle));
  }
  std::uint32_t LastError() const override { return m_lastError ? *m_lastError : m_inner.LastError(); }
  std::string ErrorMessage(std::uint32_t code) const override { return m_inner.ErrorMessage(code); }

 private:
  // Saves the backup once, before the first table write; false after
  // recording why it could not be saved.
  bool saveBackup(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize);
  // After the table write the backup protects: puts it in place when the
  // write went ahead, else removes it, or keeps it where the disk no longer
  // holds what it saved.
  void settleBackup(DiskHandle handle, bool written);
  // A dry run's request: a table write tried out in memory; the rest done.
  bool tryOut(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize);

  DevicePort& m_inner;
  std::string m_backupFile;
  std::string m_backupFailure;
  std::string m_backupKept;
  std::size_t m_backupSectors = 0;
  bool m_backupDone = false;
  TableBackup m_saved;
  PendingBackup m_pending;
  // The handle of the port behind for `handle`, which may stand for the
  // held disk's.
  DiskHandle innerHandle(DiskHandle handle) const {
    auto alias = m_aliases.find(handle);
    return alias == m_aliases.end() ? handle : alias->second;
  }

  // Set when this port itself failed the last call.
  std::optional<std::uint32_t> m_lastError;
  std::string m_heldPath;
  DiskHandle m_held = kInvalidHandle;
  // The handles given out for the held disk, below any the port behind gives.
  std::map<DiskHandle, DiskHandle> m_aliases;
  DiskHandle m_nextAlias = kInvalidHandle - 1;
  bool m_openFailed = false;
  bool m_dryRun = false;
  std::optional<LayoutBuffer> m_triedLayout;
  bool m_busy = false;
};

}  // namespace kestrin::cli
