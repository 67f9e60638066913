// The conversions of typed text: decimal and hexadecimal integers of 32 and
// 64 bits, booleans, and the messages of the conversion errors.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "Convert.h"
#include "Errors.h"
#include "TestSupport.h"

namespace kestrin {
namespace {

// The message of the ConversionError that `convert` raises, or a note that
// it raised none.
template <typename Convert>
std::string conversionMessage(Convert convert) {
  return test::ErrorOf<ConversionError>(convert);
}

TEST(Convert, DecimalWithSignAndLeadingBlanks) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("123"), 123);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("   42"), 42);
  EXPECT_EQ(StrToInt("  -42"), -42);
  EXPECT_EQ(StrToInt("000012"), 12);
  EXPECT_EQ(StrToInt64("  +9000000000"), 9000000000LL);
  EXPECT_EQ(StrToInt64("-9000000000"), -9000000000LL);
}

TEST(Convert, DecimalBoundsOf32Bits) {
  EXPECT_EQ(StrToInt("2147483647"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (const char* text : {"2147483648", "-2147483649", "4294967295", "99999999999999999999"}) {
    EXPECT_FALSE(TryStrToInt(text)) << text;
  }
}

TEST(Convert, DecimalBoundsOf64Bits) {
  EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  for (const char* text : {"9223372036854775808", "-9223372036854775809", "18446744073709551615",
                           "18446744073709551616", "-18446744073709551617"}) {
    EXPECT_FALSE(TryStrToInt64(text)) << text;
  }
}

TEST(Convert, EveryHexadecimalPrefixInEitherCase) {
  for (const char* text : {"$1F", "$1f", "x1F", "X1f", "0x1F", "0X1f", "  $1F", "+0x1f"}) {
    EXPECT_EQ(StrToInt(text), 31) << text;
    EXPECT_EQ(StrToInt64(text), 31) << text;
  }
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt64("-0x10"), -16);
  EXPECT_EQ(StrToInt("$01020304"), 0x01020304);
}

TEST(Convert, HexadecimalFillsAll32Bits) {
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("$80000000"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(StrToInt("$7FFFFFFF"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(StrToInt("0x00000001"), 1);
  // Nine digits are refused even when the first is a zero.
  for (const char* text : {"$123456789", "$000000001", "0x100000000"}) EXPECT_FALSE(TryStrToInt(text)) << text;
}

TEST(Convert, HexadecimalFillsAll64Bits) {
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(StrToInt64("$8000000000000000"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(StrToInt64("$7fffffffffffffff"), std::numeric_limits<std::int64_t>::max());
  // Eight digits in a 64-bit value are a positive number, not -1.
  EXPECT_EQ(StrToInt64("$FFFFFFFF"), 4294967295LL);
  EXPECT_FALSE(TryStrToInt64("$10000000000000000"));
  EXPECT_FALSE(TryStrToInt64("$00000000000000001"));
}

TEST(Convert, RefusesTextThatIsNoNumber) {
  for (const char* text : {"", " ", "   ", "+", "-", "$", "x", "X", "0x", "0X", "123abc", "12 ", "1 2", "$12G",
                           "--5", "+-5", "-+5", "1.5", "abc", "$-5", "0x 1", "\t", "5\n", "$$1", "0xx1"}) {
    EXPECT_FALSE(TryStrToInt(text)) << '"' << text << '"';
    EXPECT_FALSE(TryStrToInt64(text)) << '"' << text << '"';
  }
}

TEST(Convert, IntegerErrorNamesTheTextInFrench) {
  EXPECT_EQ(conversionMessage([] { StrToInt("123abc"); }), "'123abc' n'est pas une valeur entière correcte");
  EXPECT_EQ(conversionMessage([] { StrToInt64(""); }), "'' n'est pas une valeur entière correcte");
  EXPECT_EQ(conversionMessage([] { StrToInt(" $123456789"); }), "' $123456789' n'est pas une valeur entière correcte");
  EXPECT_EQ(conversionMessage([] { StrToInt64("$10000000000000000"); }),
            "'$10000000000000000' n'est pas une valeur entière correcte");
}

TEST(Convert, ConversionErrorIsAKestrinError) {
  EXPECT_THROW(StrToInt("nope"), KestrinError);
  EXPECT_THROW(StrToBool("nope"), KestrinError);
}

TEST(Convert, BooleanWordsInAnyCaseAndAnyNumber) {
  for (const char* text : {"True", "TRUE", "tRuE", "1", "2", "-1", "$80"}) EXPECT_TRUE(StrToBool(text)) << text;
  for (const char* text : {"False", "FALSE", "false", "0", "$0", " -0"}) EXPECT_FALSE(StrToBool(text)) << text;
}

TEST(Convert, BooleanErrorNamesTheTextInFrench) {
  for (const std::string text : {"yes", "", "Truth", "1x"}) {
    EXPECT_EQ(conversionMessage([&] { StrToBool(text); }), "'" + text + "' n'est pas une valeur booléenne");
  }
}

}  // namespace
}  // namespace kestrin
