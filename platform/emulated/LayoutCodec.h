#pragma once
// The codec between the on-disk partition structures and the system's
// drive-layout record (LayoutBuffer). Pure functions over a SectorReader or
// SectorDevice: no files, no port, no catalogue. Every function returns a
// Windows error code, ERROR_SUCCESS on success.
//
// The medium is untrusted: no count, size or offset read from it is used
// before it is checked.

#include <array>
#include <cstdint>
#include <span>

#include "Guid.h"
#include "LayoutBuffer.h"
#include "SectorDevice.h"

namespace kestrin {

// --- the whole layout, whatever its style ---

// Decodes what is on the medium: GPT (protective MBR and a valid primary or
// backup header), else MBR (0x55AA at byte 510), else RAW with no slots.
// Fills `out` completely (header and every slot; unused slots zero). Fails
// with ERROR_INSUFFICIENT_BUFFER when the layout has more than 64 slots.
std::uint32_t DecodeLayout(SectorReader& medium, LayoutBuffer& out);

// Writes the header and the first PartitionCount slots of `layout` as the
// disk's partition table, in the style of the header. `inputSize` is the
// size of the caller's buffer. Refuses with ERROR_INVALID_PARAMETER, writing
// nothing, what the disk cannot hold.
std::uint32_t EncodeLayout(SectorDevice& medium, const LayoutBuffer& layout, std::uint32_t inputSize);

inline constexpr std::size_t kCreateDiskRecordSize = 24;

// IOCTL_DISK_CREATE_DISK with its 24-byte record: u32 style at 0; MBR: u32
// signature at 4; GPT: disk GUID at 4 and u32 maximum entry count at 20.
std::uint32_t CreateFreshLayout(SectorDevice& medium, std::span<const std::uint8_t> createDisk);

// IOCTL_DISK_DELETE_DRIVE_LAYOUT: afterwards the disk reads as RAW.
std::uint32_t DeleteLayout(SectorDevice& medium);

// --- MBR (MbrCodec.cpp) ---

inline constexpr std::size_t kMbrSignatureOffset = 440;
inline constexpr std::size_t kMbrTableOffset = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrBootSignatureOffset = 510;
inline constexpr std::uint8_t kMbrTypeProtectiveGpt = 0xEE;

// True when sector 0 ends in 0x55AA.
bool HasMbrBootSignature(std::span<const std::uint8_t> sector0);
// True when one of the four primary entries has type 0xEE.
bool HasProtectiveEntry(std::span<const std::uint8_t> sector0);

// Decodes an MBR disk: four primary slots, then a group of four slots per
// EBR of the extended partition's chain.
std::uint32_t DecodeMbr(SectorReader& medium, LayoutBuffer& out);
// Writes an MBR layout: sector 0's table and signature, and the EBR chain.
std::uint32_t EncodeMbr(SectorDevice& medium, const LayoutBuffer& layout);
// Writes an empty MBR table with `signature`, keeping the boot code.
std::uint32_t WriteEmptyMbr(SectorDevice& medium, std::uint32_t signature);
// Removes the MBR table and boot signature from sector 0, keeping the boot code.
std::uint32_t ClearMbr(SectorDevice& medium);

// --- GPT (GptCodec.cpp) ---

// Decodes a GPT disk when the primary or the backup header is valid; sets
// `found` to false (and returns ERROR_SUCCESS) when neither is.
std::uint32_t DecodeGpt(SectorReader& medium, LayoutBuffer& out, bool& found);
// Writes a GPT layout: both arrays and headers and the protective MBR.
std::uint32_t EncodeGpt(SectorDevice& medium, const LayoutBuffer& layout);
// Writes an empty GPT with `diskId` and room for `maxPartitionCount` entries.
std::uint32_t WriteEmptyGpt(SectorDevice& medium, const Guid& diskId, std::uint32_t maxPartitionCount);
// Destroys both GPT headers so that no GPT is found any more.
std::uint32_t WipeGpt(SectorDevice& medium);

// Sector size of an image whose size is not given: 4096 when a GPT header
// written for 4096-byte sectors is found at byte 4096 (and none at byte
// 512), else 512. `probe` reads raw bytes at a byte offset.
std::uint32_t DetectSectorSize(std::span<const std::uint8_t> firstBytes);

}  // namespace kestrin
