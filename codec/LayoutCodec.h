#pragma once
// The codec between the on-disk partition structures and the system's
// drive-layout record (LayoutBuffer), whatever the style; MbrCodec.h,
// MbrEncoder.h and GptCodec.h hold each style's own half. Pure functions
// over a SectorReader or SectorDevice: no files, no port, no catalogue.
// Every function returns a Windows error code, ERROR_SUCCESS on success.
//
// The medium is untrusted: no count, size or offset read from it is used
// before it is checked.

#include <array>
#include <cstdint>
#include <span>

#include "GptCodec.h"
#include "LayoutBuffer.h"
#include "MbrCodec.h"
#include "MbrEncoder.h"
#include "SectorDevice.h"

namespace kestrin {

// Decodes what is on the medium: GPT (protective MBR and a valid primary or
// backup header), else MBR (0x55AA at byte 510), else RAW with no slots.
// Fills `out` completely (header and every slot; unused slots zero), a
// record of whatever capacity it has. Fails with ERROR_INSUFFICIENT_BUFFER
// when the layout has more slots than `out` holds.
std::uint32_t DecodeLayout(SectorReader& medium, LayoutBuffer& out);
// Decodes the whole layout, however many slots it has, into a record large
// enough for it (ReadWithGrowingRecord): for what needs every partition of
// a disk, such as the kernel's partition list and the checks.
std::uint32_t DecodeWholeLayout(SectorReader& medium, LayoutBuffer& out);

// Writes the header and the first PartitionCount slots of `layout` as the
// disk's partition table, in the style of the header. `inputSize` is the
// size of the caller's buffer. Refuses with ERROR_INVALID_PARAMETER (an MBR
// on sectors it cannot have: ERROR_NOT_SUPPORTED), writing nothing, what the
// disk cannot hold, and appends to `why` (when given) the problems that
// refuse it, one per rule broken (TableRules.h): a refusal always names at
// least one, an accepted layout none.
std::uint32_t EncodeLayout(SectorDevice& medium, const LayoutBuffer& layout, std::uint32_t inputSize,
                           check::Findings* why = nullptr);

// IOCTL_DISK_CREATE_DISK with its 24-byte record: u32 style at 0; MBR: u32
// signature at 4; GPT: disk GUID at 4 and u32 maximum entry count at 20.
std::uint32_t CreateFreshLayout(SectorDevice& medium, std::span<const std::uint8_t> createDisk);

// IOCTL_DISK_DELETE_DRIVE_LAYOUT: afterwards the disk reads as RAW.
std::uint32_t DeleteLayout(SectorDevice& medium);

// True for the requests that write a table: IOCTL_DISK_SET_DRIVE_LAYOUT_EX,
// IOCTL_DISK_CREATE_DISK and IOCTL_DISK_DELETE_DRIVE_LAYOUT.
bool IsTableWrite(std::uint32_t code);

// Makes the table write `code` with its `input` on `medium`, as the disk
// stack answers it: the layout record of IOCTL_DISK_SET_DRIVE_LAYOUT_EX
// (EncodeLayout), the record of IOCTL_DISK_CREATE_DISK (CreateFreshLayout),
// or IOCTL_DISK_DELETE_DRIVE_LAYOUT. ERROR_INVALID_PARAMETER for an input too
// short for its record; ERROR_INVALID_FUNCTION for any other request.
std::uint32_t ApplyTableWrite(SectorDevice& medium, std::uint32_t code, std::span<const std::uint8_t> input);

// Sector size of an image whose size is not given: 4096 when a GPT header
// written for 4096-byte sectors is found at byte 4096 (and none at byte
// 512), else 512. `firstBytes` are the image's first bytes.
std::uint32_t DetectSectorSize(std::span<const std::uint8_t> firstBytes);

}  // namespace kestrin
