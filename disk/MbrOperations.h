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
// A new logical drive in slot `entry`, the first of a group of four appended
// behind the table's count (entry 5 while the extended partition holds no
// drive): the count is raised to take the group, as the system's layout
// record holds one group per EBR, and the disk stack writes the drive's EBR
// and the link that leads to it. "not a valid part number" for any other
// slot, or when the record has no room for the group.
bool CreateLogicalDriveMBR(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                           std::uint8_t type);
bool DeletePartitionMBR(std::string path, std::uint8_t entry);
bool SetPartitionTypeMBR(std::string path, std::uint8_t entry, std::uint8_t type);
bool SetPartitionBootMBR(std::string path, std::uint8_t entry, bool bootIndicator);
bool SetDiskIdMBR(std::string path, std::uint32_t signature);
bool SetPartitionNumberOneMBR(std::string path, std::uint8_t entry);

}  // namespace kestrin
