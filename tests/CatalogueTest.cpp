// The embedded type catalogue: its XML structure, row by row, and the two
// lookups over it. xmllint and sfdisk serve as parsers and type lists that
// nobody here wrote.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Catalogue.h"
#include "TestSupport.h"
#include "udiskmgmt.h"

namespace kestrin {
extern const unsigned char kCatalogueText[];
extern const std::size_t kCatalogueTextSize;
}  // namespace kestrin

namespace {

using kestrin::TypeDescriptionByByte;
using kestrin::TypeDescriptionByGuid;

// The Cell keys in document order, a count for codes with several rows.
const std::vector<std::pair<std::string, int>> kListedKeys = {
    {"00", 1}, {"01", 1}, {"02", 1}, {"03", 1}, {"04", 1}, {"05", 1}, {"06", 1}, {"07", 4}, {"08", 4}, {"09", 2},
    {"0A", 3}, {"0B", 1}, {"0C", 1}, {"0E", 1}, {"0F", 1}, {"10", 1}, {"11", 1}, {"12", 1}, {"14", 1}, {"16", 1},
    {"17", 2}, {"18", 1}, {"19", 1}, {"1B", 1}, {"1C", 1}, {"1E", 1}, {"20", 1}, {"21", 2}, {"23", 1}, {"24", 1},
    {"26", 1}, {"31", 1}, {"33", 1}, {"34", 1}, {"36", 1}, {"38", 1}, {"3C", 1}, {"40", 1}, {"41", 2}, {"42", 1},
    {"45", 1}, {"46", 1}, {"47", 1}, {"48", 1}, {"4F", 1}, {"50", 1}, {"51", 2}, {"52", 2}, {"53", 1}, {"54", 1},
    {"55", 1}, {"56", 1}, {"5C", 1}, {"61", 1}, {"63", 3}, {"64", 2}, {"65", 1}, {"67", 1}, {"68", 1}, {"69", 1},
    {"70", 1}, {"71", 1}, {"73", 1}, {"74", 1}, {"75", 1}, {"76", 1}, {"7E", 1}, {"80", 1}, {"81", 3}, {"82", 3},
    {"83", 1}, {"84", 1}, {"85", 1}, {"86", 1}, {"87", 2}, {"93", 1}, {"94", 1}, {"98", 1}, {"99", 1}, {"A0", 1},
    {"A1", 1}, {"A3", 1}, {"A4", 1}, {"A5", 1}, {"A6", 1}, {"A9", 1}, {"B1", 1}, {"B3", 1}, {"B4", 1}, {"B6", 2},
    {"B7", 2}, {"B8", 1}, {"BE", 1}, {"C0", 2}, {"C1", 1}, {"C4", 1}, {"C6", 3}, {"C7", 3}, {"CB", 1}, {"CC", 1},
    {"CE", 1}, {"D0", 1}, {"D1", 1}, {"D4", 1}, {"D5", 1}, {"D6", 1}, {"D8", 1}, {"DB", 2}, {"E1", 1}, {"E2", 1},
    {"E3", 2}, {"E4", 1}, {"E5", 1}, {"E6", 1}, {"EB", 1}, {"EE", 1}, {"F1", 1}, {"F2", 1}, {"F3", 1}, {"F4", 2},
    {"F5", 1}, {"F6", 1}, {"FB", 1}, {"FE", 2}, {"FF", 1}, {"FM", 1},
};

// The GUID rows in document order with their descriptions.
const std::vector<std::pair<std::string, std::string>> kGuidRows = {
    {"{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}", "PARTITION_BASIC_DATA_GUID"},
    {"{00000000-0000-0000-0000-000000000000}", "PARTITION_ENTRY_UNUSED_GUID"},
    {"{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}", "PARTITION_SYSTEM_GUID"},
    {"{e3c9e316-0b5c-4db8-817d-f92df00215ae}", "PARTITION_MSFT_RESERVED_GUID"},
    {"{5808c8aa-7e8f-42e0-85d2-e1e90434cfb3}", "PARTITION_LDM_METADATA_GUID"},
    {"{af9b60a0-1431-4f62-bc68-3311714a69ad}", "PARTITION_LDM_DATA_GUID"},
    {"{de94bba4-06d1-4d40-a16a-bfd50179d6ac}", "PARTITION_MSFT_RECOVERY_GUID"},
};

std::vector<std::string> listedKeySequence() {
  std::vector<std::string> keys;
  for (const auto& [code, count] : kListedKeys) keys.insert(keys.end(), static_cast<std::size_t>(count), code);
  for (const auto& [guid, desc] : kGuidRows) keys.push_back(guid);
  return keys;
}

struct Row {
  std::string cell;
  std::string desc;
};

// Parses the embedded bytes here, independently of the lookups, and returns
// the rows in document order.
std::vector<Row> embeddedRows() {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_buffer(kestrin::kCatalogueText, kestrin::kCatalogueTextSize));
  std::vector<Row> rows;
  for (pugi::xml_node node : document.document_element().children("node")) {
    rows.push_back({node.child_value("Cell"), node.child_value("Desc")});
  }
  return rows;
}

