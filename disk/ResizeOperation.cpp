#include "ResizeOperation.h"

#include "EditDriveLayout.h"
#include "EntryEditing.h"

namespace kestrin {

bool ResizePartition(std::string path, std::uint32_t style, std::uint8_t entry, const NewLength& newLength) {
  if (!acceptEntryNumber(entry)) return false;
  const LayoutRequirement requirement{style, entry, LayoutRequirement::Entries::InUse};
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // A layout the requirement refuses is left as it is: its refusal,
        // not a length worked out of a slot that holds no partition, is
        // what the user is told.
        if (!LayoutRefusal(buffer, requirement).empty()) return;
        LayoutSlot slot = buffer.slot(entry);
        slot.setPartitionLength(newLength(buffer, entry));
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, requirement);
}

}  // namespace kestrin
