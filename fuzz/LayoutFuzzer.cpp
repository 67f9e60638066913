// The whole-disk reader and the whole-disk requests on hostile disks of
// either sector size: whatever is on the disk, DecodeLayout reads it as
// GPT, MBR or RAW; writing back what it read changes nothing that reads
// back; DELETE_DRIVE_LAYOUT leaves a disk that reads as RAW; CREATE_DISK
// leaves a disk that reads as the fresh empty layout asked for.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ByteOrder.h"
#include "ErrorCodes.h"
#include "FuzzImage.h"
#include "FuzzLayouts.h"
#include "LayoutCodec.h"
#include "RequestRecords.h"

using namespace kestrin;
using namespace kestrin::fuzz;

namespace {

// A CREATE_DISK record taken from the end of the input, so that it changes
// with the disk; the entry count is kept small to keep each run fast.
std::array<std::uint8_t, kCreateDiskSize> createRecord(const std::uint8_t* data, std::size_t size,
                                                       std::uint32_t style) {
  std::array<std::uint8_t, kCreateDiskSize> record{};
  std::size_t take = std::min(size, record.size());
  std::memcpy(record.data(), data + size - take, take);
  writeLe32(record, 0, style);
  writeLe32(record, 20, readLe32(record, 20) % 1024);
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FuzzImage disk({data, size});
  LayoutBuffer first;
  FuzzImage reading = disk;
  std::uint32_t error = DecodeLayout(reading, first);
  require(error == ERROR_SUCCESS || error == ERROR_INSUFFICIENT_BUFFER,
          "a disk reads as a layout or as one too large for the record");
  if (error == ERROR_SUCCESS) {
    require(first.partitionStyle() <= kStyleRaw, "the style is MBR, GPT or RAW");
    FuzzImage rewritten = disk;
    if (EncodeLayout(rewritten, first, kLayoutBufferSize) == ERROR_SUCCESS) {
      LayoutBuffer again;
      require(DecodeLayout(rewritten, again) == ERROR_SUCCESS, "a layout just written reads back");
      require(sameLayout(first, again), "writing back the layout just read changes nothing that reads back");
    }
  }

  FuzzImage deleted = disk;
  if (DeleteLayout(deleted) == ERROR_SUCCESS) {
    LayoutBuffer after;
    require(DecodeLayout(deleted, after) == ERROR_SUCCESS, "a deleted layout reads back");
    require(after.partitionStyle() == kStyleRaw && after.partitionCount() == 0, "a deleted layout reads as RAW");
  }

  if (size == 0) return 0;
  const std::uint32_t style = data[0] >> 6 == 0 ? kStyleMbr : (data[0] >> 6 == 1 ? kStyleGpt : kStyleRaw);
  auto record = createRecord(data, size, style);
  FuzzImage created = disk;
  if (CreateFreshLayout(created, record) == ERROR_SUCCESS) {
    LayoutBuffer after;
    require(DecodeLayout(created, after) == ERROR_SUCCESS, "a fresh layout reads back");
    require(after.partitionStyle() == style, "a fresh layout reads as the style asked for");
    if (style == kStyleMbr) {
      require(after.mbrSignature() == readLe32(record, 4), "a fresh MBR carries the signature asked for");
      bool empty = true;
      for (std::uint32_t k = 1; k <= after.partitionCount(); ++k) empty &= after.slot(k).mbrPartitionType() == 0;
      require(empty, "a fresh MBR has no entries");
    } else {
      require(after.partitionCount() == 0, "a fresh layout has no entries");
    }
  }
  return 0;
}
