#pragma once
// The control codes of the disk and storage requests, as the system numbers
// them: the port carries them, the disk stack and the codec answer them.

#include <cstdint>

namespace kestrin {

// Control codes of the ten requests the system issues.
inline constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT_EX = 0x70050;
inline constexpr std::uint32_t IOCTL_DISK_SET_DRIVE_LAYOUT_EX = 0x7C054;
inline constexpr std::uint32_t IOCTL_DISK_UPDATE_PROPERTIES = 0x70140;
inline constexpr std::uint32_t FSCTL_DISMOUNT_VOLUME = 0x90020;
inline constexpr std::uint32_t IOCTL_DISK_DELETE_DRIVE_LAYOUT = 0x7C100;
inline constexpr std::uint32_t IOCTL_DISK_CREATE_DISK = 0x7C058;
inline constexpr std::uint32_t IOCTL_DISK_SET_DISK_ATTRIBUTES = 0x7C0F4;
inline constexpr std::uint32_t IOCTL_DISK_GET_DISK_ATTRIBUTES = 0x700F0;
inline constexpr std::uint32_t IOCTL_DISK_GET_LENGTH_INFO = 0x7405C;
inline constexpr std::uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400;
// The disk's geometry, for the tools that read whole sectors (the port's raw calls
// ReadDisk and WriteDisk): DISK_GEOMETRY_EX, of which only the sector size and the disk size
// are filled and read.
inline constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY_EX = 0x700A0;
inline constexpr std::uint32_t kGeometryExSize = 32;
inline constexpr std::uint32_t kGeometryBytesPerSectorOffset = 20;
inline constexpr std::uint32_t kGeometryDiskSizeOffset = 24;

}  // namespace kestrin
