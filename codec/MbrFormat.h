#pragma once
// The on-disk MBR and EBR structures: where the disk signature, the table of
// four 16-byte entries and the boot signature sit in a table sector, the
// fields of one entry, and the sector sizes the MBR code handles. All fields
// are little-endian.

#include <cstddef>
#include <cstdint>

namespace kestrin {

inline constexpr std::size_t kMbrSignatureOffset = 440;
inline constexpr std::size_t kMbrTableOffset = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrBootSignatureOffset = 510;
inline constexpr std::uint8_t kMbrTypeProtectiveGpt = 0xEE;
inline constexpr int kMbrEntryCount = 4;
inline constexpr std::size_t kMbrEntryBootOffset = 0;
inline constexpr std::size_t kMbrEntryStartChsOffset = 1;
inline constexpr std::size_t kMbrEntryTypeOffset = 4;
inline constexpr std::size_t kMbrEntryEndChsOffset = 5;
inline constexpr std::size_t kMbrEntryStartLbaOffset = 8;
inline constexpr std::size_t kMbrEntrySectorCountOffset = 12;
inline constexpr std::size_t kMbrSignatureSize = 4;
inline constexpr std::uint8_t kMbrBootFlag = 0x80;
// The largest start and size an entry's 32-bit sector fields hold: a disk
// or partition beyond them needs a GPT.
inline constexpr std::uint64_t kMbrMaxSectorField = 0xFFFFFFFFu;
static_assert(kMbrTableOffset + kMbrEntryCount * kMbrEntrySize == kMbrBootSignatureOffset);
static_assert(kMbrSignatureOffset + kMbrSignatureSize + 2 == kMbrTableOffset);

// Sector sizes the MBR code handles: the table needs 512 bytes, and offsets
// in bytes must stay far inside 64 bits (2^33 sectors x 2^16 bytes).
inline constexpr std::uint32_t kMbrMinSectorSize = 512;
inline constexpr std::uint32_t kMbrMaxSectorSize = 65536;
constexpr bool isMbrSectorSize(std::uint32_t size) { return size >= kMbrMinSectorSize && size <= kMbrMaxSectorSize; }

}  // namespace kestrin
