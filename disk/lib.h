#pragma once
// The disk readers: layout, attributes and descriptive properties (the last
// in DiskProperties.h, which belongs to this unit).

#include <array>
#include <cstdint>
#include <string>

#include "DiskProperties.h"
#include "LayoutBuffer.h"
#include "RequestRecords.h"

namespace kestrin {

// GET_DISK_ATTRIBUTES as GetDiskAttributes fills it.
struct GetDiskAttributesRecord {
  std::array<std::uint8_t, kGetDiskAttributesSize> bytes{};
  std::uint64_t attributes() const { return readLe64(bytes, kGetAttributesValuesOffset); }
};

// The platform's text for an error code with every trailing control
// character, blank and full stop removed.
std::string SystemErrorText(std::uint32_t code);

// "<request> failed:" followed directly, with no blank, by SystemErrorText(code).
std::string RequestFailureText(const char* requestName, std::uint32_t code);

// Reads the layout of `path` into `buffer` (not cleared first). Returns true;
// on failure throws KestrinError "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:" +
// the system text.
bool GetDriveLayout(std::string path, LayoutBuffer& buffer);

// Fills `record` with the disk's attributes; false (no message) on failure.
bool GetDiskAttributes(std::string path, GetDiskAttributesRecord& record);

}  // namespace kestrin
