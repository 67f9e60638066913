#pragma once
// The promise check of every fuzz target.

namespace kestrin::fuzz {

// Stops the fuzzer with a crash report when `condition` does not hold: a
// broken promise of the code under test is a finding like any sanitizer
// report.
void require(bool condition, const char* promise);

}  // namespace kestrin::fuzz
