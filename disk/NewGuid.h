#pragma once
// A newly generated random GUID (version 4, RFC 4122 variant) in the
// system's layout, for fresh GPT disks and new partitions alike: one way of
// making GUIDs everywhere, from the standard library's random source (the
// kernel's on Linux, the system's cryptographic generator on Windows).
// Header-only, so that the codec and the core make them the same way.

#include <cstddef>
#include <cstdint>
#include <random>

#include "Guid.h"

namespace kestrin {

inline Guid NewGuid() {
  static thread_local std::random_device source;
  Guid guid;
  for (std::size_t i = 0; i < guid.bytes.size(); i += 4) {
    const std::uint32_t word = source();
    for (std::size_t k = 0; k < 4; ++k) guid.bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
  }
  // Version 4 in the high half of the third group (stored little-endian, so
  // in byte 7), the variant 10xx in byte 8.
  guid.bytes[7] = static_cast<std::uint8_t>((guid.bytes[7] & 0x0F) | 0x40);
  guid.bytes[8] = static_cast<std::uint8_t>((guid.bytes[8] & 0x3F) | 0x80);
  return guid;
}

}  // namespace kestrin
