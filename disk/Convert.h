#pragma once
// Conversions of text typed by the user. Syntax: optional leading blanks, an
// optional sign "+" or "-", then decimal digits, or a hexadecimal prefix
// ("$", "x", "X", "0x", "0X") followed by hexadecimal digits in either case.
// Nothing may follow the digits; an empty text does not convert. Each
// function throws ConversionError naming the text when it does not convert.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

// A signed 32-bit value: a decimal number within the signed 32-bit range, or
// at most 8 hexadecimal digits taken as all 32 bits ($FFFFFFFF is -1).
std::int32_t StrToInt(std::string_view text);

// A signed 64-bit value: a decimal number within the signed 64-bit range, or
// at most 16 hexadecimal digits taken as all 64 bits.
std::int64_t StrToInt64(std::string_view text);

// Any number (0 false, anything else true), or "True"/"False" in any case.
bool StrToBool(std::string_view text);

std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::optional<std::int64_t> TryStrToInt64(std::string_view text);

// `text` in single quotes as the conversion messages name it. A NUL typed
// into an edit field is shown as \0: an error's text ends at its first NUL,
// which would cut the message short.
std::string QuotedInput(std::string_view text);

std::string IntegerConversionMessage(std::string_view text);

// The text before the first blank, or the whole text when it has none (the
// commands pass disk paths through it).
std::string FirstWord(const std::string& text);
std::string BooleanConversionMessage(std::string_view text);

}  // namespace kestrin
