#include "DiskList.h"

#include "DiskLength.h"
#include "DiskProperties.h"
#include "Port.h"

namespace kestrin {

std::vector<DiskListRow> DiskListRows(int probeCount) {
  std::vector<DiskListRow> rows;
  DevicePort& p = port();
  for (int n = 0; n < probeCount; ++n) {
    const std::string number = std::to_string(n);
    // The probe uses the lower-case path; the readers below use the usual
    // form. Paths are compared without regard to case, so both name one disk.
    DiskHandle handle = p.OpenDisk("\\\\.\\physicaldrive" + number, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (handle == kInvalidHandle) continue;
    std::int64_t length = GetDiskLength(handle);
    p.CloseDisk(handle);

    // Cleared for each disk and not checked: a disk whose descriptor cannot
    // be read shows an empty name rather than the previous disk's.
    TDisk_Property property;
    property.clear();
    GetDiskProperty("\\\\.\\PhysicalDrive" + number, property);

    DiskListRow row;
    row.number = number;
    row.type = "DISK";
    row.name = property.Product;
    row.sizeMb = std::to_string(length / kBytesPerMegabyte);  // truncates toward zero
    row.attributes = GetDiskStatusText(number);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kestrin
