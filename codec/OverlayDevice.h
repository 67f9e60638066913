#pragma once
// A sector device that reads through to another one and keeps its own
// writes in memory: a write can be tried out, and the table it would leave
// read back, without a byte reaching the disk.

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "ErrorCodes.h"
#include "SectorDevice.h"

namespace kestrin {

class OverlayDevice : public SectorDevice {
 public:
  explicit OverlayDevice(SectorReader& below) : m_below(below) {}

  std::uint32_t sectorSize() const override { return m_below.sectorSize(); }
  std::uint64_t sectorCount() const override { return m_below.sectorCount(); }

  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override {
    if (std::uint32_t error = m_below.readSectors(lba, out); error != ERROR_SUCCESS) return error;
    const std::size_t size = sectorSize();
    for (std::size_t i = 0; i < out.size() / size; ++i) {
      auto written = m_written.find(lba + i);
      if (written != m_written.end()) std::copy(written->second.begin(), written->second.end(), out.begin() + i * size);
    }
    return ERROR_SUCCESS;
  }

  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override {
    const std::size_t size = sectorSize();
    if (data.size() % size != 0) return ERROR_INVALID_PARAMETER;
    const std::uint64_t count = data.size() / size;
    if (lba > sectorCount() || count > sectorCount() - lba) return ERROR_SECTOR_NOT_FOUND;
    for (std::size_t i = 0; i < count; ++i) {
      m_written[lba + i].assign(data.begin() + i * size, data.begin() + (i + 1) * size);
    }
    return ERROR_SUCCESS;
  }

  std::uint32_t flush() override { return ERROR_SUCCESS; }

  // The sectors written so far, ascending.
  std::vector<std::uint64_t> writtenSectors() const {
    std::vector<std::uint64_t> lbas;
    for (const auto& written : m_written) lbas.push_back(written.first);
    return lbas;
  }

 private:
  SectorReader& m_below;
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_written;
};

}  // namespace kestrin
