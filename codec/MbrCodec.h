#pragma once
// Reading an MBR disk into the layout record, and the two whole-table
// writers (an empty table, no table). Every function returns a Windows error
// code, ERROR_SUCCESS on success; the medium is untrusted.

#include <cstdint>
#include <span>

#include "LayoutBuffer.h"
#include "MbrFormat.h"
#include "SectorDevice.h"

namespace kestrin {

// True when sector 0 ends in 0x55AA.
bool HasMbrBootSignature(std::span<const std::uint8_t> sector0);
// True when one of the four primary entries has type 0xEE.
bool HasProtectiveEntry(std::span<const std::uint8_t> sector0);

// Decodes an MBR disk: four primary slots, then a group of four slots per
// EBR of the extended partition's chain. ERROR_INSUFFICIENT_BUFFER when they
// do not all fit `out`.
std::uint32_t DecodeMbr(SectorReader& medium, LayoutBuffer& out);
// Writes an empty MBR table with `signature`, keeping the boot code.
std::uint32_t WriteEmptyMbr(SectorDevice& medium, std::uint32_t signature);
// Removes the MBR table and boot signature from sector 0, keeping the boot code.
std::uint32_t ClearMbr(SectorDevice& medium);

}  // namespace kestrin
