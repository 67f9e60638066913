#pragma once
// The records of the control requests, as far as Kestrin writes or reads
// them: sizes and field offsets (all little-endian), and the disk attribute
// bits. The core builds and reads them; the disk stacks behind the port
// answer them.

#include <cstddef>
#include <cstdint>

namespace kestrin {

// CREATE_DISK, the input of IOCTL_DISK_CREATE_DISK: u32 style; for MBR a u32
// signature, for GPT the disk GUID and the u32 maximum entry count.
inline constexpr std::size_t kCreateDiskSize = 24;
inline constexpr std::size_t kCreateDiskStyleOffset = 0;
inline constexpr std::size_t kCreateDiskMbrSignatureOffset = 4;
inline constexpr std::size_t kCreateDiskGptDiskIdOffset = 4;
inline constexpr std::size_t kCreateDiskGptMaxCountOffset = 20;

// SET_DISK_ATTRIBUTES, the input of IOCTL_DISK_SET_DISK_ATTRIBUTES: u32
// version (the record's size), u8 persist, u64 attributes, u64 mask.
inline constexpr std::size_t kSetDiskAttributesSize = 40;
inline constexpr std::size_t kSetAttributesVersionOffset = 0;
inline constexpr std::size_t kSetAttributesPersistOffset = 4;
inline constexpr std::size_t kSetAttributesValuesOffset = 8;
inline constexpr std::size_t kSetAttributesMaskOffset = 16;
// The least a record must hold to carry the mask.
inline constexpr std::size_t kSetDiskAttributesMinSize = kSetAttributesMaskOffset + 8;

// GET_DISK_ATTRIBUTES, the output of IOCTL_DISK_GET_DISK_ATTRIBUTES: u32
// version, u64 attributes at 8.
inline constexpr std::size_t kGetDiskAttributesSize = 16;
inline constexpr std::size_t kGetAttributesVersionOffset = 0;
inline constexpr std::size_t kGetAttributesValuesOffset = 8;

// The disk attribute bits.
inline constexpr std::uint64_t DISK_ATTRIBUTE_OFFLINE = 1;
inline constexpr std::uint64_t DISK_ATTRIBUTE_READ_ONLY = 2;

// GET_LENGTH_INFORMATION, the output of IOCTL_DISK_GET_LENGTH_INFO: i64.
inline constexpr std::size_t kLengthInformationSize = 8;

// STORAGE_PROPERTY_QUERY, the input of IOCTL_STORAGE_QUERY_PROPERTY: u32
// property id, u32 query type (0, standard); the device descriptor is read
// into a buffer of 4096 bytes.
inline constexpr std::size_t kStoragePropertyQuerySize = 12;
inline constexpr std::size_t kStorageDescriptorBufferSize = 4096;
inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kStorageAccessAlignmentProperty = 6;

// STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR: u32 version and size, the cache line
// fields (left 0 by Kestrin's stack), the logical and physical sector sizes
// and the byte offset of the first logical sector that begins a physical one.
inline constexpr std::size_t kAccessAlignmentSize = 28;
inline constexpr std::size_t kAlignmentVersionOffset = 0;
inline constexpr std::size_t kAlignmentSizeOffset = 4;
inline constexpr std::size_t kAlignmentLogicalSectorOffset = 16;
inline constexpr std::size_t kAlignmentPhysicalSectorOffset = 20;
inline constexpr std::size_t kAlignmentSectorOffsetOffset = 24;

// STORAGE_DEVICE_DESCRIPTOR: its fixed part, and the fields Kestrin uses.
inline constexpr std::size_t kDescriptorHeaderSize = 40;
inline constexpr std::size_t kDescriptorVersionOffset = 0;
inline constexpr std::size_t kDescriptorSizeOffset = 4;
inline constexpr std::size_t kDescriptorRemovableMediaOffset = 10;
inline constexpr std::size_t kDescriptorVendorIdOffset = 12;
inline constexpr std::size_t kDescriptorProductIdOffset = 16;
inline constexpr std::size_t kDescriptorProductRevisionOffset = 20;
inline constexpr std::size_t kDescriptorSerialNumberOffset = 24;
inline constexpr std::size_t kDescriptorBusTypeOffset = 28;

}  // namespace kestrin
