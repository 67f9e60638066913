#pragma once
// Reading a whole layout of any size: the system fails a layout read with
// ERROR_INSUFFICIENT_BUFFER when the record is too small, and a caller that
// wants the whole table asks again with a larger one. Kept apart from
// LayoutBuffer.h, which the window sources include beside the system's own
// headers, whose error-code macros would clash with ErrorCodes.h.

#include <algorithm>
#include <cstdint>

#include "ErrorCodes.h"
#include "LayoutBuffer.h"

namespace kestrin {

// Reads a layout with `read(buffer)` into records of growing capacity: the
// fixed record of 64 slots first, then twice as many each time `read` answers
// ERROR_INSUFFICIENT_BUFFER, up to kLayoutMaxSlotCapacity. Returns the last
// answer (ERROR_INSUFFICIENT_BUFFER only when even the largest record is too
// small); `buffer` holds the record of that last read.
template <typename Read>
std::uint32_t ReadWithGrowingRecord(LayoutBuffer& buffer, Read read) {
  for (int capacity = kLayoutSlotCount;; capacity = std::min(2 * capacity, kLayoutMaxSlotCapacity)) {
    buffer = LayoutBuffer(capacity);
    const std::uint32_t error = read(buffer);
    if (error != ERROR_INSUFFICIENT_BUFFER || capacity == kLayoutMaxSlotCapacity) return error;
  }
}

}  // namespace kestrin
