#include "Guid.h"

#include "Convert.h"
#include "Errors.h"

namespace kestrin {

namespace {

// Positions of the 16 bytes in the text, in storage order: the first three
// groups are little-endian numbers, so their bytes appear reversed. Each
// entry is the index of the byte's second hex digit; the first is just before.
constexpr std::array<int, 16> kTextPosition = {8, 6, 4, 2, 13, 11, 18, 16, 21, 23, 26, 28, 30, 32, 34, 36};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string GuidToString(const Guid& guid) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "{00000000-0000-0000-0000-000000000000}";
  for (std::size_t i = 0; i < 16; ++i) {
    int pos = kTextPosition[i];
    text[pos - 1] = kDigits[guid.bytes[i] >> 4];
    text[pos] = kDigits[guid.bytes[i] & 0x0F];
  }
  return text;
}

bool TryStringToGuid(std::string_view text, Guid& guid) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (int hyphen : {9, 14, 19, 24}) {
    if (text[hyphen] != '-') return false;
  }
  Guid parsed;
  for (std::size_t i = 0; i < 16; ++i) {
    int pos = kTextPosition[i];
    int high = hexValue(text[pos - 1]);
    int low = hexValue(text[pos]);
    if (high < 0 || low < 0) return false;
    parsed.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  guid = parsed;
  return true;
}

bool TryGuidWithOrWithoutBraces(std::string_view text, Guid& guid) {
  if (text.size() == 36) return TryStringToGuid("{" + std::string(text) + "}", guid);
  return TryStringToGuid(text, guid);
}

Guid StringToGuid(std::string_view text) {
  Guid guid;
  if (!TryStringToGuid(text, guid)) {
    throw ConversionError(QuotedInput(text) + " n'est pas une valeur GUID correcte");
  }
  return guid;
}

}  // namespace kestrin
