#include "GptWriter.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "ErrorCodes.h"

namespace kestrin::gpt {

std::uint32_t writeChangedSectors(SectorDevice& medium, std::uint64_t lba, std::span<const std::uint8_t> bytes) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::size_t count = bytes.size() / sectorSize;
  std::vector<std::uint8_t> current(bytes.size());
  if (std::uint32_t error = medium.readSectors(lba, current); error != ERROR_SUCCESS) return error;

  bool wrote = false;
  std::size_t i = 0;
  while (i < count) {
    auto differs = [&](std::size_t s) {
      return std::memcmp(current.data() + s * sectorSize, bytes.data() + s * sectorSize, sectorSize) != 0;
    };
    if (!differs(i)) {
      ++i;
      continue;
    }
    // One write per run of changed sectors.
    std::size_t end = i + 1;
    while (end < count && differs(end)) ++end;
    auto run = bytes.subspan(i * sectorSize, (end - i) * sectorSize);
    if (std::uint32_t error = medium.writeSectors(lba + i, run); error != ERROR_SUCCESS) return error;
    wrote = true;
    i = end;
  }
  return wrote ? medium.flush() : ERROR_SUCCESS;
}

std::uint32_t writeTable(SectorDevice& medium, Plan plan, ProtectiveMbr protectiveMbr,
                         std::span<const std::uint8_t> previousArray) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::uint64_t lastLba = medium.sectorCount() - 1;

  // The array padded to whole sectors; the padding is zero.
  std::vector<std::uint8_t> array = std::move(plan.array);
  array.resize(static_cast<std::size_t>(plan.header.arraySectors(sectorSize) * sectorSize), 0);
  plan.header.arrayCrc = crc32Of(std::span<const std::uint8_t>(array).first(plan.header.arrayBytes()));

  Header backup = plan.header;
  backup.myLba = lastLba;
  backup.alternateLba = kPrimaryHeaderLba;
  backup.entryLba = plan.backupArrayLba;
  Header primary = plan.header;
  primary.myLba = kPrimaryHeaderLba;
  primary.alternateLba = lastLba;
  primary.entryLba = plan.primaryArrayLba;

  // The backup copy first, its array before its header: until the new
  // backup header lands, the old primary copy is still whole and is what a
  // reader believes. The primary copy follows in the same order; while it
  // is half-written the new backup copy is whole. The protective MBR comes
  // last, so a disk that held an MBR keeps reading as that MBR until the
  // whole GPT is in place.
  if (std::uint32_t error = writeChangedSectors(medium, backup.entryLba, array); error != ERROR_SUCCESS) return error;
  if (std::uint32_t error = writeChangedSectors(medium, lastLba, headerSector(backup, sectorSize));
      error != ERROR_SUCCESS) {
    return error;
  }
  if (std::uint32_t error = writeChangedSectors(medium, primary.entryLba, array); error != ERROR_SUCCESS) return error;
  if (std::uint32_t error = writeChangedSectors(medium, kPrimaryHeaderLba, headerSector(primary, sectorSize));
      error != ERROR_SUCCESS) {
    return error;
  }
  std::vector<std::uint8_t> sector0(sectorSize);
  if (std::uint32_t error = medium.readSectors(0, sector0); error != ERROR_SUCCESS) return error;
  if (protectiveMbr == ProtectiveMbr::Fresh ||
      !followRewrite(sector0, medium.sectorCount(), plan.header, previousArray, std::span<const std::uint8_t>(array))) {
    makeProtectiveMbr(sector0, medium.sectorCount());
  }
  return writeChangedSectors(medium, 0, sector0);
}

}  // namespace kestrin::gpt
