#pragma once
// Small helpers shared by the codec fuzz targets.

#include <cstring>

#include "LayoutBuffer.h"

namespace kestrin::fuzz {

// True when `after`, read back after `before` was written, is the same
// layout. A GPT written on a disk that has grown since its table was made
// is laid out for the disk as it now is: its usable area may end further
// on, nothing else changes.
inline bool sameLayout(const LayoutBuffer& before, const LayoutBuffer& after) {
  if (before.partitionStyle() == kStyleGpt && after.partitionStyle() == kStyleGpt &&
      after.gptUsableLength() > before.gptUsableLength()) {
    LayoutBuffer grown = after;
    grown.setGptUsableLength(before.gptUsableLength());
    return std::memcmp(before.data(), grown.data(), kLayoutBufferSize) == 0;
  }
  return std::memcmp(before.data(), after.data(), kLayoutBufferSize) == 0;
}

}  // namespace kestrin::fuzz
