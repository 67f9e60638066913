// The symbolic type names: their codes per disk style, the lists the dialogs
// offer, and how the codes meet the number and GUID conversions, sfdisk's
// type lists and the catalogue.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Convert.h"
#include "Guid.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "TestSupport.h"
#include "TypeAliases.h"
#include "TypeNames.h"
#include "udiskmgmt.h"

namespace {

using kestrin::TypeNameToCode;

constexpr std::uint32_t kMbr = 0;
constexpr std::uint32_t kGpt = 1;
constexpr std::uint32_t kRaw = 2;

const std::vector<std::pair<std::string, std::string>> kMbrCodes = {
    {"ENTRY_UNUSED", "0"},   {"FAT16", "4"},         {"EXTENDED", "5"},     {"IFS", "7"},
    {"FAT32", "11"},         {"HIDDEN FAT16", "20"}, {"HIDDEN IFS", "23"},  {"HIDDEN FAT32", "27"},
    {"FAT32 or NTFS RESCUE", "39"}, {"EFI GPT", "238"}, {"EFI SYSTEM PARTITION", "239"},
};

const std::vector<std::pair<std::string, std::string>> kGptCodes = {
    {"ENTRY_UNUSED_GUID", "{00000000-0000-0000-0000-000000000000}"},
    {"BASIC_DATA_GUID", "{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}"},
    {"MSFT_RESERVED_GUID", "{e3c9e316-0b5c-4db8-817d-f92df00215ae}"},
    {"MSFT_RECOVERY_GUID", "{de94bba4-06d1-4d40-a16a-bfd50179d6ac}"},
    {"SYSTEM_GUID", "{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}"},
};

// The system writes GUID text with upper-case digits; the table view passes
// that form to the catalogue.
std::string upperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string codeFor(std::uint32_t style, const std::string& name, std::string code = "") {
  TypeNameToCode(style, name, code);
  return code;
}

TEST(TypeNameToCode, MbrNamesGiveTheTypeByteInDecimal) {
  for (const auto& [name, expected] : kMbrCodes) {
    std::string code;
    EXPECT_TRUE(TypeNameToCode(kMbr, name, code)) << name;
    EXPECT_EQ(code, expected) << name;
  }
  EXPECT_EQ(codeFor(kMbr, "FAT32"), "11");
}

TEST(TypeNameToCode, GptNamesGiveTheTypeGuidInLowerCaseBraces) {
  for (const auto& [name, expected] : kGptCodes) {
    std::string code;
    EXPECT_TRUE(TypeNameToCode(kGpt, name, code)) << name;
    EXPECT_EQ(code, expected) << name;
  }
  EXPECT_EQ(codeFor(kGpt, "SYSTEM_GUID"), "{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}");
}

TEST(TypeNameToCode, MatchesNamesExactlyAndCaseSensitively) {
  EXPECT_EQ(codeFor(kMbr, "fat32"), "");
  EXPECT_EQ(codeFor(kMbr, "Fat32"), "");
  EXPECT_EQ(codeFor(kMbr, "FAT32 "), "");
  EXPECT_EQ(codeFor(kMbr, " FAT32"), "");
  EXPECT_EQ(codeFor(kMbr, "FAT"), "");
  EXPECT_EQ(codeFor(kMbr, ""), "");
  EXPECT_EQ(codeFor(kMbr, "FAT32 OR NTFS RESCUE"), "");
  EXPECT_EQ(codeFor(kGpt, "system_guid"), "");
}

TEST(TypeNameToCode, NamesOfTheOtherStyleGiveNothing) {
  EXPECT_EQ(codeFor(kGpt, "FAT32"), "");
  for (const auto& [name, code] : kGptCodes) EXPECT_EQ(codeFor(kMbr, name), "") << name;
  for (const auto& [name, code] : kMbrCodes) EXPECT_EQ(codeFor(kGpt, name), "") << name;
}

TEST(TypeNameToCode, RawAndUnknownStylesHaveNoNames) {
  for (std::uint32_t style : {kRaw, 3u, 0xFFFFFFFFu}) {
    for (const auto& [name, code] : kMbrCodes) EXPECT_EQ(codeFor(style, name), "") << style << " " << name;
    for (const auto& [name, code] : kGptCodes) EXPECT_EQ(codeFor(style, name), "") << style << " " << name;
  }
}

// The GPT type change presets the unused-entry GUID; a name without a code
// must leave that preset in place.
TEST(TypeNameToCode, LeavesTheCallersTextUntouchedWhenNothingMatches) {
  const std::string preset(kestrin::kNullGuidText);
  std::string code = preset;
  EXPECT_FALSE(TypeNameToCode(kGpt, "typed by hand", code));
  EXPECT_EQ(code, preset);
  EXPECT_FALSE(TypeNameToCode(kRaw, "BASIC_DATA_GUID", code));
  EXPECT_EQ(code, preset);
  EXPECT_FALSE(TypeNameToCode(kMbr, "fat32", code));
  EXPECT_EQ(code, preset);
  code = "keep me";
  EXPECT_FALSE(TypeNameToCode(kMbr, "BASIC_DATA_GUID", code));
  EXPECT_EQ(code, "keep me");
  // A match replaces whatever was there.
  EXPECT_TRUE(TypeNameToCode(kMbr, "EFI GPT", code));
  EXPECT_EQ(code, "238");
}

// The MBR codes go through the editor's number conversion and must become
// the intended type byte.
TEST(TypeNameToCode, MbrCodesConvertToTheIntendedTypeBytes) {
  const std::map<std::string, int> typeByte = {
      {"ENTRY_UNUSED", 0x00}, {"FAT16", 0x04},        {"EXTENDED", 0x05},           {"IFS", 0x07},
      {"FAT32", 0x0B},        {"HIDDEN FAT16", 0x14}, {"HIDDEN IFS", 0x17},         {"HIDDEN FAT32", 0x1B},
      {"EFI GPT", 0xEE},      {"EFI SYSTEM PARTITION", 0xEF}, {"FAT32 or NTFS RESCUE", 0x27},
  };
  for (const auto& [name, code] : kMbrCodes) EXPECT_EQ(kestrin::StrToInt(codeFor(kMbr, name)), typeByte.at(name));
}

// sfdisk's type lists say what each code means; the names must agree.
TEST(TypeNameToCode, CodesMeanWhatSfdiskCallsThem) {
  if (!kestrin::test::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  auto typeList = [](const std::string& label) {
    const auto list = kestrin::test::Run({"sfdisk", "--label", label, "-T"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    std::map<std::string, std::string> nameByCode;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string code;
      fields >> code;
      std::string name;
      std::getline(fields >> std::ws, name);
      nameByCode[code] = name;
    }
    return nameByCode;
  };

  const auto dos = typeList("dos");
  auto dosName = [&](const std::string& symbolic) {
    std::ostringstream hex;
    hex << std::hex << kestrin::StrToInt(codeFor(kMbr, symbolic));
    return dos.count(hex.str()) ? dos.at(hex.str()) : "(none)";
  };
  EXPECT_EQ(dosName("ENTRY_UNUSED"), "Empty");
  EXPECT_EQ(dosName("FAT16"), "FAT16 <32M");
  EXPECT_EQ(dosName("EXTENDED"), "Extended");
  EXPECT_EQ(dosName("IFS"), "HPFS/NTFS/exFAT");
  EXPECT_EQ(dosName("FAT32"), "W95 FAT32");
  EXPECT_EQ(dosName("HIDDEN FAT16"), "Hidden FAT16 <32M");
  EXPECT_EQ(dosName("HIDDEN IFS"), "Hidden HPFS/NTFS");
  EXPECT_EQ(dosName("HIDDEN FAT32"), "Hidden W95 FAT32");
  EXPECT_EQ(dosName("FAT32 or NTFS RESCUE"), "Hidden NTFS WinRE");
  EXPECT_EQ(dosName("EFI GPT"), "GPT");
  EXPECT_EQ(dosName("EFI SYSTEM PARTITION"), "EFI (FAT-12/16/32)");

  const auto gpt = typeList("gpt");
  auto gptName = [&](const std::string& symbolic) {
    const std::string code = codeFor(kGpt, symbolic);
    if (code.size() != 38 || code.front() != '{' || code.back() != '}') return std::string("(not a GUID)");
    const std::string guid = upperCase(code.substr(1, 36));
    return gpt.count(guid) ? gpt.at(guid) : "(none)";
  };
  EXPECT_EQ(gptName("BASIC_DATA_GUID"), "Microsoft basic data");
  EXPECT_EQ(gptName("MSFT_RESERVED_GUID"), "Microsoft reserved");
  EXPECT_EQ(gptName("MSFT_RECOVERY_GUID"), "Windows recovery environment");
  EXPECT_EQ(gptName("SYSTEM_GUID"), "EFI System");
}

// sfdisk's short names and one-letter shortcuts, as kestrin-cli and apply
// take them, name the type sfdisk itself writes for them, on either label.
TEST(TypeAliasCode, ShortNamesAndShortcutsMeanWhatSfdiskWrites) {
  if (!kestrin::test::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  kestrin::test::TempDir dir;
  const std::vector<std::pair<std::string, std::vector<std::string>>> labels{
      {"dos", {"L", "S", "Ex", "U", "R", "V", "linux", "swap", "extended", "uefi", "raid", "lvm"}},
      {"gpt", {"L", "S", "H", "U", "R", "V", "linux", "swap", "home", "uefi", "raid", "lvm"}}};
  for (const auto& [label, names] : labels) {
    const std::string image = dir.file(label + ".img");
    std::string script = "label: " + label + "\n";
    // Four primaries at most on MBR: each name in a table of its own.
    for (const std::string& name : names) {
      ASSERT_EQ(kestrin::test::MakeSfdiskImage(image, 8 << 20, script + ",1MiB," + name + "\n"), "") << name;
      const std::string written = kestrin::test::SfdiskDump(image).partition(1).type;
      const std::optional<std::string> code = kestrin::TypeAliasCode(label == "dos" ? kMbr : kGpt, name);
      ASSERT_TRUE(code.has_value()) << label << " " << name;
      std::ostringstream expected;
      if (label == "dos") {
        expected << std::hex << std::stoi(*code);
      } else {
        expected << upperCase(code->substr(1, 36));
      }
      EXPECT_EQ(written, expected.str()) << label << " " << name;
    }
  }
  EXPECT_FALSE(kestrin::TypeAliasCode(kMbr, "H").has_value()) << "home has no MBR type byte";
  EXPECT_FALSE(kestrin::TypeAliasCode(kMbr, "e").has_value()) << "sfdisk's e is the byte 0x0E";
}

// What the table view will show for a type the user picked by name.
TEST(TypeNameToCode, CodesLeadToTheirCatalogueDescriptions) {
  auto describeMbr = [](const std::string& name) {
    return kestrin::TypeDescriptionByByte(static_cast<std::uint8_t>(kestrin::StrToInt(codeFor(kMbr, name))));
  };
  EXPECT_EQ(describeMbr("ENTRY_UNUSED"), " NO-Partition empty entry");
  EXPECT_EQ(describeMbr("FAT16"), " DOS 16-bit FAT (up to 32M)");
  EXPECT_EQ(describeMbr("EXTENDED"), " Extended DOS 3.3+ extended partition");
  EXPECT_EQ(describeMbr("IFS"), " Advanced Unix QNX QNX OS/2 HPFS WindowsNT NTFS");
  EXPECT_EQ(describeMbr("FAT32"), " Windows95 with 32-bit FAT");
  EXPECT_EQ(describeMbr("HIDDEN FAT16"), " FAT16 OS/2 Boot Manager hidden sub-32M 16-bit FAT partition");
  EXPECT_EQ(describeMbr("HIDDEN IFS"), " OS/2 OS/2 Boot Manager hidden HPFS partition NTFS hidden NTFS partition");
  EXPECT_EQ(describeMbr("HIDDEN FAT32"), " Windows hidden Windows95 FAT32 partition");
  EXPECT_EQ(describeMbr("EFI GPT"), " EFI");
  EXPECT_EQ(describeMbr("FAT32 or NTFS RESCUE"), "");
  EXPECT_EQ(describeMbr("EFI SYSTEM PARTITION"), "");

  // The view passes the system's upper-case text of the type GUID.
  auto describeGpt = [](const std::string& name) {
    return kestrin::TypeDescriptionByGuid(upperCase(codeFor(kGpt, name)));
  };
  EXPECT_EQ(describeGpt("ENTRY_UNUSED_GUID"), " PARTITION_ENTRY_UNUSED_GUID");
  EXPECT_EQ(describeGpt("BASIC_DATA_GUID"), " PARTITION_BASIC_DATA_GUID");
  EXPECT_EQ(describeGpt("MSFT_RESERVED_GUID"), " PARTITION_MSFT_RESERVED_GUID");
  EXPECT_EQ(describeGpt("MSFT_RECOVERY_GUID"), " PARTITION_MSFT_RECOVERY_GUID");
  EXPECT_EQ(describeGpt("SYSTEM_GUID"), " PARTITION_SYSTEM_GUID");
}

// --- the lists the dialogs offer ---

using Items = std::vector<std::string>;

const Items kGptList = {"ENTRY_UNUSED_GUID", "BASIC_DATA_GUID", "MSFT_RESERVED_GUID", "MSFT_RECOVERY_GUID",
                        "SYSTEM_GUID"};

TEST(TypeNameLists, CreateOnMbrOffersEightNamesWithIfsPreselected) {
  const auto list = kestrin::CreatePartitionTypeList(kMbr);
  EXPECT_EQ(list.items, (Items{"ENTRY_UNUSED", "EXTENDED", "IFS", "FAT32", "HIDDEN IFS", "HIDDEN FAT32", "EFI GPT",
                               "EFI SYSTEM PARTITION"}));
  ASSERT_EQ(list.preselected, 2);
  EXPECT_EQ(list.items[static_cast<std::size_t>(list.preselected)], "IFS");
}

TEST(TypeNameLists, CreateOnAnyOtherStyleOffersTheGuidNames) {
  for (std::uint32_t style : {kGpt, kRaw, 7u}) {
    const auto list = kestrin::CreatePartitionTypeList(style);
    EXPECT_EQ(list.items, kGptList) << style;
    EXPECT_EQ(list.preselected, 1) << style;
  }
}

TEST(TypeNameLists, ChangeTypeListsPreselectExtendedAndBasicData) {
  const auto mbr = kestrin::ChangeTypeListMbr();
  EXPECT_EQ(mbr.items, (Items{"ENTRY_UNUSED", "FAT16", "EXTENDED", "IFS", "FAT32", "HIDDEN FAT16", "HIDDEN IFS",
                              "HIDDEN FAT32", "FAT32 or NTFS RESCUE", "EFI GPT", "EFI SYSTEM PARTITION"}));
  ASSERT_EQ(mbr.preselected, 2);
  EXPECT_EQ(mbr.items[2], "EXTENDED");

  const auto gpt = kestrin::ChangeTypeListGpt();
  EXPECT_EQ(gpt.items, kGptList);
  ASSERT_EQ(gpt.preselected, 1);
  EXPECT_EQ(gpt.items[1], "BASIC_DATA_GUID");
}

TEST(TypeNameLists, EveryOfferedNameHasACodeForItsStyle) {
  auto check = [](const kestrin::TypeNameList& list, std::uint32_t style) {
    for (const std::string& name : list.items) EXPECT_NE(codeFor(style, name), "") << name;
  };
  check(kestrin::CreatePartitionTypeList(kMbr), kMbr);
  check(kestrin::CreatePartitionTypeList(kGpt), kGpt);
  check(kestrin::ChangeTypeListMbr(), kMbr);
  check(kestrin::ChangeTypeListGpt(), kGpt);
}

}  // namespace
