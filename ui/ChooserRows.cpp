#include "ChooserRows.h"

#include "Port.h"
#include "udiskmgmt.h"

namespace kestrin {

namespace {
constexpr int kProbedDisks = 16;
constexpr std::int64_t kBytesPerMb = 1048576;
}  // namespace

std::vector<ChooserRow> ChooserRows() {
  std::vector<ChooserRow> rows;
  DevicePort& p = port();
  for (int n = 0; n < kProbedDisks; ++n) {
    DiskHandle handle = p.OpenDisk("\\\\.\\physicaldrive" + std::to_string(n), GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (handle == kInvalidHandle) continue;
    std::int64_t length = GetDiskLength(handle);
    p.CloseDisk(handle);
    rows.push_back({std::to_string(n), "DISK", "", std::to_string(length / kBytesPerMb), ""});
  }
  return rows;
}

}  // namespace kestrin
