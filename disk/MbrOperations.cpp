// The MBR entry operations: each is EditDriveLayout plus one change to the
// buffer. Each refuses a layout of another style, and an entry the table
// has no slot for, before it changes anything.

#include "MbrOperations.h"

#include <array>
#include <cstring>

#include "EditDriveLayout.h"
#include "EntryEditing.h"

namespace kestrin {

namespace {

LayoutRequirement mbrEntry(unsigned entry) { return {kStyleMbr, entry, LayoutRequirement::Entries::WithinCount}; }
LayoutRequirement usedMbrEntry(unsigned entry) { return {kStyleMbr, entry, LayoutRequirement::Entries::InUse}; }

// Fills slot `entry` as a new entry and marks it alone for rewriting.
void fillNewEntry(LayoutBuffer& buffer, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                  bool bootIndicator, std::uint8_t type) {
  clearRewriteMarksForCreate(buffer);
  LayoutSlot slot = buffer.slot(entry);
  slot.setStyle(kStyleMbr);
  slot.setStartingOffset(startingOffset);
  slot.setPartitionLength(length);
  slot.setPartitionNumber(entry);
  slot.setMbrPartitionType(type);
  slot.setMbrBootIndicator(bootIndicator);
  slot.setMbrRecognizedPartition(true);
  slot.setMbrHiddenSectors(0);
  slot.setRewritePartition(true);
}

}  // namespace

bool CreatePartitionMBR(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        bool bootIndicator, std::uint8_t type) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // An empty table gets its four primary slots; any other count stays, even
        // when the entry lies beyond it.
        if (buffer.partitionCount() == 0) buffer.setPartitionCount(kEmptyTableCreateCount);
        fillNewEntry(buffer, entry, startingOffset, length, bootIndicator, type);
      },
      UpdateRequest::Send, LayoutRequirement{kStyleMbr, entry, LayoutRequirement::Entries::CreateMbr});
}

bool CreateLogicalDriveMBR(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                           std::uint8_t type) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // The group's other slots stay empty: its link is the disk stack's to write.
        buffer.setPartitionCount(entry + kMbrGroupSlots - 1);
        fillNewEntry(buffer, entry, startingOffset, length, false, type);
      },
      UpdateRequest::Send, LayoutRequirement{kStyleMbr, entry, LayoutRequirement::Entries::NewMbrGroup});
}

bool DeletePartitionMBR(std::string path, std::uint8_t entry) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        // The count is left alone: the slot stays in the table as an unused entry.
        LayoutSlot slot = buffer.slot(entry);
        slot.setStyle(kStyleMbr);
        slot.setStartingOffset(0);
        slot.setPartitionLength(0);
        slot.setPartitionNumber(0);
        slot.setMbrPartitionType(0);
        slot.setMbrBootIndicator(false);
        slot.setMbrRecognizedPartition(false);
        slot.setMbrHiddenSectors(0);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, usedMbrEntry(entry));
}

bool SetPartitionTypeMBR(std::string path, std::uint8_t entry, std::uint8_t type) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        LayoutSlot slot = buffer.slot(entry);
        slot.setMbrPartitionType(type);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, mbrEntry(entry));
}

bool SetPartitionBootMBR(std::string path, std::uint8_t entry, bool bootIndicator) {
  if (!acceptEntryNumber(entry)) return false;
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        LayoutSlot slot = buffer.slot(entry);
        slot.setMbrBootIndicator(bootIndicator);
        slot.setRewritePartition(true);
      },
      UpdateRequest::Send, mbrEntry(entry));
}

bool SetDiskIdMBR(std::string path, std::uint32_t signature) {
  // A header field only: every slot goes back exactly as it was read.
  return EditDriveLayout(
      path, [&](LayoutBuffer& buffer) { buffer.setMbrSignature(signature); }, UpdateRequest::Send, mbrEntry(0));
}

bool SetPartitionNumberOneMBR(std::string path, std::uint8_t entry) {
  if (!acceptEntryNumber(entry)) return false;
  // The whole 144-byte slots change places, PartitionNumber included. No
  // update request: the command takes the disk offline and online instead.
  return EditDriveLayout(
      path,
      [&](LayoutBuffer& buffer) {
        std::array<std::uint8_t, kLayoutSlotSize> first{};
        std::array<std::uint8_t, kLayoutSlotSize> chosen{};
        std::memcpy(first.data(), buffer.slot(1).bytes().data(), kLayoutSlotSize);
        std::memcpy(chosen.data(), buffer.slot(entry).bytes().data(), kLayoutSlotSize);
        std::memcpy(buffer.slot(entry).bytes().data(), first.data(), kLayoutSlotSize);
        buffer.slot(entry).setRewritePartition(true);
        std::memcpy(buffer.slot(1).bytes().data(), chosen.data(), kLayoutSlotSize);
        buffer.slot(1).setRewritePartition(true);
      },
      UpdateRequest::Skip, usedMbrEntry(entry));
}

}  // namespace kestrin
