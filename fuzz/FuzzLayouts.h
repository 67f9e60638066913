#pragma once
// Small helpers shared by the codec fuzz targets.

#include <cstring>

#include "LayoutBuffer.h"

namespace kestrin::fuzz {

inline bool sameLayout(const LayoutBuffer& a, const LayoutBuffer& b) {
  return std::memcmp(a.data(), b.data(), kLayoutBufferSize) == 0;
}

}  // namespace kestrin::fuzz
