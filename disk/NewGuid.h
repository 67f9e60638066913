#pragma once
// The platform's GUID generation: a newly generated random GUID in the
// system's layout. Each platform's disk stack defines it (CoCreateGuid on
// Windows, libuuid on Linux), so the core builds the same everywhere.

#include "Guid.h"

namespace kestrin {

Guid NewGuid();

}  // namespace kestrin
