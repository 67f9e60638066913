// The MBR/EBR decoder on hostile disks: sector 0 and any EBR chain the
// input describes (loops, links out of the extended partition, chains
// longer than the layout record). Whatever decodes is written back with the
// encoder, which must either refuse it or leave a disk that reads the same.

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
  if (DecodeMbr(disk, first) != ERROR_SUCCESS) return 0;
  require(first.partitionCount() <= kLayoutSlotCount, "an MBR layout fits the layout record");
  if (EncodeMbr(disk, first) != ERROR_SUCCESS) return 0;
  LayoutBuffer again;
  require(DecodeMbr(disk, again) == ERROR_SUCCESS, "an MBR just written reads back");
  require(sameLayout(first, again), "writing back the MBR layout just read changes nothing that reads back");
  return 0;
}
