#pragma once
// Helpers for tests that damage or forge a GPT inside an in-memory image:
// after a test changes a header or an entry, GptReseal recomputes the
// checksums so that only the change under test is wrong.

#include <cstdint>
#include <span>
#include <vector>


namespace kestrin::test {

// Header field offsets, as UEFI lays them out.
inline constexpr std::size_t kGptHeaderSizeField = 12;
inline constexpr std::size_t kGptHeaderCrcField = 16;
inline constexpr std::size_t kGptMyLbaField = 24;
inline constexpr std::size_t kGptFirstUsableField = 40;
inline constexpr std::size_t kGptLastUsableField = 48;
inline constexpr std::size_t kGptEntryLbaField = 72;
inline constexpr std::size_t kGptEntryCountField = 80;
inline constexpr std::size_t kGptEntrySizeField = 84;
inline constexpr std::size_t kGptArrayCrcField = 88;

// The sector at `lba` of `image`.
std::span<std::uint8_t> GptSectorAt(std::vector<std::uint8_t>& image, std::uint32_t sectorSize, std::uint64_t lba);

// Recomputes the array CRC of the header at `lba` (when its array lies inside
// the image) and then its header CRC (over its declared size, clamped to
// 92 .. sector size).
void GptReseal(std::vector<std::uint8_t>& image, std::uint32_t sectorSize, std::uint64_t lba);

// The entry `index` (0-based) of the array that the header at `headerLba` points at.
std::span<std::uint8_t> GptEntryAt(std::vector<std::uint8_t>& image, std::uint32_t sectorSize,
                                   std::uint64_t headerLba, std::uint32_t index);

}  // namespace kestrin::test
