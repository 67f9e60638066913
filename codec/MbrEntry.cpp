#include "MbrEntry.h"

#include "ByteOrder.h"

namespace kestrin {

namespace {

constexpr std::uint64_t kChsHeads = 255;
constexpr std::uint64_t kChsSectorsPerTrack = 63;
constexpr std::uint64_t kChsMaxCylinder = 1023;

std::size_t entryOffset(int index) { return kMbrTableOffset + kMbrEntrySize * static_cast<std::size_t>(index); }

void writeChs(std::span<std::uint8_t> sector, std::size_t offset, std::uint64_t lba) {
  std::array<std::uint8_t, 3> chs = chsFromLba(lba);
  for (std::size_t i = 0; i < chs.size(); ++i) writeU8(sector, offset + i, chs[i]);
}

}  // namespace

bool sameMbrEntryMeaning(const MbrEntry& a, const MbrEntry& b) {
  return a.type == b.type && a.isBootable() == b.isBootable() && a.startLba == b.startLba &&
         a.sectorCount == b.sectorCount;
}

bool isMbrContainerType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

MbrEntry readMbrEntry(std::span<const std::uint8_t> sector, int index) {
  std::size_t offset = entryOffset(index);
  MbrEntry entry;
  entry.bootFlag = readU8(sector, offset + kMbrEntryBootOffset);
  entry.type = readU8(sector, offset + kMbrEntryTypeOffset);
  entry.startLba = readLe32(sector, offset + kMbrEntryStartLbaOffset);
  entry.sectorCount = readLe32(sector, offset + kMbrEntrySectorCountOffset);
  return entry;
}

void writeMbrEntry(std::span<std::uint8_t> sector, int index, const MbrEntry& entry, std::uint64_t absoluteStartLba) {
  std::size_t offset = entryOffset(index);
  if (!entry.isUsed()) {
    for (std::size_t i = 0; i < kMbrEntrySize; ++i) writeU8(sector, offset + i, 0);
    return;
  }
  // A used entry always covers at least one sector (the encoder refuses
  // empty ones), so the last sector is start + count - 1.
  std::uint64_t lastLba = absoluteStartLba + (entry.sectorCount > 0 ? entry.sectorCount - 1 : 0);
  writeU8(sector, offset + kMbrEntryBootOffset, entry.bootFlag);
  writeChs(sector, offset + kMbrEntryStartChsOffset, absoluteStartLba);
  writeU8(sector, offset + kMbrEntryTypeOffset, entry.type);
  writeChs(sector, offset + kMbrEntryEndChsOffset, lastLba);
  writeLe32(sector, offset + kMbrEntryStartLbaOffset, entry.startLba);
  writeLe32(sector, offset + kMbrEntrySectorCountOffset, entry.sectorCount);
}

std::array<std::uint8_t, 3> chsFromLba(std::uint64_t lba) {
  std::uint64_t cylinder = lba / (kChsHeads * kChsSectorsPerTrack);
  if (cylinder > kChsMaxCylinder) return {0xFE, 0xFF, 0xFF};
  std::uint64_t head = (lba / kChsSectorsPerTrack) % kChsHeads;
  std::uint64_t sector = lba % kChsSectorsPerTrack + 1;
  return {static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(sector | ((cylinder >> 2) & 0xC0)),
          static_cast<std::uint8_t>(cylinder & 0xFF)};
}

std::optional<int> ebrLinkIndex(std::span<const std::uint8_t> sector) {
  for (int i = 0; i < kMbrEntryCount; ++i) {
    MbrEntry entry = readMbrEntry(sector, i);
    if (entry.isUsed() && isMbrContainerType(entry.type)) return i;
  }
  return std::nullopt;
}

bool ebrHasLogicalDrive(std::span<const std::uint8_t> sector) {
  for (int i = 0; i < kMbrEntryCount; ++i) {
    MbrEntry entry = readMbrEntry(sector, i);
    if (entry.isUsed() && !isMbrContainerType(entry.type)) return true;
  }
  return false;
}

}  // namespace kestrin
