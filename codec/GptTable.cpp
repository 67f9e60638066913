#include "GptTable.h"

#include <zlib.h>

#include <cstring>

#include "ByteOrder.h"
#include "MbrFormat.h"
#include "ErrorCodes.h"

namespace kestrin::gpt {

std::uint32_t crc32Of(std::span<const std::uint8_t> bytes) {
  // Arrays are bounded by kMaxArrayBytes, far below what one zlib call takes.
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
  return static_cast<std::uint32_t>(crc);
}

Guid readGuidAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  Guid guid;
  for (std::size_t i = 0; i < 16; ++i) guid.bytes[i] = readU8(bytes, offset + i);
  return guid;
}

void writeGuidAt(std::span<std::uint8_t> bytes, std::size_t offset, const Guid& guid) {
  for (std::size_t i = 0; i < 16; ++i) writeU8(bytes, offset + i, guid.bytes[i]);
}

bool isUsedEntry(std::span<const std::uint8_t> entry) { return !readGuidAt(entry, kEntryTypeGuidOffset).isNull(); }

bool isShowableEntry(std::span<const std::uint8_t> entry, std::uint64_t sectorCount) {
  std::uint64_t first = readLe64(entry, kEntryFirstLbaOffset);
  std::uint64_t last = readLe64(entry, kEntryLastLbaOffset);
  return first <= last && last < sectorCount;
}

namespace {

// [first, first + count) and [otherFirst, otherLast] share a sector.
bool overlaps(std::uint64_t first, std::uint64_t count, std::uint64_t otherFirst, std::uint64_t otherLast) {
  return count > 0 && first <= otherLast && otherFirst <= first + count - 1;
}

}  // namespace

bool parseHeader(std::span<const std::uint8_t> sector, std::uint64_t expectedMyLba, std::uint64_t sectorCount,
                 Header& out) {
  // Sector 0, both headers and at least one usable sector.
  if (sectorCount < 4 || sector.size() < kHeaderMinSize) return false;
  if (std::memcmp(sector.data() + kHeaderSignatureOffset, kSignature, sizeof kSignature) != 0) return false;

  Header h;
  h.headerSize = readLe32(sector, kHeaderSizeOffset);
  if (h.headerSize < kHeaderMinSize || h.headerSize > sector.size()) return false;
  std::vector<std::uint8_t> covered(sector.begin(), sector.begin() + h.headerSize);
  writeLe32(covered, kHeaderCrcOffset, 0);
  if (crc32Of(covered) != readLe32(sector, kHeaderCrcOffset)) return false;

  h.myLba = readLe64(sector, kHeaderMyLbaOffset);
  h.alternateLba = readLe64(sector, kHeaderAlternateLbaOffset);
  h.firstUsableLba = readLe64(sector, kHeaderFirstUsableLbaOffset);
  h.lastUsableLba = readLe64(sector, kHeaderLastUsableLbaOffset);
  h.diskId = readGuidAt(sector, kHeaderDiskGuidOffset);
  h.entryLba = readLe64(sector, kHeaderEntryLbaOffset);
  h.entryCount = readLe32(sector, kHeaderEntryCountOffset);
  h.entrySize = readLe32(sector, kHeaderEntrySizeOffset);
  h.arrayCrc = readLe32(sector, kHeaderArrayCrcOffset);
  if (h.myLba != expectedMyLba) return false;

  // The entry geometry, before anything is sized from it.
  if (h.entrySize < kEntryMinSize || h.entrySize % 8 != 0) return false;
  if (h.entryCount == 0 || h.arrayBytes() > kMaxArrayBytes) return false;

  const std::uint64_t lastLba = sectorCount - 1;
  // The usable range lies strictly between the two header sectors.
  if (h.firstUsableLba <= kPrimaryHeaderLba || h.firstUsableLba > h.lastUsableLba || h.lastUsableLba >= lastLba) {
    return false;
  }
  // The array lies inside the disk, clear of sector 0, the header sectors and
  // the usable range (partitions must never overwrite it).
  const auto sectorSize = static_cast<std::uint32_t>(sector.size());
  const std::uint64_t arraySectors = h.arraySectors(sectorSize);
  if (h.entryLba > sectorCount || arraySectors > sectorCount - h.entryLba) return false;
  if (overlaps(h.entryLba, arraySectors, 0, kPrimaryHeaderLba)) return false;
  if (overlaps(h.entryLba, arraySectors, lastLba, lastLba)) return false;
  if (overlaps(h.entryLba, arraySectors, h.firstUsableLba, h.lastUsableLba)) return false;

  out = h;
  return true;
}

namespace {

std::uint32_t readCopy(SectorReader& medium, std::uint64_t headerLba, Copy& out) {
  out = Copy{};
  const std::uint32_t sectorSize = medium.sectorSize();
  std::vector<std::uint8_t> sector(sectorSize);
  if (std::uint32_t error = medium.readSectors(headerLba, sector); error != ERROR_SUCCESS) return error;
  Header header;
  if (!parseHeader(sector, headerLba, medium.sectorCount(), header)) return ERROR_SUCCESS;

  // Bounded and inside the disk: parseHeader checked both.
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(header.arraySectors(sectorSize) * sectorSize));
  if (std::uint32_t error = medium.readSectors(header.entryLba, raw); error != ERROR_SUCCESS) return error;
  raw.resize(static_cast<std::size_t>(header.arrayBytes()));
  if (crc32Of(raw) != header.arrayCrc) return ERROR_SUCCESS;

  out.valid = true;
  out.header = header;
  out.array = std::move(raw);
  return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t readTable(SectorReader& medium, ReadMode mode, Table& out) {
  out = Table{};
  const std::uint64_t sectorCount = medium.sectorCount();
  if (medium.sectorSize() < kMbrMinSectorSize || sectorCount < 4) return ERROR_SUCCESS;
  if (std::uint32_t error = readCopy(medium, kPrimaryHeaderLba, out.primary); error != ERROR_SUCCESS) return error;
  if (out.primary.valid && mode == ReadMode::FirstValid) return ERROR_SUCCESS;
  return readCopy(medium, sectorCount - 1, out.backup);
}

std::vector<std::uint8_t> headerSector(const Header& header, std::uint32_t sectorSize) {
  std::vector<std::uint8_t> sector(sectorSize, 0);
  std::memcpy(sector.data() + kHeaderSignatureOffset, kSignature, sizeof kSignature);
  writeLe32(sector, kHeaderRevisionOffset, kRevision);
  writeLe32(sector, kHeaderSizeOffset, static_cast<std::uint32_t>(kHeaderMinSize));
  writeLe64(sector, kHeaderMyLbaOffset, header.myLba);
  writeLe64(sector, kHeaderAlternateLbaOffset, header.alternateLba);
  writeLe64(sector, kHeaderFirstUsableLbaOffset, header.firstUsableLba);
  writeLe64(sector, kHeaderLastUsableLbaOffset, header.lastUsableLba);
  writeGuidAt(sector, kHeaderDiskGuidOffset, header.diskId);
  writeLe64(sector, kHeaderEntryLbaOffset, header.entryLba);
  writeLe32(sector, kHeaderEntryCountOffset, header.entryCount);
  writeLe32(sector, kHeaderEntrySizeOffset, header.entrySize);
  writeLe32(sector, kHeaderArrayCrcOffset, header.arrayCrc);
  writeLe32(sector, kHeaderCrcOffset, crc32Of(std::span<const std::uint8_t>(sector).first(kHeaderMinSize)));
  return sector;
}

}  // namespace kestrin::gpt
