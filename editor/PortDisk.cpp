#include "PortDisk.h"

#include <array>

#include "ByteOrder.h"
#include "RequestFailure.h"
#include "RequestRecords.h"

namespace kestrin {

namespace {

// The access alignment descriptor of the disk; a disk (or port) that gives
// none leaves the alignment advice to the 1 MiB rule.
PhysicalSectors physicalSectorsOf(DevicePort& port, DiskHandle handle) {
  std::array<std::uint8_t, kStoragePropertyQuerySize> query{};
  writeLe32(query, 0, kStorageAccessAlignmentProperty);
  std::array<std::uint8_t, kAccessAlignmentSize> record{};
  std::uint32_t returned = 0;
  if (!port.DiskControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), kStoragePropertyQuerySize, record.data(),
                        kAccessAlignmentSize, &returned) ||
      returned < kAccessAlignmentSize) {
    return {};
  }
  return {readLe32(record, kAlignmentPhysicalSectorOffset), readLe32(record, kAlignmentSectorOffsetOffset)};
}

}  // namespace

bool PortSectors::geometry(DevicePort& port, DiskHandle handle, std::uint32_t& sectorSize, std::uint64_t& sectorCount,
                           std::uint32_t& error) {
  std::array<std::uint8_t, kGeometryExSize> record{};
  std::uint32_t returned = 0;
  if (!port.DiskControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, record.data(), kGeometryExSize,
                        &returned)) {
    error = port.LastError();
    return false;
  }
  sectorSize = readLe32(record, kGeometryBytesPerSectorOffset);
  const std::uint64_t bytes = readLe64(record, kGeometryDiskSizeOffset);
  if (sectorSize == 0) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  sectorCount = bytes / sectorSize;
  return true;
}

std::uint32_t PortSectors::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (lba > m_sectorCount || out.size() / m_sectorSize > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  std::uint32_t done = 0;
  if (!m_port->ReadDisk(m_handle, lba * m_sectorSize, out.data(), static_cast<std::uint32_t>(out.size()), &done)) {
    return m_port->LastError();
  }
  return done == out.size() ? ERROR_SUCCESS : ERROR_SECTOR_NOT_FOUND;
}

std::uint32_t PortSectors::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (lba > m_sectorCount || data.size() / m_sectorSize > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  std::uint32_t done = 0;
  if (!m_port->WriteDisk(m_handle, lba * m_sectorSize, data.data(), static_cast<std::uint32_t>(data.size()), &done)) {
    return m_port->LastError();
  }
  return done == data.size() ? ERROR_SUCCESS : ERROR_SECTOR_NOT_FOUND;
}

std::uint32_t PortSectors::flush() { return m_port->FlushDisk(m_handle) ? ERROR_SUCCESS : m_port->LastError(); }

PortDisk::PortDisk(const std::string& path, Access access)
    : m_port(port()),
      m_handle(m_port.OpenDisk(path, access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                               FILE_ATTRIBUTE_NORMAL)),
      m_sectors(m_port, m_handle, 0, 0) {
  if (m_handle == kInvalidHandle) {
    m_failure = SystemErrorText(m_port.LastError());
    return;
  }
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::uint32_t error = ERROR_SUCCESS;
  if (!PortSectors::geometry(m_port, m_handle, sectorSize, sectorCount, error)) {
    m_failure = RequestFailureText("IOCTL_DISK_GET_DRIVE_GEOMETRY_EX", error);
    return;
  }
  m_sectors = PortSectors(m_port, m_handle, sectorSize, sectorCount);
  m_physical = physicalSectorsOf(m_port, m_handle);
}

PortDisk::~PortDisk() {
  if (m_handle != kInvalidHandle) m_port.CloseDisk(m_handle);
}

std::string PortDisk::geometryText() const {
  return std::to_string(m_sectors.sectorCount()) + " sectors of " + std::to_string(m_sectors.sectorSize()) + " bytes";
}

}  // namespace kestrin
