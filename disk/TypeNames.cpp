// The symbolic type names and the lists the dialogs offer. The names are a
// fixed table of their own: they are not rows of the catalogue, and some of
// their codes (0x27, 0xEF) have no catalogue row at all.

#include "TypeNames.h"

#include <array>
#include <span>
#include <string_view>

#include "PartitionStyle.h"

namespace kestrin {

namespace {

struct TypeName {
  std::string_view name;
  std::string_view code;
};

// MBR codes are the type byte in decimal, as the number conversion takes it.
constexpr std::array<TypeName, 11> kMbrNames{{
    {"ENTRY_UNUSED", "0"},
    {"FAT16", "4"},
    {"EXTENDED", "5"},
    {"IFS", "7"},
    {"FAT32", "11"},
    {"HIDDEN FAT16", "20"},
    {"HIDDEN IFS", "23"},
    {"HIDDEN FAT32", "27"},
    {"FAT32 or NTFS RESCUE", "39"},
    {"EFI GPT", "238"},
    {"EFI SYSTEM PARTITION", "239"},
}};

constexpr std::array<TypeName, 5> kGptNames{{
    {"ENTRY_UNUSED_GUID", "{00000000-0000-0000-0000-000000000000}"},
    {"BASIC_DATA_GUID", "{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}"},
    {"MSFT_RESERVED_GUID", "{e3c9e316-0b5c-4db8-817d-f92df00215ae}"},
    {"MSFT_RECOVERY_GUID", "{de94bba4-06d1-4d40-a16a-bfd50179d6ac}"},
    {"SYSTEM_GUID", "{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}"},
}};

std::span<const TypeName> namesForStyle(std::uint32_t style) {
  if (style == kStyleMbr) return kMbrNames;
  if (style == kStyleGpt) return kGptNames;
  return {};
}

}  // namespace

bool TypeNameToCode(std::uint32_t style, const std::string& name, std::string& code) {
  for (const TypeName& entry : namesForStyle(style)) {
    if (entry.name == name) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

// The create list for MBR leaves out the hidden and rescue FAT types, which
// only a type change offers.
TypeNameList CreatePartitionTypeList(std::uint32_t style) {
  if (style == kStyleMbr) {
    return {
        {"ENTRY_UNUSED", "EXTENDED", "IFS", "FAT32", "HIDDEN IFS", "HIDDEN FAT32", "EFI GPT", "EFI SYSTEM PARTITION"},
        2};
  }
  return ChangeTypeListGpt();
}

TypeNameList ChangeTypeListMbr() {
  return {{"ENTRY_UNUSED", "FAT16", "EXTENDED", "IFS", "FAT32", "HIDDEN FAT16", "HIDDEN IFS", "HIDDEN FAT32",
           "FAT32 or NTFS RESCUE", "EFI GPT", "EFI SYSTEM PARTITION"},
          2};
}

TypeNameList ChangeTypeListGpt() {
  return {{"ENTRY_UNUSED_GUID", "BASIC_DATA_GUID", "MSFT_RESERVED_GUID", "MSFT_RECOVERY_GUID", "SYSTEM_GUID"}, 1};
}

}  // namespace kestrin
