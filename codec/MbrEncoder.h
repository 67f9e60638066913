#pragma once
// Writing an MBR layout record to the disk: sector 0's table and signature
// and the EBR chain, checked in full (MbrPlan.h) before the first write.

#include <cstdint>

#include "LayoutBuffer.h"
#include "SectorDevice.h"

namespace kestrin {

// Writes an MBR layout: sector 0's table and signature, and the EBR chain.
std::uint32_t EncodeMbr(SectorDevice& medium, const LayoutBuffer& layout);

}  // namespace kestrin
