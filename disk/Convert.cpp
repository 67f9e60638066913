#include "Convert.h"

#include "Errors.h"

namespace kestrin {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses the common syntax. `maxHexDigits` (8 or 16) bounds the hexadecimal
// form, whose digits fill the whole width; the decimal form is bounded by
// `maxPositive`, and by one more for a negative value.
std::optional<std::int64_t> parse(std::string_view text, int maxHexDigits, std::uint64_t maxPositive) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string_view rest = text.substr(i);
  if (rest.empty()) return std::nullopt;

  std::size_t prefix = 0;
  if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X') {
    prefix = 1;
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    prefix = 2;
  }

  if (prefix > 0) {
    std::string_view digits = rest.substr(prefix);
    if (digits.empty() || digits.size() > static_cast<std::size_t>(maxHexDigits)) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
      int d = hexDigit(c);
      if (d < 0) return std::nullopt;
      value = (value << 4) | static_cast<std::uint64_t>(d);
    }
    // The hexadecimal form fills all bits of the width: reinterpret it.
    std::int64_t result = maxHexDigits == 8
                              ? static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)))
                              : static_cast<std::int64_t>(value);
    if (negative) result = static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(result));
    if (maxHexDigits == 8)
      result = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(result)));
    return result;
  }

  std::uint64_t limit = negative ? maxPositive + 1 : maxPositive;
  std::uint64_t value = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    auto d = static_cast<std::uint64_t>(c - '0');
    if (value > (limit - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

}  // namespace

std::string QuotedInput(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\0') {
      quoted += "\\0";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string IntegerConversionMessage(std::string_view text) {
  return QuotedInput(text) + " n'est pas une valeur entière correcte";
}

std::string BooleanConversionMessage(std::string_view text) {
  return QuotedInput(text) + " n'est pas une valeur booléenne";
}

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  auto value = parse(text, 8, 0x7FFFFFFFull);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::optional<std::int64_t> TryStrToInt64(std::string_view text) { return parse(text, 16, 0x7FFFFFFFFFFFFFFFull); }

std::int32_t StrToInt(std::string_view text) {
  auto value = TryStrToInt(text);
  if (!value) throw ConversionError(IntegerConversionMessage(text));
  return *value;
}

std::int64_t StrToInt64(std::string_view text) {
  auto value = TryStrToInt64(text);
  if (!value) throw ConversionError(IntegerConversionMessage(text));
  return *value;
}

bool StrToBool(std::string_view text) {
  auto lowered = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  };
  std::string word = lowered(text);
  if (word == "true") return true;
  if (word == "false") return false;
  if (auto number = TryStrToInt64(text)) return *number != 0;
  throw ConversionError(BooleanConversionMessage(text));
}

std::string FirstWord(const std::string& text) {
  auto blank = text.find(' ');
  return blank == std::string::npos ? text : text.substr(0, blank);
}

}  // namespace kestrin
