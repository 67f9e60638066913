// The aliases are public facts: sfdisk(8) lists its short names with the
// types they mean, gdisk(8) describes its codes (the MBR type byte times
// 0x100, numbered on where one byte stands for several GPT types), and the
// GUIDs are those that UEFI and the systems' own documentation give their
// partition types.

#include "TypeAliases.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "PartitionStyle.h"

namespace kestrin {

namespace {

constexpr std::array<TypeAlias, 38> kAliases{{
    {"linux", 0x83, "{0FC63DAF-8483-4772-8E79-3D69D8477DE4}", "Linux filesystem"},
    {"swap", 0x82, "{0657FD6D-A4AB-43C4-84E5-0933C84B4F4F}", "Linux swap"},
    {"extended", 0x05, "", "MBR extended partition"},
    {"home", 0, "{933AC7E1-2EB4-4F13-B844-0E14E2AEF915}", "Linux /home"},
    {"uefi", 0xEF, "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", "EFI system partition"},
    {"raid", 0xFD, "{A19D880F-05FC-4D3B-A006-743F0F84911E}", "Linux RAID"},
    {"lvm", 0x8E, "{E6D6D379-F507-44C2-A23C-238F2A3DF928}", "Linux LVM"},
    {"0700", 0, "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", "Microsoft basic data"},
    {"0c01", 0, "{E3C9E316-0B5C-4DB8-817D-F92DF00215AE}", "Microsoft reserved"},
    {"2700", 0, "{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}", "Windows recovery environment"},
    {"4200", 0, "{AF9B60A0-1431-4F62-BC68-3311714A69AD}", "Windows LDM data"},
    {"4201", 0, "{5808C8AA-7E8F-42E0-85D2-E1E90434CFB3}", "Windows LDM metadata"},
    {"8200", 0, "{0657FD6D-A4AB-43C4-84E5-0933C84B4F4F}", "Linux swap"},
    {"8300", 0, "{0FC63DAF-8483-4772-8E79-3D69D8477DE4}", "Linux filesystem"},
    {"8301", 0, "{8DA63339-0007-60C0-C436-083AC8230908}", "Linux reserved"},
    {"8302", 0, "{933AC7E1-2EB4-4F13-B844-0E14E2AEF915}", "Linux /home"},
    {"8303", 0, "{44479540-F297-41B2-9AF7-D131D5F0458A}", "Linux x86 root (/)"},
    {"8304", 0, "{4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709}", "Linux x86-64 root (/)"},
    {"8305", 0, "{B921B045-1DF0-41C3-AF44-4C6F280D3FAE}", "Linux ARM64 root (/)"},
    {"8306", 0, "{3B8F8425-20E0-4F3B-907F-1A25A76F98E8}", "Linux /srv"},
    {"8307", 0, "{69DAD710-2CE4-4E3C-B16C-21A1D49ABED3}", "Linux ARM32 root (/)"},
    {"8309", 0, "{CA7D7CCB-63ED-4C53-861C-1742536059CC}", "Linux LUKS"},
    {"8310", 0, "{4D21B016-B534-45C2-A9FB-5C16E091FD2D}", "Linux /var"},
    {"8311", 0, "{7EC6F557-3BC5-4ACA-B293-16EF5DF639D1}", "Linux /var/tmp"},
    {"8e00", 0, "{E6D6D379-F507-44C2-A23C-238F2A3DF928}", "Linux LVM"},
    {"a500", 0, "{516E7CB4-6ECF-11D6-8FF8-00022D09712B}", "FreeBSD disklabel"},
    {"a501", 0, "{83BD6B9D-7F41-11DC-BE0B-001560B84F0F}", "FreeBSD boot"},
    {"a502", 0, "{516E7CB5-6ECF-11D6-8FF8-00022D09712B}", "FreeBSD swap"},
    {"a503", 0, "{516E7CB6-6ECF-11D6-8FF8-00022D09712B}", "FreeBSD UFS"},
    {"a504", 0, "{516E7CBA-6ECF-11D6-8FF8-00022D09712B}", "FreeBSD ZFS"},
    {"af00", 0, "{48465300-0000-11AA-AA11-00306543ECAC}", "Apple HFS/HFS+"},
    {"af0a", 0, "{7C3457EF-0000-11AA-AA11-00306543ECAC}", "Apple APFS"},
    {"bf01", 0, "{6A898CC3-1DD2-11B2-99A6-080020736631}", "Solaris /usr and Mac ZFS"},
    {"ea00", 0, "{BC13C2FF-59E6-4262-A352-B275FD6F7172}", "Extended boot loader (XBOOTLDR)"},
    {"ef00", 0, "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", "EFI system partition"},
    {"ef01", 0, "{024DEE41-33E7-11D3-9D69-0008C781F39F}", "MBR partition scheme"},
    {"ef02", 0, "{21686148-6449-6E6F-744E-656564454649}", "BIOS boot partition"},
    {"fd00", 0, "{A19D880F-05FC-4D3B-A006-743F0F84911E}", "Linux RAID"},
}};

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// sfdisk's shortcuts, each for one of its short names.
constexpr std::pair<std::string_view, std::string_view> kShortcuts[] = {
    {"L", "linux"}, {"S", "swap"}, {"E", "extended"}, {"Ex", "extended"},
    {"H", "home"},  {"U", "uefi"}, {"R", "raid"},     {"V", "lvm"}};

}  // namespace

std::span<const TypeAlias> TypeAliases() { return kAliases; }

bool IsTypeShortcut(std::string_view name) {
  return std::any_of(std::begin(kShortcuts), std::end(kShortcuts),
                     [name](const auto& shortcut) { return shortcut.first == name; });
}

std::optional<std::string> TypeAliasCode(std::uint32_t style, std::string_view name) {
  for (const auto& [shortcut, shortName] : kShortcuts) {
    if (shortcut == name) name = shortName;
  }
  for (const TypeAlias& alias : kAliases) {
    if (!sameIgnoringAsciiCase(alias.name, name)) continue;
    if (style == kStyleMbr && alias.mbrType != 0) return std::to_string(alias.mbrType);
    if (style == kStyleGpt && !alias.gptType.empty()) return std::string(alias.gptType);
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace kestrin
