// The one read-modify-write sequence behind every entry operation.

#include "EditDriveLayout.h"

#include <algorithm>

#include "EntryEditing.h"
#include "Messages.h"
#include "Port.h"
#include "RefusedWrite.h"
#include "RequestFailure.h"
#include "ScopedDisk.h"

namespace kestrin {

namespace {

// An MBR slot of a type other than 0, a GPT slot of a type other than the
// null GUID.
bool slotHoldsEntry(const LayoutBuffer& layout, unsigned entry) {
  ConstLayoutSlot slot = layout.slot(static_cast<int>(entry));
  return layout.partitionStyle() == kStyleGpt ? !slot.gptPartitionType().isNull() : slot.mbrPartitionType() != 0;
}

}  // namespace

std::string LayoutRefusal(const LayoutBuffer& layout, const LayoutRequirement& requirement) {
  // An operation of one style would misread the other style's fields: an MBR
  // type byte written into a GPT slot lands in the type GUID.
  if (layout.partitionStyle() != requirement.style) return requirement.style == kStyleMbr ? "MBR only" : "GPT only";
  if (requirement.entry == 0) return {};
  std::uint32_t limit = layout.partitionCount();
  switch (requirement.entries) {
    case LayoutRequirement::Entries::WithinCount:
      break;
    case LayoutRequirement::Entries::InUse:
      // Deleting an empty slot or making it the first one changes nothing
      // that was meant, and the exchange would move the first partition.
      if (requirement.entry <= limit && !slotHoldsEntry(layout, requirement.entry)) {
        return "not a valid part number";
      }
      break;
    case LayoutRequirement::Entries::CreateMbr:
      // An empty table is given its four primary slots; no other count is
      // raised, so a slot past it would be filled and never written.
      if (limit == 0) limit = kEmptyTableCreateCount;
      break;
    case LayoutRequirement::Entries::CreateGpt:
      // The count is raised to reach the slot filled.
      limit = kLayoutSlotCount;
      break;
    case LayoutRequirement::Entries::NewMbrGroup:
      // The record reports the four primaries and a group per EBR, so the
      // slot after the count begins the next group.
      if (requirement.entry != std::max(limit, kEmptyTableCreateCount) + 1 ||
          requirement.entry + kMbrGroupSlots - 1 > static_cast<unsigned>(kLayoutSlotCount)) {
        return "not a valid part number";
      }
      return {};
  }
  return requirement.entry <= limit ? std::string() : std::string("not a valid part number");
}

bool EditDriveLayout(const std::string& path, const LayoutChange& change, UpdateRequest update,
                     const std::optional<LayoutRequirement>& requirement) {
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
  if (!p.DiskControl(disk.handle(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), buffer.size(),
                     &returned)) {
    std::uint32_t error = p.LastError();
    ShowMessage(RequestFailureText("IOCTL_DISK_GET_DRIVE_LAYOUT_EX", error));
    return false;
  }

  // The layout as read is judged after the change has run, so that a type
  // GUID text that does not convert raises first, as it does on any disk.
  const LayoutBuffer read = buffer;

  // May raise (a type GUID text that does not convert): the disk is then
  // closed on the way out and nothing has been written.
  change(buffer);

  if (requirement) {
    if (std::string refusal = LayoutRefusal(read, *requirement); !refusal.empty()) {
      ShowMessage(refusal);
      return false;
    }
  }

  // Always the whole buffer, whatever PartitionCount says.
  if (!p.DiskControl(disk.handle(), IOCTL_DISK_SET_DRIVE_LAYOUT_EX, buffer.data(), buffer.size(), nullptr, 0,
                     &returned)) {
    std::uint32_t error = p.LastError();
    // One message: the request's failure, then why the layout was refused
    // where the layer above can tell.
    ShowMessage(RequestFailureText("IOCTL_DISK_SET_DRIVE_LAYOUT_EX", error) +
                RefusalReasons(p, disk.handle(), buffer, error));
    return false;
  }

  if (update == UpdateRequest::Send) disk.sendIgnoringResult(IOCTL_DISK_UPDATE_PROPERTIES);
  return true;
}

bool ReplaceDriveLayout(const std::string& path, const LayoutBuffer& layout) {
  return EditDriveLayout(path, [&layout](LayoutBuffer& buffer) {
    buffer.clear();
    std::copy_n(layout.data(), std::min(layout.size(), buffer.size()), buffer.data());
  });
}

}  // namespace kestrin
