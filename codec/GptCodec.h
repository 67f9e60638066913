#pragma once
// The GPT half of the layout codec: a GPT on the disk to the layout record
// and back, a fresh empty GPT, and wiping one. Every function returns a
// Windows error code, ERROR_SUCCESS on success; the medium is untrusted.

#include <cstdint>

#include "Guid.h"
#include "LayoutBuffer.h"
#include "SectorDevice.h"
#include "TableRules.h"

namespace kestrin {

// Decodes a GPT disk when the primary or the backup header is valid; sets
// `found` to false (and returns ERROR_SUCCESS) when neither is. Fails with
// ERROR_INSUFFICIENT_BUFFER when the used entries do not all fit `out`.
std::uint32_t DecodeGpt(SectorReader& medium, LayoutBuffer& out, bool& found);
// Writes a GPT layout: both arrays and headers and the protective MBR. A
// layout the disk cannot hold is refused with ERROR_INVALID_PARAMETER,
// nothing written; its problems are appended to `why` when given.
std::uint32_t EncodeGpt(SectorDevice& medium, const LayoutBuffer& layout, check::Findings* why = nullptr);
// Writes an empty GPT with `diskId` and room for `maxPartitionCount` entries.
std::uint32_t WriteEmptyGpt(SectorDevice& medium, const Guid& diskId, std::uint32_t maxPartitionCount);
// Destroys both GPT headers so that no GPT is found any more.
std::uint32_t WipeGpt(SectorDevice& medium);

}  // namespace kestrin
