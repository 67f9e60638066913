#pragma once
// A disk opened through the device port and read or written as whole
// sectors (the port's raw calls), for the codec's checks, backups and
// restores. The handle is held from construction to destruction, so
// everything read and written in between is one step for other programs
// that honour the disk's lock.

#include <cstdint>
#include <string>

#include "Port.h"
#include "SectorDevice.h"

namespace kestrin {

// A SectorDevice over an open handle of `port`, of the sector size and
// length IOCTL_DISK_GET_DRIVE_GEOMETRY_EX reports.
class PortSectors : public SectorDevice {
 public:
  PortSectors(DevicePort& port, DiskHandle handle, std::uint32_t sectorSize, std::uint64_t sectorCount)
      : m_port(&port), m_handle(handle), m_sectorSize(sectorSize), m_sectorCount(sectorCount) {}

  // Asks the port for the geometry of the disk behind `handle`; false (with
  // the port's error code in `error`) when it cannot say.
  static bool geometry(DevicePort& port, DiskHandle handle, std::uint32_t& sectorSize, std::uint64_t& sectorCount,
                       std::uint32_t& error);

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  // A short transfer counts as ERROR_SECTOR_NOT_FOUND.
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;

 private:
  DevicePort* m_port;
  DiskHandle m_handle;
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
};

// Disk N opened through the installed port, read-only or read-write, with
// its geometry. `ok()` is false when the open or the geometry failed; then
// `failure()` says why, in the port's words.
class PortDisk {
 public:
  enum class Access { Read, ReadWrite };
  PortDisk(const std::string& path, Access access);
  ~PortDisk();
  PortDisk(const PortDisk&) = delete;
  PortDisk& operator=(const PortDisk&) = delete;

  bool ok() const { return m_failure.empty(); }
  const std::string& failure() const { return m_failure; }
  PortSectors& sectors() { return m_sectors; }
  // How the disk's physical sectors lie, as the storage stack reports them
  // (the access alignment property); size 0 when it does not say.
  PhysicalSectors physicalSectors() const { return m_physical; }
  DiskHandle handle() const { return m_handle; }
  // "<n> sectors of <size> bytes"
  std::string geometryText() const;

 private:
  DevicePort& m_port;
  DiskHandle m_handle;
  PortSectors m_sectors;
  PhysicalSectors m_physical;
  std::string m_failure;
};

}  // namespace kestrin
