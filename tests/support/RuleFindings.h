#pragma once
// Whether a refusal names the rule a test broke.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "TableRules.h"

namespace kestrin::test {

// Success when `findings` hold a problem of `rule` about entry `entry`; a
// failure that lists every finding otherwise.
inline ::testing::AssertionResult NamesProblem(const check::Findings& findings, const std::string& rule, int entry) {
  const bool named = std::any_of(findings.begin(), findings.end(), [&](const check::Finding& f) {
    return f.rule == rule && f.entry == entry && f.severity == check::Severity::Problem;
  });
  if (named) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "no problem " << rule << " about entry " << entry << " among:";
  for (const check::Finding& f : findings) failure << "\n  " << f.rule << " " << f.entry << ": " << f.text;
  return failure;
}

}  // namespace kestrin::test
