#pragma once
// Why the disk stack refused a layout write. The core knows only the
// request's failure ("The parameter is incorrect"); the layer above, which
// knows the codec's rules, can name the reasons, and the refused write's
// message then carries them, so that every front end shows them wherever it
// shows that message. The core itself still never talks to the user.

#include <cstdint>
#include <string>

#include "LayoutBuffer.h"
#include "Port.h"

namespace kestrin {

class RefusalExplainer {
 public:
  virtual ~RefusalExplainer() = default;
  // The lines that follow the message of the refused write of `layout`
  // (`error`: the request's error code) to the disk open as `disk` on
  // `port`, each beginning with a line break; empty when there is nothing
  // to add. Reads at most; never writes.
  virtual std::string explain(DevicePort& port, DiskHandle disk, const LayoutBuffer& layout, std::uint32_t error) = 0;
};

// What the installed explainer says; empty without one.
std::string RefusalReasons(DevicePort& port, DiskHandle disk, const LayoutBuffer& layout, std::uint32_t error);

// Installs `explainer` (not owned) for the lifetime of this object; the one
// before comes back afterwards.
class ScopedRefusalExplainer {
 public:
  explicit ScopedRefusalExplainer(RefusalExplainer& explainer);
  ~ScopedRefusalExplainer();
  ScopedRefusalExplainer(const ScopedRefusalExplainer&) = delete;
  ScopedRefusalExplainer& operator=(const ScopedRefusalExplainer&) = delete;

 private:
  RefusalExplainer* m_previous;
};

}  // namespace kestrin
