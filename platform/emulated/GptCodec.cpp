// The GPT half of the layout codec: a GPT on the disk to the layout record
// and back, a fresh empty GPT, and wiping one.
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "GptTable.h"
#include "GptWriter.h"
#include "LayoutCodec.h"
#include "Port.h"

namespace kestrin {

using namespace gpt;

namespace {

// Fills the layout from a checked copy of the table. Used entries are
// reported in array order; each keeps its 1-based position in the array as
// its number, so a gap in the array shows as a gap in the numbers, as the
// Linux kernel names the partitions.
std::uint32_t fillLayout(const Copy& copy, std::uint32_t sectorSize, std::uint64_t sectorCount, LayoutBuffer& out) {
  const Header& h = copy.header;
  out.clear();
  out.setPartitionStyle(kStyleGpt);
  out.setGptDiskId(h.diskId);
  out.setGptStartingUsableOffset(static_cast<std::int64_t>(h.firstUsableLba * sectorSize));
  out.setGptUsableLength(static_cast<std::int64_t>((h.lastUsableLba - h.firstUsableLba + 1) * sectorSize));
  out.setGptMaxPartitionCount(h.entryCount);

  int slots = 0;
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    auto entry = entryAt(copy.array, h.entrySize, index);
    if (!isUsedEntry(entry) || !isShowableEntry(entry, sectorCount)) continue;
    if (slots == kLayoutSlotCount) return ERROR_INSUFFICIENT_BUFFER;
    ++slots;
    LayoutSlot slot = out.slot(slots);
    // Both sectors lie inside the disk, so the byte values fit.
    const std::uint64_t first = readLe64(entry, kEntryFirstLbaOffset);
    const std::uint64_t last = readLe64(entry, kEntryLastLbaOffset);
    slot.setStyle(kStyleGpt);
    slot.setStartingOffset(static_cast<std::int64_t>(first * sectorSize));
    slot.setPartitionLength(static_cast<std::int64_t>((last - first + 1) * sectorSize));
    slot.setPartitionNumber(index + 1);
    slot.setGptPartitionType(readGuidAt(entry, kEntryTypeGuidOffset));
    slot.setGptPartitionId(readGuidAt(entry, kEntryUniqueGuidOffset));
    slot.setGptAttributes(readLe64(entry, kEntryAttributesOffset));
    std::copy_n(entry.begin() + kEntryNameOffset, kEntryNameBytes, slot.bytes().begin() + kSlotGptNameOffset);
  }
  out.setPartitionCount(static_cast<std::uint32_t>(slots));
  return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t DecodeGpt(SectorReader& medium, LayoutBuffer& out, bool& found) {
  found = false;
  Table table;
  if (std::uint32_t error = readTable(medium, ReadMode::FirstValid, table); error != ERROR_SUCCESS) return error;
  const Copy* copy = table.current();
  if (copy == nullptr) return ERROR_SUCCESS;
  found = true;
  return fillLayout(*copy, medium.sectorSize(), medium.sectorCount(), out);
}

std::uint32_t EncodeGpt(SectorDevice&, const LayoutBuffer&) { return ERROR_NOT_SUPPORTED; }
std::uint32_t WriteEmptyGpt(SectorDevice&, const Guid&, std::uint32_t) { return ERROR_NOT_SUPPORTED; }
std::uint32_t WipeGpt(SectorDevice&) { return ERROR_NOT_SUPPORTED; }

}  // namespace kestrin
