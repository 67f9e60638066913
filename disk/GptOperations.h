#pragma once
// The GPT entry operations. Each opens the disk, reads the layout, changes
// one slot, writes the whole layout back and closes the disk
// (EditDriveLayout). A failed request or a refused layout shows one message
// and gives false; a type GUID text that does not convert raises
// ConversionError after the read and before anything is written; an entry
// number outside 1 .. 64 is refused with a message before the disk is opened.

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

}  // namespace kestrin
