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
  EXPECT_FALSE(TryStrToInt("2147483648"));
  EXPECT_FALSE(TryStrToInt("-2147483649"));
  EXPECT_FALSE(TryStrToInt("4294967295"));
  EXPECT_FALSE(TryStrToInt("99999999999999999999"));
}

TEST(Convert, DecimalBoundsOf64Bits) {
  EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(TryStrToInt64("9223372036854775808"));
  EXPECT_FALSE(TryStrToInt64("-9223372036854775809"));
  EXPECT_FALSE(TryStrToInt64("18446744073709551615"));
  EXPECT_FALSE(TryStrToInt64("18446744073709551616"));
  EXPECT_FALSE(TryStrToInt64("-18446744073709551617"));
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
  EXPECT_FALSE(TryStrToInt("$123456789"));
  EXPECT_FALSE(TryStrToInt("$000000001"));
  EXPECT_FALSE(TryStrToInt("0x100000000"));
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
  EXPECT_TRUE(StrToBool("True"));
  EXPECT_TRUE(StrToBool("TRUE"));
  EXPECT_TRUE(StrToBool("tRuE"));
  EXPECT_FALSE(StrToBool("False"));
  EXPECT_FALSE(StrToBool("FALSE"));
  EXPECT_FALSE(StrToBool("false"));
  EXPECT_TRUE(StrToBool("1"));
  EXPECT_TRUE(StrToBool("2"));
  EXPECT_TRUE(StrToBool("-1"));
  EXPECT_TRUE(StrToBool("$80"));
  EXPECT_FALSE(StrToBool("0"));
  EXPECT_FALSE(StrToBool("$0"));
  EXPECT_FALSE(StrToBool(" -0"));
}

TEST(Convert, BooleanErrorNamesTheTextInFrench) {
  EXPECT_EQ(conversionMessage([] { StrToBool("yes"); }), "'yes' n'est pas une valeur booléenne");
  EXPECT_EQ(conversionMessage([] { StrToBool(""); }), "'' n'est pas une valeur booléenne");
  EXPECT_EQ(conversionMessage([] { StrToBool("Truth"); }), "'Truth' n'est pas une valeur booléenne");
  EXPECT_EQ(conversionMessage([] { StrToBool("1x"); }), "'1x' n'est pas une valeur booléenne");
}

}  // namespace
}  // namespace kestrin
