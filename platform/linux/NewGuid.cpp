#include "NewGuid.h"

#include <uuid/uuid.h>

#include <array>

namespace kestrin {

Guid NewGuid() {
  Guid guid;
  // libuuid yields the RFC 4122 big-endian byte order; the system layout
  // keeps the first three groups little-endian.
  uuid_t raw;
  uuid_generate_random(raw);
  constexpr std::array<int, 16> kFromRfc = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (std::size_t i = 0; i < 16; ++i) guid.bytes[i] = raw[kFromRfc[i]];
  return guid;
}

}  // namespace kestrin
