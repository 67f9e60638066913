#pragma once
// The readers of a disk's layout and attributes. Each opens the disk
// read-only, issues one request and closes the disk.

#include <array>
#include <cstdint>
#include <string>

#include "ByteOrder.h"
#include "LayoutBuffer.h"
#include "RequestRecords.h"

namespace kestrin {

// GET_DISK_ATTRIBUTES as GetDiskAttributes fills it.
struct GetDiskAttributesRecord {
  std::array<std::uint8_t, kGetDiskAttributesSize> bytes{};
  std::uint64_t attributes() const { return readLe64(bytes, kGetAttributesValuesOffset); }
};

// Reads the layout of `path` into `buffer` (not cleared first). Returns true;
// on failure throws KestrinError "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:" +
// the system text.
bool GetDriveLayout(std::string path, LayoutBuffer& buffer);

// Reads the whole layout of `path`, however many slots it has: through one
// handle, with the fixed 64-slot record first and larger ones while the layout
// does not fit (ReadWithGrowingRecord). For the commands that show, check
// or put back a whole table; the window and the entry operations keep the
// fixed record. Throws as GetDriveLayout does.
LayoutBuffer GetWholeDriveLayout(const std::string& path);

// Fills `record` with the disk's attributes; false (no message) on failure.
bool GetDiskAttributes(std::string path, GetDiskAttributesRecord& record);

}  // namespace kestrin
