#pragma once
// The GPT attribute bits that have names: those UEFI defines for every
// partition (0, 1, 2) and those Windows gives a basic data partition (60 to
// 63).

#include <optional>
#include <span>
#include <string_view>

namespace kestrin {

struct GptAttributeName {
  std::string_view name;  // "hidden"
  unsigned bit;           // 62
};

// The named bits, in ascending order.
std::span<const GptAttributeName> GptAttributeNames();

// The bit `text` names: a decimal number from 0 to 63, or one of the names
// in any letter case; nullopt for anything else.
std::optional<unsigned> GptAttributeBit(std::string_view text);

}  // namespace kestrin