std::string embeddedText() {
  return std::string(reinterpret_cast<const char*>(kestrin::kCatalogueText), kestrin::kCatalogueTextSize);
}

// Writes the embedded bytes to a file for the peer tools.
std::string writeEmbeddedCopy(const kestrin::test::TempDir& dir) {
  const std::string path = dir.file("types.xml");
  kestrin::test::WriteTextFile(path, embeddedText());
  return path;
}

// The text with A to Z turned to lower case, or a to z to upper case.
std::string asciiCase(std::string text, bool upper = false) {
  const char from = upper ? 'a' : 'A';
  for (char& c : text) {
    if (c >= from && c <= from + 25) c = static_cast<char>(c - from + (upper ? 'A' : 'a'));
  }
  return text;
}
std::string asciiLower(std::string text) { return asciiCase(std::move(text)); }

std::string hexByte(int value) {
  char key[3];
  std::snprintf(key, sizeof key, "%02X", value);
  return key;
}

// --- the text itself ---

TEST(CatalogueText, DeclaresLatin1AndNamesTheStylesheet) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(kestrin::kCatalogueText, kestrin::kCatalogueTextSize,
                                   pugi::parse_default | pugi::parse_declaration | pugi::parse_pi));
  pugi::xml_node declaration = document.first_child();
  ASSERT_EQ(declaration.type(), pugi::node_declaration);
  EXPECT_STREQ(declaration.attribute("version").value(), "1.0");
  EXPECT_STREQ(declaration.attribute("encoding").value(), "ISO-8859-1");

  pugi::xml_node stylesheet = declaration.next_sibling();
  ASSERT_EQ(stylesheet.type(), pugi::node_pi);
  EXPECT_STREQ(stylesheet.name(), "xml-stylesheet");
  EXPECT_NE(std::string(stylesheet.value()).find("href=\"style.xsl\""), std::string::npos);

  pugi::xml_node root = stylesheet.next_sibling();
  EXPECT_EQ(root, document.document_element());
  EXPECT_STREQ(root.name(), "root");
  EXPECT_FALSE(root.attribute("app").empty());
  EXPECT_FALSE(root.attribute("time").empty());
}

TEST(CatalogueText, IsPlainAsciiSoTheDeclaredEncodingCannotMislead) {
  ASSERT_GT(kestrin::kCatalogueTextSize, 0u);
  for (std::size_t i = 0; i < kestrin::kCatalogueTextSize; ++i) {
    ASSERT_LT(kestrin::kCatalogueText[i], 0x80) << "at byte " << i;
    ASSERT_NE(kestrin::kCatalogueText[i], 0) << "at byte " << i;
  }
}

TEST(CatalogueText, Holds166NodesEachWithCellThenDesc) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(kestrin::kCatalogueText, kestrin::kCatalogueTextSize));
  int nodes = 0;
  for (pugi::xml_node child : document.document_element().children()) {
    ASSERT_EQ(child.type(), pugi::node_element);
    ASSERT_STREQ(child.name(), "node") << "after " << nodes << " nodes";
    std::vector<std::string> names;
    for (pugi::xml_node part : child.children()) names.push_back(part.name());
    EXPECT_EQ(names, (std::vector<std::string>{"Cell", "Desc"})) << "node " << nodes;
    EXPECT_NE(std::string(child.child_value("Desc")), "") << "node " << nodes;
    ++nodes;
  }
  EXPECT_EQ(nodes, 166);
}

TEST(CatalogueText, KeysFollowTheListedOrder) {
  std::vector<std::string> keys;
  for (const Row& row : embeddedRows()) keys.push_back(row.cell);
  EXPECT_EQ(keys, listedKeySequence());
}

