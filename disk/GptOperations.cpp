// The GPT entry operations: each is EditDriveLayout plus one change to the
// buffer. Each refuses a layout of another style, and (but for the create,
// which may fill any slot) an entry past the table's count, before it
// changes anything.

#include "GptOperations.h"

#include "EditDriveLayout.h"
#include "EntryEditing.h"
#include "Guid.h"
#include "Messages.h"

namespace kestrin {

namespace {

LayoutRequirement gptEntry(unsigned entry) { return {kStyleGpt, entry, LayoutRequirement::Entries::WithinCount}; }
LayoutRequirement usedGptEntry(unsigned entry) { return {kStyleGpt, entry, LayoutRequirement::Entries::InUse}; }

constexpr unsigned kAttributeBits = 64;

}  // namespace

bool CreatePartitionGPT(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        const std::string& typeGuidText, std::uint32_t partitionNumber) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // Converted before the buffer is touched: a text that is not a GUID
        // raises here, after the read, and nothing is written.
        Guid type = StringToGuid(typeGuidText);
        // A GPT read reports only the used entries, so the count is raised to
        // reach the slot filled. The entry number is at most 64 (checked above),
        // so the count never goes past the 64 slots of the buffer. Slots between
        // the old count and the entry stay as read: all zero.
        if (buffer.partitionCount() == 0) buffer.setPartitionCount(kEmptyTableCreateCount);
        if (buffer.partitionCount() < entry) buffer.setPartitionCount(entry);
        clearRewriteMarksForCreate(buffer);
        // The slot's id, attributes and name are not written: a slot that held
        // an entry keeps them.
        LayoutSlot slot = buffer.slot(entry);
        slot.setStyle(kStyleGpt);
        slot.setPartitionNumber(partitionNumber != 0 ? partitionNumber : entry);
        slot.setStartingOffset(startingOffset);
        slot.setPartitionLength(length);
        slot.setGptPartitionType(type);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, LayoutRequirement{kStyleGpt, entry, LayoutRequirement::Entries::CreateGpt});
}

bool DeletePartitionGPT(std::string path, std::uint8_t entry) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // The null type marks the slot unused; the count, id, attributes and name
        // stay as read.
        LayoutSlot slot = buffer.slot(entry);
        slot.setStyle(kStyleGpt);
        slot.setStartingOffset(0);
        slot.setPartitionLength(0);
        slot.setPartitionNumber(0);
        slot.setGptPartitionType(Guid{});
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, gptEntry(entry));
}

bool SetPartitionTypeGPT(std::string path, std::uint8_t entry, const std::string& typeGuidText) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        Guid type = StringToGuid(typeGuidText);
        LayoutSlot slot = buffer.slot(entry);
        slot.setGptPartitionType(type);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, gptEntry(entry));
}

bool SetPartitionAttributesGPT(std::string path, std::uint8_t entry, std::uint64_t attributes) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // Stored whole, with no mask: 0 clears every attribute bit.
        LayoutSlot slot = buffer.slot(entry);
        slot.setGptAttributes(attributes);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, gptEntry(entry));
}

std::string GptNameRefusal(const std::u16string& name) {
  if (name.size() <= kGptNameMaxUnits) return {};
  return "A partition name holds at most " + std::to_string(kGptNameMaxUnits) + " UTF-16 code units, not " +
         std::to_string(name.size());
}

bool SetPartitionNameGPT(std::string path, std::uint8_t entry, const std::u16string& name) {
  if (!acceptEntryNumber(entry)) return false;
  if (std::string refusal = GptNameRefusal(name); !refusal.empty()) {
    ShowMessage(refusal);
    return false;
  }
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        LayoutSlot slot = buffer.slot(entry);
        slot.setGptName(name);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, usedGptEntry(entry));
}

bool SetPartitionAttributeBitGPT(std::string path, std::uint8_t entry, unsigned bit, bool on) {
  if (!acceptEntryNumber(entry)) return false;
  if (bit >= kAttributeBits) {
    ShowMessage("Attribute bit " + std::to_string(bit) + " is outside the attributes (0 to 63)");
    return false;
  }
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // The bit is flipped in what was read under this call's hold of the
        // disk, so that a change another program made meanwhile stays.
        LayoutSlot slot = buffer.slot(entry);
        const std::uint64_t mask = std::uint64_t{1} << bit;
        slot.setGptAttributes(on ? slot.gptAttributes() | mask : slot.gptAttributes() & ~mask);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, usedGptEntry(entry));
}

}  // namespace kestrin
