// The GPT decoder on hostile disks of either sector size (bit 0 of the
// first input byte picks 4096 over 512): headers with any sizes, counts,
// LBAs and CRCs, entry arrays anywhere. A table that decodes is written
// back with the encoder, which must either refuse it or leave a disk that
// reads the same.

#include <cstddef>
#include <cstdint>

#include "ErrorCodes.h"
#include "FuzzImage.h"
#include "FuzzLayouts.h"
#include "LayoutCodec.h"

using namespace kestrin;
using namespace kestrin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzImage disk({data, size});
  LayoutBuffer first;
  bool found = false;
  if (DecodeGpt(disk, first, found) != ERROR_SUCCESS || !found) return 0;
  require(first.partitionStyle() == kStyleGpt, "a GPT decodes as style GPT");
  require(first.partitionCount() <= kLayoutSlotCount, "a GPT layout fits the layout record");
  if (EncodeGpt(disk, first) != ERROR_SUCCESS) return 0;
  LayoutBuffer again;
  bool foundAgain = false;
  require(DecodeGpt(disk, again, foundAgain) == ERROR_SUCCESS && foundAgain, "a GPT just written reads back");
  require(sameLayout(first, again), "writing back the GPT layout just read changes nothing that reads back");
  return 0;
}
