#include "ApplicationTexts.h"

namespace kestrin {

namespace {

constexpr unsigned char kLatin1Lead = 0xC3;          // UTF-8 lead byte of U+00C0 .. U+00FF
constexpr unsigned char kLatin1CapitalFirst = 0x80;  // U+00C0
constexpr unsigned char kLatin1CapitalLast = 0x9E;   // U+00DE
constexpr unsigned char kMultiplicationSign = 0x97;  // U+00D7, no letter
constexpr unsigned char kCaseDistance = 0x20;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::string ApplicationTitleFromPath(const std::string& executablePath) {
  const auto separator = executablePath.find_last_of("/\\");
  std::string name = separator == std::string::npos ? executablePath : executablePath.substr(separator + 1);
  name = name.substr(0, name.find('.'));
  // The first character is kept whole, however many bytes it takes.
  std::size_t i = name.empty() ? 0 : 1;
  while (i < name.size() && isContinuation(static_cast<unsigned char>(name[i]))) ++i;
  for (; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 'A' && byte <= 'Z') {
      name[i] = static_cast<char>(byte + kCaseDistance);
    } else if (byte == kLatin1Lead && i + 1 < name.size()) {
      const auto next = static_cast<unsigned char>(name[i + 1]);
      if (next >= kLatin1CapitalFirst && next <= kLatin1CapitalLast && next != kMultiplicationSign) {
        name[i + 1] = static_cast<char>(next + kCaseDistance);
      }
      ++i;
    }
  }
  return name;
}

std::string ErrorReportText(const std::string& message) {
  // In UTF-8 the last byte of any character beyond ASCII is above 46 too.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + '.';
  return message;
}

}  // namespace kestrin
