#pragma once
// The disk stack's own message text for each Windows error code it uses,
// ending in a full stop and a line break as the system's texts do.

#include <cstdint>
#include <string>

namespace kestrin {

std::string EmulatedErrorText(std::uint32_t code);

}  // namespace kestrin
