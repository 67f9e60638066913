#include "GptImage.h"

#include <zlib.h>

#include <algorithm>

#include "ByteOrder.h"

namespace kestrin::test {

namespace {

std::uint32_t crc(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

}  // namespace

std::span<std::uint8_t> GptSectorAt(std::vector<std::uint8_t>& image, std::uint32_t sectorSize, std::uint64_t lba) {
  return std::span<std::uint8_t>(image).subspan(lba * sectorSize, sectorSize);
}

std::span<std::uint8_t> GptEntryAt(std::vector<std::uint8_t>& image, std::uint32_t sectorSize,
                                   std::uint64_t headerLba, std::uint32_t index) {
  auto header = GptSectorAt(image, sectorSize, headerLba);
  std::uint64_t entrySize = readLe32(header, kGptEntrySizeField);
  std::uint64_t offset = readLe64(header, kGptEntryLbaField) * sectorSize + index * entrySize;
  return std::span<std::uint8_t>(image).subspan(offset, entrySize);
}

void GptReseal(std::vector<std::uint8_t>& image, std::uint32_t sectorSize, std::uint64_t lba) {
  auto header = GptSectorAt(image, sectorSize, lba);
  std::uint64_t arrayOffset = readLe64(header, kGptEntryLbaField) * sectorSize;
  std::uint64_t arrayBytes = std::uint64_t{readLe32(header, kGptEntryCountField)} * readLe32(header, kGptEntrySizeField);
  if (arrayOffset / sectorSize == readLe64(header, kGptEntryLbaField) && arrayOffset <= image.size() &&
      arrayBytes <= image.size() - arrayOffset) {
    writeLe32(header, kGptArrayCrcField, crc(std::span<const std::uint8_t>(image).subspan(arrayOffset, arrayBytes)));
  }
  std::size_t size = std::clamp<std::size_t>(readLe32(header, kGptHeaderSizeField), 92, sectorSize);
  writeLe32(header, kGptHeaderCrcField, 0);
  writeLe32(header, kGptHeaderCrcField, crc(header.first(size)));
}

}  // namespace kestrin::test
