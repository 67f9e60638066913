#pragma once
// The whole-disk operations: a fresh layout, no layout, the disk attributes.

#include <cstdint>
#include <string>

namespace kestrin {

inline constexpr std::uint32_t kCreateDiskGptMaxPartitionCount = 128;

// A signature for a fresh MBR: random and never 0, and none that another
// disk the port serves carries (\\.\PhysicalDrive0 on, until 16 numbers
// in a row do not open). Two disks with one signature are one disk to the
// system: Windows takes the second offline, and on Linux their partitions
// share the PARTUUIDs that root= and fstab name.
std::uint32_t NewMbrSignature();

// Gives the disk a fresh empty layout of `style` (0 MBR, 1 GPT, 2 RAW); a
// fresh MBR gets a new signature (NewMbrSignature).
// Shows "IOCTL_DISK_CREATE_DISK failed:" + text and returns false on failure.
bool CreateDisk(std::string path, std::uint8_t style);
// Removes the layout; throws KestrinError
// "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:" + text on failure.
void DeleteDriveLayout(std::string path);
// Sets the attribute bits selected by `mask`, not persistently. False
// without a message on any failure.
bool SetDiskAttributes(std::string path, std::uint64_t attributes, std::uint64_t mask);

}  // namespace kestrin