TEST(CatalogueText, Holds133CodesOfWhich23HaveSeveralDescriptions) {
  std::map<std::string, int> counts;
  for (const Row& row : embeddedRows()) ++counts[row.cell];
  EXPECT_EQ(counts.size(), 133u);

  std::map<std::string, int> repeated;
  for (const auto& [code, count] : counts) {
    if (count > 1) repeated[code] = count;
  }
  const std::map<std::string, int> expected = {
      {"07", 4}, {"08", 4}, {"0A", 3}, {"63", 3}, {"81", 3}, {"82", 3}, {"C6", 3}, {"C7", 3},
      {"09", 2}, {"17", 2}, {"21", 2}, {"41", 2}, {"51", 2}, {"52", 2}, {"64", 2}, {"87", 2},
      {"B6", 2}, {"B7", 2}, {"C0", 2}, {"DB", 2}, {"E3", 2}, {"F4", 2}, {"FE", 2},
  };
  EXPECT_EQ(repeated.size(), 23u);
  EXPECT_EQ(repeated, expected);
}

TEST(CatalogueText, HexRowsAscendThenFmThenLowerCaseGuids) {
  const std::vector<Row> rows = embeddedRows();
  ASSERT_EQ(rows.size(), 166u);
  std::set<std::string> distinctHex;
  int previous = -1;
  for (std::size_t i = 0; i < 158; ++i) {
    const std::string& cell = rows[i].cell;
    ASSERT_EQ(cell.size(), 2u) << "row " << i;
    ASSERT_EQ(cell.find_first_not_of("0123456789ABCDEF"), std::string::npos) << cell;
    const int value = std::stoi(cell, nullptr, 16);
    EXPECT_GE(value, previous) << cell;
    previous = value;
    distinctHex.insert(cell);
  }
  EXPECT_EQ(distinctHex.size(), 125u);
  EXPECT_EQ(*distinctHex.begin(), "00");
  EXPECT_EQ(*distinctHex.rbegin(), "FF");
  EXPECT_EQ(distinctHex.count("27"), 0u);
  EXPECT_EQ(distinctHex.count("EF"), 0u);

  EXPECT_EQ(rows[158].cell, "FM");
  for (std::size_t i = 159; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].cell.size(), 38u);
    EXPECT_EQ(rows[i].cell, asciiLower(rows[i].cell));
  }
}

TEST(CatalogueText, CarriesTheDescriptionsTheEditorsNamesLeadTo) {
  std::map<std::string, std::vector<std::string>> descriptions;
  for (const Row& row : embeddedRows()) descriptions[row.cell].push_back(row.desc);
  using Descs = std::vector<std::string>;
  EXPECT_EQ(descriptions["00"], Descs{"NO-Partition empty entry"});
  EXPECT_EQ(descriptions["04"], Descs{"DOS 16-bit FAT (up to 32M)"});
  EXPECT_EQ(descriptions["05"], Descs{"Extended DOS 3.3+ extended partition"});
  EXPECT_EQ(descriptions["07"], (Descs{"Advanced Unix", "QNX QNX", "OS/2 HPFS", "WindowsNT NTFS"}));
  EXPECT_EQ(descriptions["0B"], Descs{"Windows95 with 32-bit FAT"});
  EXPECT_EQ(descriptions["14"], Descs{"FAT16 OS/2 Boot Manager hidden sub-32M 16-bit FAT partition"});
  EXPECT_EQ(descriptions["17"], (Descs{"OS/2 OS/2 Boot Manager hidden HPFS partition", "NTFS hidden NTFS partition"}));
  EXPECT_EQ(descriptions["1B"], Descs{"Windows hidden Windows95 FAT32 partition"});
  EXPECT_EQ(descriptions["EE"], Descs{"EFI"});

  const std::vector<Row> rows = embeddedRows();
  ASSERT_EQ(rows.size(), 166u);
  for (std::size_t i = 0; i < kGuidRows.size(); ++i) {
    EXPECT_EQ(rows[159 + i].cell, kGuidRows[i].first);
    EXPECT_EQ(rows[159 + i].desc, kGuidRows[i].second);
  }
}

