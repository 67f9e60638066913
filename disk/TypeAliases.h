#pragma once
// The type names people know from other partitioning tools, besides the
// windows' own names (TypeNames.h): the short names sfdisk documents
// (linux, swap, ...) and GPT fdisk's four-digit codes (8300, ef00, ...).
// Each stands for an MBR type byte, a GPT type GUID or both.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrin {

struct TypeAlias {
  std::string_view name;     // "linux", "8300"
  std::uint8_t mbrType;      // 0: no MBR type
  std::string_view gptType;  // the type GUID in braces; empty: no GPT type
  std::string_view label;    // what the type is, in a few words
};

// Every alias: the short names first, then the four-digit codes in
// ascending order.
std::span<const TypeAlias> TypeAliases();

// sfdisk's shortcuts, in this letter case only (a lower-case "e" in an
// sfdisk script is the type byte 0x0E): L, S, E, Ex, H, U, R and V, for
// linux, swap, extended, extended, home, uefi, raid and lvm.
bool IsTypeShortcut(std::string_view name);

// The code text of alias `name` (a short name or code in any letter case,
// or a shortcut) on a disk of partition
// style `style`: the type byte in decimal (MBR) or the type GUID in braces
// (GPT), as TypeNameToCode gives codes; nullopt when `name` is no alias or
// has no type of that style.
std::optional<std::string> TypeAliasCode(std::uint32_t style, std::string_view name);

}  // namespace kestrin
