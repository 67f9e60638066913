#include "EntryEditing.h"

#include "Messages.h"

namespace kestrin {

std::string EntryOutsideTableText(unsigned entry) {
  return "Entry number " + std::to_string(entry) + " is outside the partition table (1 to " +
         std::to_string(kLayoutSlotCount) + ")";
}

bool acceptEntryNumber(unsigned entry) {
  if (isValidEntryNumber(static_cast<int>(entry))) return true;
  ShowMessage(EntryOutsideTableText(entry));
  return false;
}

void clearRewriteMarksForCreate(LayoutBuffer& buffer) {
  for (int entry = 1; entry <= kCreateClearsRewriteUpTo; ++entry) buffer.slot(entry).setRewritePartition(false);
}

}  // namespace kestrin
