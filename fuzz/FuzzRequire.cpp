#include "FuzzRequire.h"

#include <cstdio>
#include <cstdlib>

namespace kestrin::fuzz {

void require(bool condition, const char* promise) {
  if (condition) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

}  // namespace kestrin::fuzz
