#pragma once
// The --size and --offset values of create-partition as people write them:
// a plain number as the window reads it (decimal, or hexadecimal after $,
// 0x or x: MiB for a size, bytes for an offset), or decimal digits with a
// unit, K, M, G or T or KiB, MiB, GiB or TiB (powers of 1024, any letter
// case). The text handed on is what the window's dialog takes.

#include <cstdint>
#include <string>

#include "CommandTable.h"

namespace kestrin::cli {

// The smallest sector size; an offset must be a multiple of it before the
// disk's own sector size is known.
inline constexpr std::uint32_t kSmallestSectorSize = 512;

// The size in whole MiB, as the dialog's size field takes it. A size with a
// unit that does not come to whole MiB, or overflows, throws UsageError
// saying so; a plain text that does not convert is handed on as it is, for
// the command's own conversion to refuse.
std::string SizeArgumentMib(const std::string& text, const CommandSpec* command);

// The offset in bytes, in decimal. An offset that is not a whole number of
// `sectorSize`-byte sectors, or overflows, throws UsageError saying so; a
// plain text that does not convert is handed on as it is.
std::string OffsetArgumentBytes(const std::string& text, std::uint32_t sectorSize, const CommandSpec* command);

}  // namespace kestrin::cli
