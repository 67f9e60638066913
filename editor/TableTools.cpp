#include "TableTools.h"

#include <algorithm>
#include <vector>

#include "BackupFile.h"
#include "LayoutCodec.h"
#include "OverlayDevice.h"
#include "PortDisk.h"
#include "RequestFailure.h"

namespace kestrin {

std::optional<check::Report> VerifyDiskTable(const std::string& path, const std::string& diskName, Interaction& ui) {
  PortDisk opened(path, PortDisk::Access::Read);
  if (!opened.ok()) {
    ui.message("cannot read " + diskName + ": " + opened.failure());
    return std::nullopt;
  }
  check::Report report;
  if (std::uint32_t error = check::VerifyDisk(opened.sectors(), report, opened.physicalSectors());
      error != ERROR_SUCCESS) {
    ui.message("cannot read " + diskName + "'s table sectors: " + SystemErrorText(error));
    return std::nullopt;
  }
  return report;
}

std::optional<TableBackup> SaveTableBackup(const std::string& path, const std::string& diskName,
                                           const std::string& file, Interaction& ui) {
  TableBackup backup;
  {
    PortDisk opened(path, PortDisk::Access::Read);
    if (!opened.ok()) {
      ui.message("cannot read " + diskName + ": " + opened.failure());
      return std::nullopt;
    }
    std::vector<std::uint64_t> lbas;
    std::uint32_t error = TableSectors(opened.sectors(), lbas);
    if (error == ERROR_SUCCESS) error = ReadBackup(opened.sectors(), lbas, backup);
    if (error != ERROR_SUCCESS) {
      ui.message("cannot read " + diskName + "'s table sectors: " + SystemErrorText(error));
      return std::nullopt;
    }
  }
  // Written beside the file and put in its place whole: a file cut short
  // never replaces an earlier backup.
  PendingBackup saved;
  std::string failure;
  if (!saved.write(file, backup, failure) || !saved.commit(failure)) {
    ui.message(failure);
    return std::nullopt;
  }
  return backup;
}

CommandOutcome RestoreTableBackup(const std::string& path, const std::string& diskName, const RestoreRequest& request,
                                  Interaction& ui) {
  const TableBackup& backup = request.backup;
  PortDisk opened(path, PortDisk::Access::ReadWrite);
  if (!opened.ok()) {
    ui.message("cannot open " + diskName + " for writing: " + opened.failure());
    return CommandOutcome::Failed;
  }
  PortSectors& sectors = opened.sectors();
  if (sectors.sectorSize() != backup.sectorSize || sectors.sectorCount() != backup.sectorCount) {
    // An image's sector size is read from its table: once a 4096-byte GPT
    // is gone, the image reads as 512-byte sectors until told otherwise.
    const bool sameBytes = std::uint64_t{sectors.sectorSize()} * sectors.sectorCount() ==
                           std::uint64_t{backup.sectorSize} * backup.sectorCount;
    ui.message(request.file + " was made for a disk of " + std::to_string(backup.sectorCount) + " sectors of " +
               std::to_string(backup.sectorSize) + " bytes; " + diskName + " has " + opened.geometryText() +
               (sameBytes ? " (for an image file, give --sector-size " + std::to_string(backup.sectorSize) +
                                " before its --disk)"
                          : ""));
    return CommandOutcome::Refused;
  }
  // The table now and the table the restore leaves, both read whole by the
  // codec from the same handle.
  std::vector<SectorWrite> writes;
  if (std::uint32_t error = PlanRestore(sectors, backup, writes); error != ERROR_SUCCESS) {
    ui.message("cannot read " + diskName + "'s table sectors: " + SystemErrorText(error));
    return CommandOutcome::Failed;
  }
  LayoutBuffer before;
  LayoutBuffer after;
  OverlayDevice restored(sectors);
  for (const SectorWrite& sector : writes) static_cast<void>(restored.writeSectors(sector.lba, sector.bytes));
  if (request.showTables && DecodeWholeLayout(sectors, before) == ERROR_SUCCESS &&
      DecodeWholeLayout(restored, after) == ERROR_SUCCESS) {
    request.showTables(before, after);
  }
  if (request.dryRun) return CommandOutcome::Done;
  if (!ui.confirm("Restore " + std::to_string(backup.sectors.size()) + " table sectors of " + path + " from " +
                  request.file + "?")) {
    return CommandOutcome::Cancelled;
  }
  PendingBackup undo;
  if (request.undoFile) {
    // What the restore changes: the sectors it writes and the table's own.
    std::vector<std::uint64_t> lbas;
    std::uint32_t error = TableSectors(sectors, lbas);
    for (const SectorWrite& sector : writes) lbas.push_back(sector.lba);
    std::sort(lbas.begin(), lbas.end());
    lbas.erase(std::unique(lbas.begin(), lbas.end()), lbas.end());
    TableBackup current;
    if (error == ERROR_SUCCESS) error = ReadBackup(sectors, lbas, current);
    std::string failure = error == ERROR_SUCCESS ? "" : "cannot read the table sectors: " + SystemErrorText(error);
    if (!failure.empty() || !undo.write(*request.undoFile, current, failure)) {
      ui.message(failure + "; nothing written");
      return CommandOutcome::Failed;
    }
  }
  bool partlyRestored = false;
  if (std::uint32_t error = RestoreBackup(sectors, backup, partlyRestored); error != ERROR_SUCCESS) {
    ui.message("the restore stopped: " + SystemErrorText(error) +
               (partlyRestored ? "; the disk holds part of the backup and part of its table before"
                               : "; the disk is as it was"));
    if (partlyRestored && request.undoFile) {
      if (request.note) {
        request.note("the table sectors as they were before the restore are in " + undo.temporaryPath());
      }
      undo.keep();
    }
    return CommandOutcome::Failed;
  }
  if (request.undoFile) {
    std::string failure;
    if (!undo.commit(failure)) {
      ui.message(failure);
      return CommandOutcome::Failed;
    }
    if (request.note) request.note("saved " + std::to_string(undo.sectorCount()) + " sectors to " + *request.undoFile);
  }
  // The system reads the table again, as after every table write.
  std::uint32_t returned = 0;
  if (!port().DiskControl(opened.handle(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned) &&
      port().LastError() == ERROR_DEVICE_IN_USE) {
    ui.message("the table is restored, but the system keeps partitions of the old one: " +
               SystemErrorText(ERROR_DEVICE_IN_USE) + " (release it, then have the kernel read the table again)");
    return CommandOutcome::Failed;
  }
  return CommandOutcome::Done;
}

}  // namespace kestrin
