#pragma once
// The GPT entry operations. Each opens the disk, reads the layout, changes
// one slot, writes the whole layout back and closes the disk
// (EditDriveLayout). A failed request or a refused layout shows one message
// and gives false; a type GUID text that does not convert raises
// ConversionError after the read and before anything is written; an entry
// number outside 1 .. 64 is refused with a message before the disk is opened.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrin {

// The new entry is numbered `partitionNumber`, or, by default (0), by its
// entry number as the window numbers it; the disk stack puts a GPT entry at
// the array position its number names (LayoutQueries.h).
bool CreatePartitionGPT(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        const std::string& typeGuidText, std::uint32_t partitionNumber = 0);
bool DeletePartitionGPT(std::string path, std::uint8_t entry);
bool SetPartitionTypeGPT(std::string path, std::uint8_t entry, const std::string& typeGuidText);
bool SetPartitionAttributesGPT(std::string path, std::uint8_t entry, std::uint64_t attributes);

// The longest partition name a GPT entry holds, in UTF-16 code units.
inline constexpr std::size_t kGptNameMaxUnits = 36;

// Why `name` cannot be a partition name (more than kGptNameMaxUnits code
// units), or empty when it can.
std::string GptNameRefusal(const std::u16string& name);

// Gives the partition of slot `entry` the name `name` (UTF-16; empty
// clears it). A name longer than kGptNameMaxUnits is refused with a
// message before the disk is opened; an entry not in use is refused.
bool SetPartitionNameGPT(std::string path, std::uint8_t entry, const std::u16string& name);

// Sets (`on`) or clears attribute bit `bit` (0 .. 63) of the partition of
// slot `entry`, of the attributes the disk holds at the moment of the
// write; every other bit stays. A bit past 63 is refused with a message
// before the disk is opened; an entry not in use is refused.
bool SetPartitionAttributeBitGPT(std::string path, std::uint8_t entry, unsigned bit, bool on);

}  // namespace kestrin
