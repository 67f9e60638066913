#include "RefusalReasons.h"

#include "ErrorCodes.h"
#include "PortDisk.h"
#include "TableCheck.h"

namespace kestrin {

std::string CodecRefusalExplainer::explain(DevicePort& port, DiskHandle disk, const LayoutBuffer& layout,
                                           std::uint32_t error) {
  // Another failure (a busy disk, a device error) is no judgement of the
  // layout, and reading the disk again would only fail or wait as long.
  if (error != ERROR_INVALID_PARAMETER) return {};
  std::uint32_t sectorSize = 0;
  std::uint64_t sectorCount = 0;
  std::uint32_t ignored = 0;
  if (!PortSectors::geometry(port, disk, sectorSize, sectorCount, ignored)) return {};
  PortSectors sectors(port, disk, sectorSize, sectorCount);
  check::Report report;
  if (check::JudgeLayout(sectors, layout, layout.size(), report) != ERROR_SUCCESS) return {};
  std::string text;
  for (const check::Finding& finding : report.findings) {
    if (finding.severity == check::Severity::Problem) text += "\n  " + finding.rule + ": " + finding.text;
  }
  return text.empty() ? text : "\nThe table it would have written has these problems:" + text;
}

}  // namespace kestrin
