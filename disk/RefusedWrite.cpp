#include "RefusedWrite.h"

namespace kestrin {

namespace {
RefusalExplainer* g_explainer = nullptr;
}

std::string RefusalReasons(DevicePort& port, DiskHandle disk, const LayoutBuffer& layout, std::uint32_t error) {
  return g_explainer == nullptr ? std::string() : g_explainer->explain(port, disk, layout, error);
}

ScopedRefusalExplainer::ScopedRefusalExplainer(RefusalExplainer& explainer) : m_previous(g_explainer) {
  g_explainer = &explainer;
}

ScopedRefusalExplainer::~ScopedRefusalExplainer() { g_explainer = m_previous; }

}  // namespace kestrin
