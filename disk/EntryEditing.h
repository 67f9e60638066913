#pragma once
// Pieces the MBR and GPT entry operations share around EditDriveLayout.

#include <string>

#include "LayoutBuffer.h"

namespace kestrin {

// "Entry number <entry> is outside the partition table (1 to 64)".
std::string EntryOutsideTableText(unsigned entry);

// The guard every entry operation runs before it opens the disk. The buffer
// has exactly 64 slots; a number outside 1 .. 64 addresses none of them, so
// the call is refused instead of reaching the buffer or the disk. Returns
// true when `entry` addresses a slot; otherwise shows EntryOutsideTableText
// through the message sink and returns false.
bool acceptEntryNumber(unsigned entry);

// The count an entry-creating operation gives an empty table: the four
// primary slots of an MBR, and the same floor for a GPT.
inline constexpr std::uint32_t kEmptyTableCreateCount = 4;

// An MBR layout record holds a group of four slots per EBR behind its four
// primary slots: the logical drive, the link to the next EBR, two unused.
inline constexpr std::uint32_t kMbrGroupSlots = 4;

// The create operations clear the rewrite mark of the slots of entries 1 to
// 32 before they mark the slot they fill; slots 33 to 64 keep theirs.
inline constexpr int kCreateClearsRewriteUpTo = 32;
void clearRewriteMarksForCreate(LayoutBuffer& buffer);

}  // namespace kestrin
