#pragma once
// The unique GUIDs the codec gives new GPT entries (and a new table without
// a disk GUID): random version-4 GUIDs drawn from the standard library's
// non-deterministic source, so that the codec needs no system service.

#include "Guid.h"

namespace kestrin {

Guid RandomGuid();

}  // namespace kestrin
