#include "GptWriter.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "Port.h"

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

namespace {

// Cylinder/head/sector of `lba` as an MBR stores it, with the geometry of
// 255 heads and 63 sectors per track that partitioning tools assume; an
// address past cylinder 1023 is stored as FF FF FF.
void writeChs(std::span<std::uint8_t> at, std::uint64_t lba) {
  constexpr std::uint64_t kHeads = 255;
  constexpr std::uint64_t kSectorsPerTrack = 63;
  const std::uint64_t cylinder = lba / (kHeads * kSectorsPerTrack);
  if (cylinder > 1023) {
    at[0] = at[1] = at[2] = 0xFF;
    return;
  }
  const std::uint64_t rest = lba % (kHeads * kSectorsPerTrack);
  const std::uint64_t head = rest / kSectorsPerTrack;
  const std::uint64_t sector = rest % kSectorsPerTrack + 1;
  at[0] = static_cast<std::uint8_t>(head);
  at[1] = static_cast<std::uint8_t>(sector | ((cylinder >> 8) << 6));
  at[2] = static_cast<std::uint8_t>(cylinder & 0xFF);
}

}  // namespace

void makeProtectiveMbr(std::span<std::uint8_t> sector0, std::uint64_t sectorCount) {
  constexpr std::size_t kTableOffset = 446;
  std::fill(sector0.begin() + kTableOffset, sector0.begin() + kMbrSize, std::uint8_t{0});
  auto entry = sector0.subspan(kTableOffset, 16);
  const std::uint64_t lastLba = sectorCount - 1;
  entry[kMbrEntryStatusOffset] = 0;
  writeChs(entry.subspan(kMbrEntryFirstChsOffset, 3), kPrimaryHeaderLba);
  entry[kMbrEntryTypeOffset] = 0xEE;
  writeChs(entry.subspan(kMbrEntryLastChsOffset, 3), lastLba);
  writeLe32(entry, kMbrEntryFirstLbaOffset, static_cast<std::uint32_t>(kPrimaryHeaderLba));
  writeLe32(entry, kMbrEntrySectorsOffset, static_cast<std::uint32_t>(std::min<std::uint64_t>(lastLba, 0xFFFFFFFFu)));
  sector0[510] = 0x55;
  sector0[511] = 0xAA;
}

std::uint32_t writeTable(SectorDevice& medium, Plan plan) {
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
  makeProtectiveMbr(sector0, medium.sectorCount());
  return writeChangedSectors(medium, 0, sector0);
}

}  // namespace kestrin::gpt
