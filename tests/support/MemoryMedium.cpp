#include "MemoryMedium.h"

#include <cstring>

#include "Port.h"

namespace kestrin::test {

std::uint32_t MemoryMedium::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (out.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = out.size() / m_sectorSize;
  if (lba > sectorCount() || count > sectorCount() - lba) return ERROR_SECTOR_NOT_FOUND;
  std::memcpy(out.data(), bytes.data() + lba * m_sectorSize, out.size());
  return ERROR_SUCCESS;
}

std::uint32_t MemoryMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (readOnly) return ERROR_WRITE_PROTECT;
  if (data.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = data.size() / m_sectorSize;
  if (lba > sectorCount() || count > sectorCount() - lba) return ERROR_SECTOR_NOT_FOUND;
  std::memcpy(bytes.data() + lba * m_sectorSize, data.data(), data.size());
  ++writes;
  return ERROR_SUCCESS;
}

}  // namespace kestrin::test
