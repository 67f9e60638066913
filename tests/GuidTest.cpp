// GUID text in the system's form and the 16-byte storage layout, checked
// against libuuid's own text of the same identifier.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <uuid/uuid.h>
#endif

#include <array>
#include <cctype>
#include <string>

#include "Errors.h"
#include "Guid.h"
#include "NewGuid.h"
#include "TestSupport.h"

namespace kestrin {
namespace {

// The basic data type as the system stores it: the first three groups
// little-endian, the last eight bytes in text order.
constexpr std::array<std::uint8_t, 16> kBasicDataBytes = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                          0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

TEST(Guid, TextGivesTheSystemByteLayout) {
  Guid guid = StringToGuid("{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
  EXPECT_EQ(guid.bytes, kBasicDataBytes);
}

TEST(Guid, BytesGiveUpperCaseText) {
  Guid guid;
  guid.bytes = kBasicDataBytes;
  EXPECT_EQ(GuidToString(guid), "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
  EXPECT_EQ(GuidToString(Guid{}), kNullGuidText);
}

TEST(Guid, LowerCaseTextReadsAsTheSameGuid) {
  Guid lower = StringToGuid("{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}");
  EXPECT_EQ(lower.bytes, kBasicDataBytes);
  EXPECT_EQ(GuidToString(lower), "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
}

TEST(Guid, EveryByteValueRoundTripsThroughText) {
  // Each byte position gets a distinct value, and over the 16 rounds every
  // position sees every high and low digit.
  for (int round = 0; round < 16; ++round) {
    Guid guid;
    for (std::size_t i = 0; i < 16; ++i) guid.bytes[i] = static_cast<std::uint8_t>(round * 17 + i * 16 + i);
    std::string text = GuidToString(guid);
    ASSERT_EQ(text.size(), 38u);
    EXPECT_EQ(StringToGuid(text), guid) << text;
  }
}

// libuuid, an oracle of the texts, exists only on the Linux side.
#ifndef _WIN32
TEST(Guid, AgreesWithLibuuidText) {
  for (int i = 0; i < 8; ++i) {
    uuid_t raw;
    uuid_generate_random(raw);
    char plain[37];
    uuid_unparse_upper(raw, plain);
    Guid guid = StringToGuid("{" + std::string(plain) + "}");
    // libuuid keeps the RFC byte order; the system's first three groups are
    // little-endian numbers.
    const std::array<int, 16> fromRfc = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::size_t b = 0; b < 16; ++b) EXPECT_EQ(guid.bytes[b], raw[fromRfc[b]]) << plain << " byte " << b;
    EXPECT_EQ(GuidToString(guid), "{" + std::string(plain) + "}");
  }
}
#endif

TEST(Guid, NewGuidIsARandomVersion4Guid) {
  Guid first = NewGuid();
  Guid second = NewGuid();
  EXPECT_NE(first, second);
  EXPECT_FALSE(first.isNull());
  std::string text = GuidToString(first);
  EXPECT_EQ(text[15], '4') << text;                                          // version digit, first of the third group
  EXPECT_NE(std::string("89AB").find(text[20]), std::string::npos) << text;  // variant, first of the fourth group
}

TEST(Guid, IsNullOnlyForTheAllZeroGuid) {
  EXPECT_TRUE(Guid{}.isNull());
  Guid last;
  last.bytes[15] = 1;
  EXPECT_FALSE(last.isNull());
}

TEST(Guid, MalformedTextIsRefusedAndLeavesTheTargetAlone) {
  const char* malformed[] = {
      "",
      "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",     // no braces
      "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C}",    // 37 characters
      "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C77}",  // 39 characters
      "(EBD0A0A2-B9E5-4433-87C0-68B6B72699C7)",   // wrong brackets
      "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7 ",   // no closing brace
      "{EBD0A0A2B-9E5-4433-87C0-68B6B72699C7}",   // hyphen moved
      "{EBD0A0A2-B9E5-4433-87C068B6-B72699C7}",   // hyphen moved
      "{EBD0A0A2_B9E5_4433_87C0_68B6B72699C7}",   // no hyphens
      "{EBD0A0A2-B9E5-4433-87C0-68B6B72699CG}",   // not a hexadecimal digit
      "{ EBD0A0A2-B9E5-4433-87C0-68B6B72699C}",   // blank inside
      "{GBD0A0A2-B9E5-4433-87C0-68B6B72699C7}",
      "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}x",
  };
  for (const char* text : malformed) {
    Guid target;
    target.bytes.fill(0x5A);
    EXPECT_FALSE(TryStringToGuid(text, target)) << text;
    EXPECT_EQ(target.bytes[0], 0x5A) << text;
    EXPECT_EQ(target.bytes[15], 0x5A) << text;
  }
}

TEST(Guid, StringToGuidNamesTheTextInFrench) {
  EXPECT_EQ(test::ErrorOf<ConversionError>([] { StringToGuid("{not a guid}"); }),
            "'{not a guid}' n'est pas une valeur GUID correcte");
  EXPECT_THROW(StringToGuid(""), ConversionError);
}

}  // namespace
}  // namespace kestrin
