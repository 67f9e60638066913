#pragma once
// The NAME argument of set-type and create-partition, turned into the text
// the command's type dialog hands back.

#include <cstdint>
#include <optional>
#include <string>

namespace kestrin::cli {

// For a disk of style `style` (0 MBR, 1 GPT): one of that style's type
// names, in any letter case, becomes the name as the window lists it; on
// MBR a type byte given as a number ("0x83", "$83", "131") becomes its code
// text in decimal ("131"); on GPT a type GUID in braces becomes its GUID
// text. Anything else gives nullopt and sets `error` to a text naming the
// argument and what is accepted.
std::optional<std::string> TypeArgumentText(std::uint32_t style, const std::string& argument, std::string& error);

}  // namespace kestrin::cli
