#pragma once
// The reasons a refused layout write names: the codec's judgement of the
// layout (check::JudgeLayout) against the disk it was meant for, as
// `verify` names the rules. The editor commands install it around their
// operations, so that the refusal's message in either window and on the
// command line says what is wrong rather than only that something is.

#include "RefusedWrite.h"

namespace kestrin {

class CodecRefusalExplainer : public RefusalExplainer {
 public:
  // For a write the stack refused as invalid (ERROR_INVALID_PARAMETER):
  // "\nThe table it would have written has these problems:" and one line
  // "\n  <rule>: <text>" per problem. Empty for any other failure, or when
  // the disk cannot be read to judge the layout.
  std::string explain(DevicePort& port, DiskHandle disk, const LayoutBuffer& layout, std::uint32_t error) override;
};

}  // namespace kestrin
