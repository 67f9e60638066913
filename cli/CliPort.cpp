#include "CliPort.h"

#include <algorithm>
#include <span>
#include <vector>

#include "LayoutCodec.h"
#include "OverlayDevice.h"
#include "PortDisk.h"
#include "RequestRecords.h"
#include "TableBackup.h"

namespace kestrin::cli {

bool CliPort::saveBackup(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize) {
  if (m_backupFile.empty() || m_backupDone) return true;
  m_backupDone = true;
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::uint32_t error = ERROR_SUCCESS;
  std::vector<std::uint64_t> lbas;
  TableBackup backup;
  if (PortSectors::geometry(m_inner, handle, sectorSize, sectorCount, error)) {
    PortSectors disk(m_inner, handle, sectorSize, sectorCount);
    error = TableSectors(disk, lbas);
    if (error == ERROR_SUCCESS) {
      // The sectors the write would change beyond the usual places (a new
      // EBR, a table of another size).
      OverlayDevice trial(disk);
      // A write the codec refuses changes none.
      static_cast<void>(ApplyTableWrite(
          trial, code, std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(input), input ? inputSize : 0)));
      std::vector<std::uint64_t> changed = trial.writtenSectors();
      lbas.insert(lbas.end(), changed.begin(), changed.end());
      std::sort(lbas.begin(), lbas.end());
      lbas.erase(std::unique(lbas.begin(), lbas.end()), lbas.end());
      error = ReadBackup(disk, lbas, backup);
    }
  }
  if (error != ERROR_SUCCESS) {
    m_backupFailure = "cannot read the table sectors for the backup: " + m_inner.ErrorMessage(error);
    return false;
  }
  if (!m_pending.write(m_backupFile, backup, m_backupFailure)) return false;
  m_saved = std::move(backup);
  return true;
}

void CliPort::settleBackup(DiskHandle handle, bool written) {
  if (m_pending.temporaryPath().empty()) return;
  if (written) {
    if (m_pending.commit(m_backupFailure)) m_backupSectors = m_saved.sectors.size();
    return;
  }
  // A write refused before it began leaves every saved sector as it was.
  PortSectors disk(m_inner, handle, m_saved.sectorSize, m_saved.sectorCount);
  std::vector<std::uint8_t> now;
  for (const SectorWrite& sector : m_saved.sectors) {
    if (readOneSector(disk, sector.lba, now) != ERROR_SUCCESS || now != sector.bytes) {
      m_backupKept = m_pending.temporaryPath();
      m_pending.keep();
      return;
    }
  }
  m_pending.discard();
}

DiskHandle CliPort::OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) {
  m_lastError.reset();
  if (path == m_heldPath && m_held == kInvalidHandle) {
    m_held = m_inner.OpenDisk(path, GENERIC_READ | GENERIC_WRITE, attributes);
  }
  if (path == m_heldPath && m_held != kInvalidHandle) {
    m_aliases[m_nextAlias] = m_held;
    return m_nextAlias--;
  }
  const DiskHandle handle = m_inner.OpenDisk(path, access, attributes);
  m_openFailed = m_openFailed || handle == kInvalidHandle;
  return handle;
}

void CliPort::CloseDisk(DiskHandle handle) {
  m_lastError.reset();
  // The held disk stays open until the command is done with it.
  if (m_aliases.erase(handle) == 0) m_inner.CloseDisk(handle);
}

void CliPort::releaseDisk() {
  if (m_held != kInvalidHandle) m_inner.CloseDisk(m_held);
  m_held = kInvalidHandle;
  m_heldPath.clear();
  m_aliases.clear();
}

bool CliPort::tryOut(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize) {
  if (!IsTableWrite(code)) {
    // What a write would send after it: nothing changed, nothing to read again.
    return true;
  }
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::uint32_t error = ERROR_SUCCESS;
  if (!PortSectors::geometry(m_inner, handle, sectorSize, sectorCount, error)) {
    m_lastError = error;
    return false;
  }
  PortSectors disk(m_inner, handle, sectorSize, sectorCount);
  OverlayDevice trial(disk);
  error = ApplyTableWrite(
      trial, code, std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(input), input ? inputSize : 0));
  if (error != ERROR_SUCCESS) {
    m_lastError = error;
    return false;
  }
  LayoutBuffer left;
  if (DecodeWholeLayout(trial, left) == ERROR_SUCCESS) m_triedLayout = std::move(left);
  return true;
}

bool CliPort::DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize,
                          void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) {
  m_lastError.reset();
  handle = innerHandle(handle);
  if (m_dryRun && (IsTableWrite(code) || code == IOCTL_DISK_UPDATE_PROPERTIES ||
                   code == IOCTL_DISK_SET_DISK_ATTRIBUTES || code == FSCTL_DISMOUNT_VOLUME)) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    return tryOut(handle, code, input, inputSize);
  }
  if (IsTableWrite(code) && !saveBackup(handle, code, input, inputSize)) {
    m_lastError = ERROR_WRITE_FAULT;
    return false;
  }
  const bool ok = m_inner.DiskControl(handle, code, input, inputSize, output, outputSize, bytesReturned);
  const std::uint32_t error = ok ? ERROR_SUCCESS : m_inner.LastError();
  m_busy = m_busy || error == ERROR_BUSY;
  if (IsTableWrite(code)) {
    settleBackup(handle, ok);
    if (!ok) m_lastError = error;
  }
  return ok;
}

}  // namespace kestrin::cli
