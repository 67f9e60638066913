#pragma once
// The failure texts of control requests.

#include <cstdint>
#include <string>

namespace kestrin {

// The platform's text for an error code with every trailing control
// character, blank and full stop removed.
std::string SystemErrorText(std::uint32_t code);

// "<request> failed:" followed directly, with no blank, by SystemErrorText(code).
std::string RequestFailureText(const char* requestName, std::uint32_t code);

}  // namespace kestrin
