#include "LayoutCodec.h"
#include "Port.h"

namespace kestrin {

std::uint32_t EncodeMbr(SectorDevice&, const LayoutBuffer&) { return ERROR_NOT_SUPPORTED; }

}  // namespace kestrin
