#include "Utf16.h"

#include <cstdint>

namespace kestrin {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t codePoint) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
  } else {
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// What a lead byte promises: the number of continuation bytes and the range
// the first of them must fall in (the narrower ranges exclude overlong forms,
// UTF-16 surrogates and code points above U+10FFFF).
struct LeadByte {
  int continuations;
  std::uint8_t low;
  std::uint8_t high;
};

bool classify(std::uint8_t lead, LeadByte& info) {
  if (lead >= 0xC2 && lead <= 0xDF) info = {1, 0x80, 0xBF};
  else if (lead == 0xE0) info = {2, 0xA0, 0xBF};
  else if (lead == 0xED) info = {2, 0x80, 0x9F};
  else if (lead >= 0xE1 && lead <= 0xEF) info = {2, 0x80, 0xBF};
  else if (lead == 0xF0) info = {3, 0x90, 0xBF};
  else if (lead >= 0xF1 && lead <= 0xF3) info = {3, 0x80, 0xBF};
  else if (lead == 0xF4) info = {3, 0x80, 0x8F};
  else return false;
  return true;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    LeadByte info{};
    if (!classify(lead, info)) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    const int payloadBits = 6 - info.continuations;  // 5, 4 or 3 bits in the lead byte
    char32_t codePoint = lead & ((1u << payloadBits) - 1);
    std::size_t next = i + 1;
    int taken = 0;
    for (; taken < info.continuations && next < text.size(); ++taken, ++next) {
      const auto byte = static_cast<std::uint8_t>(text[next]);
      const std::uint8_t low = taken == 0 ? info.low : 0x80;
      const std::uint8_t high = taken == 0 ? info.high : 0xBF;
      if (byte < low || byte > high) break;
      codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (taken == info.continuations) {
      appendUtf16(out, codePoint);
    } else {
      // The bytes up to the first that does not fit are one ill-formed part;
      // that byte itself starts afresh.
      out.push_back(kReplacement);
    }
    i = next;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace kestrin
