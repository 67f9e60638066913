#pragma once
// Turning a layout record into the GPT to write: the array geometry, the
// usable range and every used slot checked against the disk, and each
// entry placed in the array. Nothing here writes; every refusal happens
// before the first write.

#include <cstdint>

#include "GptTable.h"
#include "GptWriter.h"
#include "LayoutBuffer.h"
#include "SectorDevice.h"
#include "TableRules.h"

namespace kestrin::gpt {

// Plans the table for `layout` on `medium`, whose current table `table`
// holds. With a valid copy on the disk its usable range and array geometry
// stay, and the layout's usable range must agree with them; without one
// they come from the layout's header (usable range, MaxPartitionCount),
// which must be sound. The disk GUID is the layout's (never null).
//
// Slots with the null type GUID are no entries. Every other slot among the
// first PartitionCount must be sector-aligned, of positive length, inside
// the usable range and clear of the others, and the array must have room
// for all of them. A slot keeps the array position its PartitionNumber
// names when that position exists and no earlier slot took it; the others
// take the first free positions, so partitions that were not touched keep
// their numbers. A new entry without a unique GUID gets a fresh one.
// Entries on the disk that the reader leaves out (outside the disk) keep
// their positions and bytes.
//
// Returns ERROR_INVALID_PARAMETER for any layout the disk cannot hold, after
// appending to `findings` one problem for each rule broken (all of them, as
// far as the table's geometry lets the slots be judged); appends nothing and
// returns ERROR_SUCCESS otherwise.
std::uint32_t planLayout(const Table& table, const LayoutBuffer& layout, const SectorReader& medium, Plan& plan,
                         check::Findings& findings);

}  // namespace kestrin::gpt
