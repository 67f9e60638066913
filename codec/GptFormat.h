#pragma once
// The on-disk GPT structures: field offsets of the header and of one entry
// of the partition entry array, and the limits the reader enforces. All
// fields are little-endian; GUIDs are stored in the same mixed-endian layout
// as the system's GUID, so they are copied byte for byte.

#include <cstddef>
#include <cstdint>

namespace kestrin::gpt {

// Header, at LBA 1 (primary) and at the last LBA (backup).
inline constexpr std::size_t kHeaderSignatureOffset = 0;
inline constexpr std::size_t kHeaderRevisionOffset = 8;
inline constexpr std::size_t kHeaderSizeOffset = 12;
inline constexpr std::size_t kHeaderCrcOffset = 16;
inline constexpr std::size_t kHeaderReservedOffset = 20;
inline constexpr std::size_t kHeaderMyLbaOffset = 24;
inline constexpr std::size_t kHeaderAlternateLbaOffset = 32;
inline constexpr std::size_t kHeaderFirstUsableLbaOffset = 40;
inline constexpr std::size_t kHeaderLastUsableLbaOffset = 48;
inline constexpr std::size_t kHeaderDiskGuidOffset = 56;
inline constexpr std::size_t kHeaderEntryLbaOffset = 72;
inline constexpr std::size_t kHeaderEntryCountOffset = 80;
inline constexpr std::size_t kHeaderEntrySizeOffset = 84;
inline constexpr std::size_t kHeaderArrayCrcOffset = 88;
// The defined fields end here; a header may declare itself longer (up to a
// sector), and its CRC then covers the extra bytes too.
inline constexpr std::size_t kHeaderMinSize = 92;
static_assert(kHeaderArrayCrcOffset + 4 == kHeaderMinSize);

inline constexpr char kSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
inline constexpr std::uint32_t kRevision = 0x00010000;

// One entry of the partition entry array. Entries may be longer than 128
// bytes (a multiple of 8); the bytes past 128 have no defined meaning.
inline constexpr std::size_t kEntryTypeGuidOffset = 0;
inline constexpr std::size_t kEntryUniqueGuidOffset = 16;
inline constexpr std::size_t kEntryFirstLbaOffset = 32;
inline constexpr std::size_t kEntryLastLbaOffset = 40;
inline constexpr std::size_t kEntryAttributesOffset = 48;
inline constexpr std::size_t kEntryNameOffset = 56;
inline constexpr std::size_t kEntryNameBytes = 72;
inline constexpr std::size_t kEntryMinSize = 128;
static_assert(kEntryNameOffset + kEntryNameBytes == kEntryMinSize);

// The array written by this program: 128-byte entries, 128 of them unless
// asked otherwise, and at least 16 KiB reserved for it on either end.
inline constexpr std::uint32_t kDefaultEntryCount = 128;
inline constexpr std::uint64_t kMinArrayBytes = 16384;

// The largest array this program reads or writes. Real tables are 16 KiB;
// the bound keeps a hostile header from making the reader allocate or read
// gigabytes, and it also bounds the entry count of a fresh table.
inline constexpr std::uint64_t kMaxArrayBytes = 4u * 1024 * 1024;
inline constexpr std::uint32_t kMaxEntryCount = kMaxArrayBytes / kEntryMinSize;

inline constexpr std::uint64_t kPrimaryHeaderLba = 1;
inline constexpr std::uint64_t kPrimaryArrayLba = 2;

}  // namespace kestrin::gpt
