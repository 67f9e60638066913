#include "MbrSparseMedium.h"

#include <algorithm>

#include "Port.h"

namespace kestrin::test {

std::uint32_t MbrSparseMedium::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (out.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = out.size() / m_sectorSize;
  if (lba > m_sectorCount || count > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::vector<std::uint8_t> bytes = sector(lba + i);
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(i * m_sectorSize));
  }
  return ERROR_SUCCESS;
}

std::uint32_t MbrSparseMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (data.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = data.size() / m_sectorSize;
  if (lba > m_sectorCount || count > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  if (++m_writeCount == failWriteNumber) return failError;
  log.push_back("w" + std::to_string(lba));
  for (std::uint64_t i = 0; i < count; ++i) {
    auto first = data.begin() + static_cast<std::ptrdiff_t>(i * m_sectorSize);
    m_sectors[lba + i] = std::vector<std::uint8_t>(first, first + m_sectorSize);
  }
  return ERROR_SUCCESS;
}

std::uint32_t MbrSparseMedium::flush() {
  log.push_back("f");
  return ERROR_SUCCESS;
}

std::vector<std::uint8_t> MbrSparseMedium::sector(std::uint64_t lba) const {
  auto found = m_sectors.find(lba);
  return found != m_sectors.end() ? found->second : std::vector<std::uint8_t>(m_sectorSize, 0);
}

void MbrSparseMedium::setSector(std::uint64_t lba, const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> copy = bytes;
  copy.resize(m_sectorSize, 0);
  m_sectors[lba] = std::move(copy);
}

}  // namespace kestrin::test