TEST(CatalogueText, IsWellFormedForXmllint) {
  if (!kestrin::test::HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  kestrin::test::TempDir dir;
  const std::string path = writeEmbeddedCopy(dir);
  EXPECT_EQ(kestrin::test::Run({"xmllint", "--noout", path}).exitCode, 0);
  const auto count = kestrin::test::Run({"xmllint", "--xpath", "count(/root/node)", path});
  EXPECT_EQ(count.exitCode, 0);
  EXPECT_EQ(count.out.substr(0, 3), "166");
}

// --- the lookups ---

// A byte is described by every row of its code, each after a blank, in
// document order; a code without rows gives nothing.
TEST(CatalogueLookup, DescribesAByteByItsRowsInDocumentOrderOrNotAtAll) {
  const std::vector<std::pair<std::uint8_t, std::string>> cases{
      {0x07, " Advanced Unix QNX QNX OS/2 HPFS WindowsNT NTFS"},  // four rows
      {0x00, " NO-Partition empty entry"},
      {0xEE, " EFI"},  // the protective GPT byte
      {0x0B, " Windows95 with 32-bit FAT"},
      {0x27, ""},  // the rescue partition
      {0xEF, ""},  // the EFI system partition
  };
  for (const auto& [value, description] : cases) EXPECT_EQ(TypeDescriptionByByte(value), description) << hexByte(value);
}

TEST(CatalogueLookup, MatchesGuidsInEitherCase) {
  for (const char* text : {"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", "{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}",
                           "{Ebd0A0a2-B9e5-4433-87C0-68b6B72699c7}"}) {
    EXPECT_EQ(TypeDescriptionByGuid(text), " PARTITION_BASIC_DATA_GUID") << text;
  }
  EXPECT_EQ(TypeDescriptionByGuid("{00000000-0000-0000-0000-000000000000}"), " PARTITION_ENTRY_UNUSED_GUID");
  for (const auto& [guid, desc] : kGuidRows) {
    EXPECT_EQ(TypeDescriptionByGuid(asciiCase(guid, true)), " " + desc) << guid;
  }
}

TEST(CatalogueLookup, UnknownOrAlteredGuidTextGivesNothing) {
  for (const char* text : {"{0FC63DAF-8483-4772-8E79-3D69D8477DE4}",  // the Linux file system type has no row
                           // The key is compared exactly: no braces, a blank or a missing digit is no match.
                           "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", " {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}",
                           "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C}", ""}) {
    EXPECT_EQ(TypeDescriptionByGuid(text), "") << '"' << text << '"';
  }
}

TEST(CatalogueLookup, NoByteReachesTheFmRow) {
  const std::vector<Row> rows = embeddedRows();
  ASSERT_EQ(rows.size(), 166u);
  ASSERT_EQ(rows[158].cell, "FM");
  const std::string fmDescription = rows[158].desc;
  for (int value = 0; value < 256; ++value) {
    EXPECT_EQ(TypeDescriptionByByte(static_cast<std::uint8_t>(value)).find(fmDescription), std::string::npos)
        << hexByte(value);
  }
}

// Every byte's lookup must give what xmllint reads from the same bytes: the
// descriptions of the rows with that key, each after one blank.
TEST(CatalogueLookup, EveryByteAgreesWithXmllint) {
  if (!kestrin::test::HaveTool("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  kestrin::test::TempDir dir;
  const auto listing = kestrin::test::Run({"xmllint", "--xpath", "/root/node/*/text()", writeEmbeddedCopy(dir)});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;

  // xmllint prints Cell and Desc texts on alternate lines, escaped.
  auto unescape = [](std::string text) {
    for (const auto& [entity, plain] :
         std::vector<std::pair<std::string, std::string>>{{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
      for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
        text.replace(at, entity.size(), plain);
      }
    }
    return text;
  };
  std::map<std::string, std::string> expected;
  std::istringstream lines(listing.out);
  std::string cell;
  std::string desc;
  int rows = 0;
  while (std::getline(lines, cell) && std::getline(lines, desc)) {
    std::string& joined = expected[asciiLower(cell)];
    joined += ' ';
    joined += unescape(desc);
    ++rows;
  }
  ASSERT_EQ(rows, 166);

  for (int value = 0; value < 256; ++value) {
    const std::string key = asciiLower(hexByte(value));
    EXPECT_EQ(TypeDescriptionByByte(static_cast<std::uint8_t>(value)), expected[key]) << key;
  }
}

// sfdisk's own GPT type list gives the GUIDs (upper-case, as the system
// writes them) of the Windows types the GUID rows describe.
TEST(CatalogueLookup, GuidRowsDescribeTheTypesSfdiskNames) {
  if (!kestrin::test::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  const auto list = kestrin::test::Run({"sfdisk", "--label", "gpt", "-T"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  std::map<std::string, std::string> guidByName;
  std::istringstream lines(list.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 38 && line[8] == '-' && line[36] == ' ') {
      const std::size_t name = line.find_first_not_of(' ', 36);
      std::string& braced = guidByName[line.substr(name)];
      braced = '{';
      braced.append(line, 0, 36);
      braced += '}';
    }
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Microsoft basic data", " PARTITION_BASIC_DATA_GUID"},
      {"EFI System", " PARTITION_SYSTEM_GUID"},
      {"Microsoft reserved", " PARTITION_MSFT_RESERVED_GUID"},
      {"Microsoft LDM metadata", " PARTITION_LDM_METADATA_GUID"},
      {"Microsoft LDM data", " PARTITION_LDM_DATA_GUID"},
      {"Windows recovery environment", " PARTITION_MSFT_RECOVERY_GUID"},
      {"Linux filesystem", ""},
  };
  for (const auto& [name, description] : expected) {
    ASSERT_EQ(guidByName.count(name), 1u) << name;
    EXPECT_EQ(TypeDescriptionByGuid(guidByName[name]), description) << name;
  }
}

// Nothing is cached, so every call parses the text again; repeated calls
// must not drift. Also reports the cost of one lookup.
TEST(CatalogueLookup, RepeatedLookupsGiveTheSameText) {
  const std::string first = TypeDescriptionByByte(0xC7);
  ASSERT_EQ(first.rfind(' ', 0), 0u);
  constexpr int kLookups = 500;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLookups; ++i) {
    ASSERT_EQ(TypeDescriptionByByte(0xC7), first);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const double microseconds = std::chrono::duration<double, std::micro>(elapsed).count() / kLookups;
  std::cout << "one catalogue lookup: " << microseconds << " us\n";
  RecordProperty("lookup_microseconds", static_cast<int>(microseconds));
}

// --- the walk over other texts ---

std::string describe(std::string_view text, std::string_view key) {
  return kestrin::DescribeFromCatalogue(text.data(), text.size(), key);
}

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";

TEST(CatalogueWalk, MalformedTextGivesNothingEvenAfterMatchingRows) {
  const std::string text = std::string(kDeclaration) +
                           "<root><node><Cell>07</Cell><Desc>first</Desc></node>"
                           "<node><Cell>07</Cell><Desc>second</Desc></node><node><Cell>07";
  EXPECT_EQ(describe(text, "07"), "");
  const std::string misnamedEnd = std::string(kDeclaration) + "<root><node><Cell>07</Cell><Desc>a</Desc></node></rot>";
  EXPECT_EQ(describe(misnamedEnd, "07"), "");
  EXPECT_EQ(describe("", "07"), "");
  // The same rows, well formed, do match.
  EXPECT_EQ(describe(text + "</Cell><Desc>third</Desc></node></root>", "07"), " first second third");
}

TEST(CatalogueWalk, ReadsTheTextInItsDeclaredLatin1) {
  const std::string text =
      std::string(kDeclaration) + "<root><node><Cell>83</Cell><Desc>Syst\xE8me</Desc></node></root>";
  EXPECT_EQ(describe(text, "83"), " Syst\xC3\xA8me");
}

TEST(CatalogueWalk, IgnoresAsciiCaseOnlyAndNeverTrims) {
  const std::string text = std::string(kDeclaration) +
                           "<root><node><Cell>0b</Cell><Desc>lower</Desc></node>"
                           "<node><Cell> 0B</Cell><Desc>blank</Desc></node>"
                           "<node><Cell>0B</Cell><Desc>upper</Desc></node>"
                           "<node><Cell>\xC9</Cell><Desc>accent</Desc></node></root>";
  EXPECT_EQ(describe(text, "0B"), " lower upper");
  EXPECT_EQ(describe(text, "0b"), " lower upper");
  EXPECT_EQ(describe(text, " 0b"), " blank");
  // Only A to Z are folded: the UTF-8 forms of E-acute in either case differ.
  EXPECT_EQ(describe(text, "\xC3\x89"), " accent");
  EXPECT_EQ(describe(text, "\xC3\xA9"), "");
}

TEST(CatalogueWalk, StartsAtTheFirstNodeAndStaysAtItsLevel) {
  const std::string text = std::string(kDeclaration) +
                           "<root><row><Cell>07</Cell><Desc>not a node</Desc></row>"
                           "<node><Cell>07</Cell><Desc>A</Desc></node>"
                           "<group><node><Cell>07</Cell><Desc>nested</Desc></node></group>"
                           "<node><Desc>no cell</Desc></node>"
                           "<node><Cell>07</Cell><Desc>B</Desc></node></root>";
  EXPECT_EQ(describe(text, "07"), " A B");
}

}  // namespace
