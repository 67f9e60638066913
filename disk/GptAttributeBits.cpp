#include "GptAttributeBits.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kestrin {

namespace {

constexpr unsigned kAttributeBits = 64;

constexpr std::array<GptAttributeName, 7> kNames{{
    {"required", 0},
    {"no-block-io", 1},
    {"legacy-bios-bootable", 2},
    {"read-only", 60},
    {"shadow-copy", 61},
    {"hidden", 62},
    {"no-drive-letter", 63},
}};

}  // namespace

std::span<const GptAttributeName> GptAttributeNames() { return kNames; }

std::optional<unsigned> GptAttributeBit(std::string_view text) {
  if (!text.empty() && text.size() <= 2 &&
      std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
    unsigned bit = 0;
    for (char c : text) bit = bit * 10 + static_cast<unsigned>(c - '0');
    if (bit < kAttributeBits) return bit;
    return std::nullopt;
  }
  for (const GptAttributeName& named : kNames) {
    if (named.name.size() != text.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < text.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(text[i])) == named.name[i];
    }
    if (same) return named.bit;
  }
  return std::nullopt;
}

}  // namespace kestrin
