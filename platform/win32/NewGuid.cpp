#include "NewGuid.h"

#include <objbase.h>

namespace kestrin {

Guid NewGuid() {
  Guid guid;
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
  return guid;
}

}  // namespace kestrin
