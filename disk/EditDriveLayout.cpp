// The one read-modify-write sequence behind every entry operation.

#include "Messages.h"
#include "ScopedDisk.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin {

bool EditDriveLayout(const std::string& path, const LayoutChange& change, UpdateRequest update) {
  DevicePort& p = port();
  // The open is deliberately not tested: a disk that cannot be opened shows
  // up as the failure of the layout read on the unusable handle.
  ScopedDisk disk(p, p.OpenDisk(path, GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL));

  // Sent before the read, and whatever the read then does.
  disk.sendIgnoringResult(FSCTL_DISMOUNT_VOLUME);

  // Zeroed first, so that slots past the reported count read as empty and an
  // operation may fill one of them as a new entry.
  LayoutBuffer buffer;
  buffer.clear();
  std::uint32_t returned = 0;
  if (!p.DiskControl(disk.handle(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), LayoutBuffer::size(),
                     &returned)) {
    std::uint32_t error = p.LastError();
    ShowMessage(RequestFailureText("IOCTL_DISK_GET_DRIVE_LAYOUT_EX", error));
    return false;
  }

  // May raise (a type GUID text that does not convert): the disk is then
  // closed on the way out and nothing has been written.
  change(buffer);

  // Always the whole buffer, whatever PartitionCount says.
  if (!p.DiskControl(disk.handle(), IOCTL_DISK_SET_DRIVE_LAYOUT_EX, buffer.data(), LayoutBuffer::size(), nullptr, 0,
                     &returned)) {
    std::uint32_t error = p.LastError();
    ShowMessage(RequestFailureText("IOCTL_DISK_SET_DRIVE_LAYOUT_EX", error));
    return false;
  }

  if (update == UpdateRequest::Send) disk.sendIgnoringResult(IOCTL_DISK_UPDATE_PROPERTIES);
  return true;
}

}  // namespace kestrin
