#include "ProtectiveMbr.h"

#include <algorithm>
#include <array>
#include <optional>

#include "ByteOrder.h"
#include "MbrCodec.h"
#include "MbrEntry.h"

namespace kestrin::gpt {

namespace {

// The CHS bytes of `lba` in a protective entry: as in any MBR entry, but an
// address past cylinder 1023 is stored as FF FF FF, as the GPT's own tools
// write it.
void writeProtectiveChs(std::span<std::uint8_t> sector, std::size_t offset, std::uint64_t lba) {
  constexpr std::uint64_t kLastChsLba = 1024ull * 255 * 63 - 1;
  std::array<std::uint8_t, 3> chs = lba > kLastChsLba ? std::array<std::uint8_t, 3>{0xFF, 0xFF, 0xFF} : chsFromLba(lba);
  std::copy(chs.begin(), chs.end(), sector.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::size_t entryOffset(int index) { return kMbrTableOffset + kMbrEntrySize * static_cast<std::size_t>(index); }

struct Extent {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool operator==(const Extent&) const = default;
};

Extent extentOf(std::span<const std::uint8_t> entry) {
  return {readLe64(entry, kEntryFirstLbaOffset), readLe64(entry, kEntryLastLbaOffset)};
}

// The used entry of `array` with the unique GUID `id`, if any.
std::optional<Extent> findById(const Header& h, std::span<const std::uint8_t> array, const Guid& id) {
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    auto entry = entryAt(array, h.entrySize, index);
    if (isUsedEntry(entry) && readGuidAt(entry, kEntryUniqueGuidOffset) == id) return extentOf(entry);
  }
  return std::nullopt;
}

// What becomes of hybrid entry `mbr` after the rewrite: nullopt to drop it,
// else the entry as it is to be (unchanged when it mirrors nothing).
std::optional<MbrEntry> followMirror(const MbrEntry& mbr, const Header& h, std::span<const std::uint8_t> before,
                                     std::span<const std::uint8_t> after) {
  if (mbr.sectorCount == 0) return mbr;
  const Extent mirrored{mbr.startLba, std::uint64_t{mbr.startLba} + mbr.sectorCount - 1};
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    auto entry = entryAt(before, h.entrySize, index);
    if (!isUsedEntry(entry) || extentOf(entry) != mirrored) continue;
    std::optional<Extent> now = findById(h, after, readGuidAt(entry, kEntryUniqueGuidOffset));
    if (!now || now->first != mirrored.first) return std::nullopt;
    const std::uint64_t count = now->last - now->first + 1;
    if (count > kMbrMaxSectorField) return std::nullopt;
    MbrEntry followed = mbr;
    followed.sectorCount = static_cast<std::uint32_t>(count);
    return followed;
  }
  return mbr;
}

}  // namespace

std::uint32_t protectiveSize(std::uint64_t sectorCount) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sectorCount - 1, kMbrMaxSectorField));
}

void makeProtectiveMbr(std::span<std::uint8_t> sector0, std::uint64_t sectorCount) {
  std::fill(sector0.begin() + kMbrTableOffset, sector0.begin() + kMbrBootSignatureOffset, std::uint8_t{0});
  const std::size_t entry = entryOffset(0);
  writeProtectiveChs(sector0, entry + kMbrEntryStartChsOffset, kPrimaryHeaderLba);
  writeU8(sector0, entry + kMbrEntryTypeOffset, kMbrTypeProtectiveGpt);
  writeProtectiveChs(sector0, entry + kMbrEntryEndChsOffset, sectorCount - 1);
  writeLe32(sector0, entry + kMbrEntryStartLbaOffset, static_cast<std::uint32_t>(kPrimaryHeaderLba));
  writeLe32(sector0, entry + kMbrEntrySectorCountOffset, protectiveSize(sectorCount));
  writeU8(sector0, kMbrBootSignatureOffset, 0x55);
  writeU8(sector0, kMbrBootSignatureOffset + 1, 0xAA);
}

bool followRewrite(std::span<std::uint8_t> sector0, std::uint64_t sectorCount, const Header& header,
                   std::span<const std::uint8_t> before, std::span<const std::uint8_t> after) {
  if (!HasMbrBootSignature(sector0) || !HasProtectiveEntry(sector0)) return false;
  int used = 0;
  for (int i = 0; i < kMbrEntryCount; ++i) used += readMbrEntry(sector0, i).isUsed() ? 1 : 0;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const MbrEntry entry = readMbrEntry(sector0, i);
    if (!entry.isUsed()) continue;
    if (entry.type == kMbrTypeProtectiveGpt) {
      // Only a plain protective entry covers the whole disk; in a hybrid MBR
      // the 0xEE entries cover what the mirrors leave, and stay as they are.
      const std::uint32_t size = protectiveSize(sectorCount);
      if (used == 1 && entry.startLba == kPrimaryHeaderLba && entry.sectorCount != size) {
        writeLe32(sector0, entryOffset(i) + kMbrEntrySectorCountOffset, size);
        writeProtectiveChs(sector0, entryOffset(i) + kMbrEntryEndChsOffset, sectorCount - 1);
      }
      continue;
    }
    std::optional<MbrEntry> followed = followMirror(entry, header, before, after);
    if (!followed) {
      writeMbrEntry(sector0, i, MbrEntry{}, 0);
    } else if (followed->sectorCount != entry.sectorCount) {
      writeMbrEntry(sector0, i, *followed, followed->startLba);
    }
  }
  return true;
}

}  // namespace kestrin::gpt
