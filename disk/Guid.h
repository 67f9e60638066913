#pragma once
// GUIDs in the system's 16-byte layout: a 32-bit group and two 16-bit groups,
// each little-endian, then eight bytes in text order. The text form is 38
// characters, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrin {

struct Guid {
  std::array<std::uint8_t, 16> bytes{};

  bool isNull() const {
    for (std::uint8_t b : bytes) {
      if (b != 0) return false;
    }
    return true;
  }
  friend bool operator==(const Guid&, const Guid&) = default;
};

// The text form with upper-case digits, as the system writes it.
std::string GuidToString(const Guid& guid);

// Parses the 38-character text form, digits in either case. Throws
// ConversionError "'<text>' n'est pas une valeur GUID correcte" when the
// text is not a GUID.
Guid StringToGuid(std::string_view text);

// As StringToGuid, but reports failure by returning false.
bool TryStringToGuid(std::string_view text, Guid& guid);

// As TryStringToGuid, and also the 36 characters of the text form without
// its braces, as other tools write GUIDs.
bool TryGuidWithOrWithoutBraces(std::string_view text, Guid& guid);

inline constexpr std::string_view kNullGuidText = "{00000000-0000-0000-0000-000000000000}";

}  // namespace kestrin
