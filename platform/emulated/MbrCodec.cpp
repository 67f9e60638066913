// Placeholder until the MBR codec lands.
#include "LayoutCodec.h"
#include "Port.h"
namespace kestrin {
bool HasMbrBootSignature(std::span<const std::uint8_t> s) { return s.size() >= 512 && s[510] == 0x55 && s[511] == 0xAA; }
bool HasProtectiveEntry(std::span<const std::uint8_t> s) {
  for (int i = 0; i < 4; ++i) if (s[kMbrTableOffset + 16 * i + 4] == kMbrTypeProtectiveGpt) return true;
  return false;
}
std::uint32_t DecodeMbr(SectorReader&, LayoutBuffer& out) { out.setPartitionStyle(kStyleMbr); out.setPartitionCount(4); return 0; }
std::uint32_t EncodeMbr(SectorDevice&, const LayoutBuffer&) { return ERROR_NOT_SUPPORTED; }
std::uint32_t WriteEmptyMbr(SectorDevice&, std::uint32_t) { return ERROR_NOT_SUPPORTED; }
std::uint32_t ClearMbr(SectorDevice&) { return ERROR_NOT_SUPPORTED; }
}
