#include "RequestFailure.h"

#include "Port.h"

namespace kestrin {

std::string SystemErrorText(std::uint32_t code) {
  std::string text = port().ErrorMessage(code);
  while (!text.empty()) {
    auto c = static_cast<unsigned char>(text.back());
    if (c <= 0x20 || c == 0x7F || c == '.') {
      text.pop_back();
    } else {
      break;
    }
  }
  return text;
}

std::string RequestFailureText(const char* requestName, std::uint32_t code) {
  return std::string(requestName) + " failed:" + SystemErrorText(code);
}

}  // namespace kestrin
