#pragma once
// The type NAME argument of set-type and create-partition, turned into the
// text the command's type dialog hands back; and `types`, the list of every
// name kestrin-cli takes.

#include <cstdint>
#include <optional>
#include <string>

#include "CommandTable.h"

namespace kestrin::cli {

// For a disk of style `style` (0 MBR, 1 GPT): one of that style's type
// names, in any letter case, becomes the name as the window lists it; a
// short name as sfdisk knows it (linux, swap, ...) or, on GPT, a GPT fdisk
// code (8300, ef00, ...) becomes its code text; on MBR a type byte given as
// a number ("0x83", "$83", "131") becomes its code text in decimal ("131");
// on GPT a type GUID with or without braces, in either case, becomes its
// GUID text. Anything else gives nullopt and sets `error` to a text naming
// the argument and what is accepted.
std::optional<std::string> TypeArgumentText(std::uint32_t style, const std::string& argument, std::string& error);

// `types [mbr|gpt]`: every name with its style, code and the catalogue's
// description (for a type the catalogue does not know, what the type is),
// tab-separated, or as JSON.
int ListTypes(const CommandSpec& command, const CliRequest& request, CliStreams& io, FailureLog& failures);

}  // namespace kestrin::cli
