#pragma once
// The one read-modify-write sequence behind every entry operation.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "LayoutBuffer.h"

namespace kestrin {

enum class UpdateRequest { Send, Skip };
using LayoutChange = std::function<void(LayoutBuffer&)>;

// What an operation requires of the layout it has read before it may change
// it: the partition `style` it is made for and, for an operation on one
// entry, that `entry` has a slot in the table (`entries` says how far a
// create may reach past the count; see LayoutRefusal). `entry` is 0 for an
// operation on the header only.
struct LayoutRequirement {
  enum class Entries { WithinCount, InUse, CreateMbr, CreateGpt, NewMbrGroup };
  std::uint32_t style = kStyleMbr;
  unsigned entry = 0;
  Entries entries = Entries::WithinCount;
};

// The refusal of `layout` for `requirement`: "MBR only" / "GPT only" for a
// layout of another style, "not a valid part number" for an entry the layout
// has no slot for (an MBR create may fill the four primary slots of an empty
// table; a GPT create any of the 64 slots; a new logical drive only the
// first slot of a group of four behind the count, and only where the whole
// group fits the record) or, where the operation needs one, no entry in (an
// MBR slot of type 0, a GPT slot of the null type). Empty when the layout is
// fit.
std::string LayoutRefusal(const LayoutBuffer& layout, const LayoutRequirement& requirement);

// Opens read-write, dismounts, reads the layout into a zeroed buffer, applies
// `change`, writes the whole buffer, sends the update request (unless
// skipped) and closes. True only when the write succeeded. Errors raised by
// `change` close the disk and pass on with nothing written. With a
// `requirement`, a layout read that does not meet it is refused once the
// change has run: its message is shown, nothing is written and the result
// is false.
bool EditDriveLayout(const std::string& path, const LayoutChange& change, UpdateRequest update = UpdateRequest::Send,
                     const std::optional<LayoutRequirement>& requirement = std::nullopt);

// Writes `layout` whole as the disk's table: EditDriveLayout, whose change
// puts `layout` in place of the table read (a layout given as data, of the
// fixed record's 64 slots at most).
bool ReplaceDriveLayout(const std::string& path, const LayoutBuffer& layout);

}  // namespace kestrin
