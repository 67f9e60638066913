#include "FuzzImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ByteOrder.h"
#include "ErrorCodes.h"

namespace kestrin::fuzz {

FuzzImage::FuzzImage(std::span<const std::uint8_t> input, std::uint32_t forceSectorSize) {
  if (input.size() < kFuzzImageHeaderSize) return;
  m_sectorSize = forceSectorSize != 0 ? forceSectorSize : ((input[0] & 1) != 0 ? 4096 : 512);
  m_sectorCount = readLe64(input, 1) & kFuzzImageSectorCountMask;
  std::size_t at = kFuzzImageHeaderSize;
  while (at + kFuzzImageLbaSize <= input.size()) {
    std::uint64_t lba = readLe64(input, at);
    at += kFuzzImageLbaSize;
    std::size_t available = std::min<std::size_t>(m_sectorSize, input.size() - at);
    if (lba < m_sectorCount) {
      std::vector<std::uint8_t> sector(m_sectorSize, 0);
      std::memcpy(sector.data(), input.data() + at, available);
      m_sectors[lba] = std::move(sector);
    }
    at += available;
  }
}

std::uint32_t FuzzImage::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (out.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  const std::uint64_t count = out.size() / m_sectorSize;
  if (lba > m_sectorCount || count > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  std::fill(out.begin(), out.end(), 0);
  for (auto it = m_sectors.lower_bound(lba); it != m_sectors.end() && it->first < lba + count; ++it) {
    std::memcpy(out.data() + (it->first - lba) * m_sectorSize, it->second.data(), m_sectorSize);
  }
  return ERROR_SUCCESS;
}

std::uint32_t FuzzImage::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (data.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  const std::uint64_t count = data.size() / m_sectorSize;
  if (lba > m_sectorCount || count > m_sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  for (std::uint64_t i = 0; i < count; ++i) {
    auto sector = data.subspan(i * m_sectorSize, m_sectorSize);
    m_sectors[lba + i].assign(sector.begin(), sector.end());
  }
  return ERROR_SUCCESS;
}

bool FuzzImage::sameContents(const FuzzImage& other) const {
  if (m_sectorSize != other.m_sectorSize || m_sectorCount != other.m_sectorCount) return false;
  const std::vector<std::uint8_t> zeros(m_sectorSize, 0);
  auto holds = [&zeros](const FuzzImage& disk, std::uint64_t lba) -> const std::vector<std::uint8_t>& {
    auto found = disk.m_sectors.find(lba);
    return found == disk.m_sectors.end() ? zeros : found->second;
  };
  for (const auto& [lba, bytes] : m_sectors) {
    if (holds(other, lba) != bytes) return false;
  }
  for (const auto& [lba, bytes] : other.m_sectors) {
    if (holds(*this, lba) != bytes) return false;
  }
  return true;
}

}  // namespace kestrin::fuzz
