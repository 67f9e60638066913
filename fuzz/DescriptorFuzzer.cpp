// The storage descriptor strings: a descriptor of any bytes, each of its
// four string positions decoded as the disk properties reader does, and
// one more position taken from the first four input bytes. The decoded
// texts hold printable ASCII only.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ByteOrder.h"
#include "DiskProperties.h"
#include "FuzzRequire.h"

using namespace kestrin;
using namespace kestrin::fuzz;

namespace {

void expectPrintable(const std::string& text) {
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    require(u >= 0x20 && u <= 0x7E, "a decoded descriptor string holds printable ASCII only");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::span<const std::uint8_t> descriptor(data + 4, size - 4);
  expectPrintable(DecodeDescriptorString(descriptor, readLe32(std::span<const std::uint8_t>(data, 4), 0)));
  for (std::size_t field : {kDescriptorVendorIdOffset, kDescriptorProductIdOffset, kDescriptorProductRevisionOffset,
                            kDescriptorSerialNumberOffset}) {
    if (descriptor.size() < field + 4) break;
    expectPrintable(DecodeDescriptorString(descriptor, readLe32(descriptor, field)));
  }
  BusTypeToText(descriptor.size() > kDescriptorBusTypeOffset ? descriptor[kDescriptorBusTypeOffset] : 0);
  return 0;
}
