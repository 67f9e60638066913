// Placeholder until the GPT codec lands.
#include "LayoutCodec.h"
#include "Port.h"
namespace kestrin {
std::uint32_t DecodeGpt(SectorReader&, LayoutBuffer&, bool& found) { found = false; return 0; }
std::uint32_t EncodeGpt(SectorDevice&, const LayoutBuffer&) { return ERROR_NOT_SUPPORTED; }
std::uint32_t WriteEmptyGpt(SectorDevice&, const Guid&, std::uint32_t) { return ERROR_NOT_SUPPORTED; }
std::uint32_t WipeGpt(SectorDevice&) { return ERROR_NOT_SUPPORTED; }
}
