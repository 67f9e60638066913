#pragma once
// Writing an MBR layout record to the disk: sector 0's table and signature
// and the EBR chain, checked in full (MbrPlan.h) before the first write.

#include <cstdint>

#include "LayoutBuffer.h"
#include "SectorDevice.h"
#include "TableRules.h"

namespace kestrin {

// Writes an MBR layout: sector 0's table and signature, and the EBR chain.
// A layout the disk cannot hold is refused, with nothing written, with
// ERROR_INVALID_PARAMETER (ERROR_NOT_SUPPORTED for a sector size an MBR
// cannot have); its problems are appended to `why` when given.
std::uint32_t EncodeMbr(SectorDevice& medium, const LayoutBuffer& layout, check::Findings* why = nullptr);

}  // namespace kestrin
