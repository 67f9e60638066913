// The whole-disk operations: a fresh layout, no layout, disk attributes.
// None reads the layout first, and each reports failure its own way:
// CreateDisk shows a message, DeleteDriveLayout raises, SetDiskAttributes
// is silent.

#include "DiskOperations.h"

#include <array>
#include <set>

#include "ByteOrder.h"
#include "Errors.h"
#include "LayoutBuffer.h"
#include "Messages.h"
#include "NewGuid.h"
#include "RequestFailure.h"
#include "RequestRecords.h"
#include "ScopedDisk.h"

namespace kestrin {

namespace {

// Disk numbers are probed for signatures in use until this many in a row
// do not open.
constexpr int kSignatureProbeGap = 16;
constexpr int kSignatureProbeLimit = 1024;

// The MBR signatures of the disks the port serves, as far as their layouts
// can be read.
std::set<std::uint32_t> signaturesInUse() {
  DevicePort& p = port();
  std::set<std::uint32_t> signatures;
  for (int number = 0, misses = 0; number < kSignatureProbeLimit && misses < kSignatureProbeGap; ++number) {
    ScopedDisk disk(p, p.OpenDisk("\\\\.\\PhysicalDrive" + std::to_string(number), GENERIC_READ, 0));
    if (disk.handle() == kInvalidHandle) {
      ++misses;
      continue;
    }
    misses = 0;
    LayoutBuffer layout;
    std::uint32_t returned = 0;
    if (p.DiskControl(disk.handle(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.data(), layout.size(),
                      &returned) &&
        layout.partitionStyle() == kStyleMbr) {
      signatures.insert(layout.mbrSignature());
    }
  }
  return signatures;
}

std::string UnknownStyleText(unsigned style) {
  return "Partition style " + std::to_string(style) + " is not MBR (0), GPT (1) or RAW (2)";
}

}  // namespace

std::uint32_t NewMbrSignature() {
  const std::set<std::uint32_t> inUse = signaturesInUse();
  for (;;) {
    const Guid random = NewGuid();
    const std::uint32_t signature = readLe32(random.bytes, 0);
    if (signature != 0 && inUse.count(signature) == 0) return signature;
  }
}

bool CreateDisk(std::string path, std::uint8_t style) {
  // Only the three known styles make a defined record; anything else is
  // refused before the disk is opened.
  if (style != kStyleMbr && style != kStyleGpt && style != kStyleRaw) {
    ShowMessage(UnknownStyleText(style));
    return false;
  }

  std::array<std::uint8_t, kCreateDiskSize> record{};
  writeLe32(record, kCreateDiskStyleOffset, style);
  if (style == kStyleMbr) {
    writeLe32(record, kCreateDiskMbrSignatureOffset, NewMbrSignature());
  } else if (style == kStyleGpt) {
    Guid diskId = NewGuid();
    for (std::size_t i = 0; i < diskId.bytes.size(); ++i)
      writeU8(record, kCreateDiskGptDiskIdOffset + i, diskId.bytes[i]);
    writeLe32(record, kCreateDiskGptMaxCountOffset, kCreateDiskGptMaxPartitionCount);
  }

  DevicePort& p = port();
  // Not tested: a disk that cannot be opened fails the create request.
  ScopedDisk disk(p, p.OpenDisk(path, GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL));
  std::uint32_t returned = 0;
  if (!p.DiskControl(disk.handle(), IOCTL_DISK_CREATE_DISK, record.data(), static_cast<std::uint32_t>(record.size()),
                     nullptr, 0, &returned)) {
    std::uint32_t error = p.LastError();
    ShowMessage(RequestFailureText("IOCTL_DISK_CREATE_DISK", error));
    return false;
  }
  // Unlike the entry operations, the dismount comes after the change, and
  // only when it succeeded.
  disk.sendIgnoringResult(FSCTL_DISMOUNT_VOLUME);
  disk.sendIgnoringResult(IOCTL_DISK_UPDATE_PROPERTIES);
  return true;
}

void DeleteDriveLayout(std::string path) {
  DevicePort& p = port();
  // Not tested: a disk that cannot be opened fails the delete request.
  ScopedDisk disk(p, p.OpenDisk(path, GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL));
  disk.sendIgnoringResult(FSCTL_DISMOUNT_VOLUME);
  if (!disk.send(IOCTL_DISK_DELETE_DRIVE_LAYOUT)) {
    std::uint32_t error = p.LastError();
    // The disk is closed as the error leaves.
    throw KestrinError(RequestFailureText("IOCTL_DISK_DELETE_DRIVE_LAYOUT", error));
  }
  disk.sendIgnoringResult(IOCTL_DISK_UPDATE_PROPERTIES);
}

bool SetDiskAttributes(std::string path, std::uint64_t attributes, std::uint64_t mask) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ | GENERIC_WRITE, 0);
  if (handle == kInvalidHandle) return false;
  ScopedDisk disk(p, handle);

  std::array<std::uint8_t, kSetDiskAttributesSize> record{};
  writeLe32(record, kSetAttributesVersionOffset, static_cast<std::uint32_t>(kSetDiskAttributesSize));
  writeU8(record, kSetAttributesPersistOffset, 0);  // not persistent
  writeLe64(record, kSetAttributesValuesOffset, attributes);
  writeLe64(record, kSetAttributesMaskOffset, mask);
  // The system takes the record's size from its version field.
  std::uint32_t size = readLe32(record, kSetAttributesVersionOffset);
  std::uint32_t returned = 0;
  return p.DiskControl(disk.handle(), IOCTL_DISK_SET_DISK_ATTRIBUTES, record.data(), size, nullptr, 0, &returned);
}

}  // namespace kestrin
