// The layout writer on what the editing operations hand it: the layout of
// a hostile disk, read back, with one field of one slot changed to any
// value (or a few fields, as a create operation fills a slot), the way
// every entry operation reads, changes and writes. The writer either
// refuses, leaving every sector as it was and naming at least one broken
// rule, or writes a table (naming none) that reads back as a layout of the
// same style and that a second write of what was read leaves alone.
//
// Input: byte 0 the number of edits (modulo 8), then each edit in 11
// bytes: the entry number (modulo 64, plus 1), the offset in the slot
// (modulo 144), the width (1, 2, 4 or 8 bytes from the low two bits; bit 7
// raises the layout's count to the entry number) and the value in 8 bytes,
// little-endian; then the disk as FuzzImage.h lays it out.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ByteOrder.h"
#include "ErrorCodes.h"
#include "FuzzImage.h"
#include "FuzzLayouts.h"
#include "LayoutCodec.h"

using namespace kestrin;
using namespace kestrin::fuzz;

namespace {

constexpr std::size_t kEditSize = 11;

// Applies one edit record to `layout`.
void applyEdit(const std::uint8_t* edit, LayoutBuffer& layout) {
  const std::uint32_t entry = edit[0] % kLayoutSlotCount + 1;
  const std::size_t offset = edit[1] % kLayoutSlotSize;
  const std::size_t width = std::size_t{1} << (edit[2] & 3);
  const std::uint64_t value = readLe64(std::span<const std::uint8_t>(edit + 3, 8), 0);
  auto slot = layout.slot(static_cast<int>(entry)).bytes();
  for (std::size_t i = 0; i < width && offset + i < slot.size(); ++i) {
    slot[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  if ((edit[2] & 0x80) != 0 && layout.partitionCount() < entry) layout.setPartitionCount(entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t edits = data[0] % 8;
  const std::size_t header = 1 + edits * kEditSize;
  if (size < header) return 0;

  FuzzImage disk({data + header, size - header});
  LayoutBuffer layout;
  if (DecodeLayout(disk, layout) != ERROR_SUCCESS || layout.partitionStyle() == kStyleRaw) return 0;
  for (std::size_t i = 0; i < edits; ++i) applyEdit(data + 1 + i * kEditSize, layout);

  const FuzzImage before = disk;
  check::Findings why;
  const std::uint32_t result = EncodeLayout(disk, layout, kLayoutBufferSize, &why);
  require((result == ERROR_INVALID_PARAMETER || result == ERROR_NOT_SUPPORTED) == !why.empty(),
          "a refused layout names why, and only a refused one has findings");
  if (result != ERROR_SUCCESS) {
    require(disk.sameContents(before), "a refused layout leaves every sector as it was");
    return 0;
  }
  LayoutBuffer written;
  require(DecodeLayout(disk, written) == ERROR_SUCCESS, "a layout just written reads back");
  require(written.partitionStyle() == layout.partitionStyle(), "a layout just written reads back in its style");
  const FuzzImage afterFirst = disk;
  if (EncodeLayout(disk, written, kLayoutBufferSize) == ERROR_SUCCESS) {
    require(disk.sameContents(afterFirst), "writing back the layout just read writes nothing");
  }
  return 0;
}
