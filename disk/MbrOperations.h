#pragma once
// The MBR entry operations. Each opens the disk, reads the layout, changes
// one slot (or the disk signature), writes the whole layout back and closes
// the disk (EditDriveLayout). A failed request or a refused layout shows one
// message and gives false; an entry number outside 1 .. 64 is refused with a
// message before the disk is opened.

#include <cstdint>
#include <string>

namespace kestrin {

bool CreatePartitionMBR(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        bool bootIndicator, std::uint8_t type);
bool DeletePartitionMBR(std::string path, std::uint8_t entry);
bool SetPartitionTypeMBR(std::string path, std::uint8_t entry, std::uint8_t type);
bool SetPartitionBootMBR(std::string path, std::uint8_t entry, bool bootIndicator);
bool SetDiskIdMBR(std::string path, std::uint32_t signature);
bool SetPartitionNumberOneMBR(std::string path, std::uint8_t entry);

}  // namespace kestrin
