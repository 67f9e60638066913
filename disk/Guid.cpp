#include "Guid.h"

#include "Convert.h"

#include "Errors.h"

#ifdef _WIN32
#include <objbase.h>
#else
#include <uuid/uuid.h>
#endif

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

bool Guid::isNull() const {
  for (std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

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

Guid StringToGuid(std::string_view text) {
  Guid guid;
  if (!TryStringToGuid(text, guid)) {
    throw ConversionError(QuotedInput(text) + " n'est pas une valeur GUID correcte");
  }
  return guid;
}

Guid NewGuid() {
  Guid guid;
#ifdef _WIN32
  GUID g;
  CoCreateGuid(&g);
  guid.bytes[0] = static_cast<std::uint8_t>(g.Data1);
  guid.bytes[1] = static_cast<std::uint8_t>(g.Data1 >> 8);
  guid.bytes[2] = static_cast<std::uint8_t>(g.Data1 >> 16);
  guid.bytes[3] = static_cast<std::uint8_t>(g.Data1 >> 24);
  guid.bytes[4] = static_cast<std::uint8_t>(g.Data2);
  guid.bytes[5] = static_cast<std::uint8_t>(g.Data2 >> 8);
  guid.bytes[6] = static_cast<std::uint8_t>(g.Data3);
  guid.bytes[7] = static_cast<std::uint8_t>(g.Data3 >> 8);
  for (int i = 0; i < 8; ++i) guid.bytes[8 + i] = g.Data4[i];
#else
  // libuuid yields the RFC 4122 big-endian byte order; the system layout
  // keeps the first three groups little-endian.
  uuid_t raw;
  uuid_generate_random(raw);
  constexpr std::array<int, 16> kFromRfc = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (std::size_t i = 0; i < 16; ++i) guid.bytes[i] = raw[kFromRfc[i]];
#endif
  return guid;
}

}  // namespace kestrin
