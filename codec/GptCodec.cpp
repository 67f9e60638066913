#include "GptCodec.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "GptPlan.h"
#include "GptTable.h"
#include "GptWriter.h"
#include "MbrFormat.h"
#include "NewGuid.h"
#include "ErrorCodes.h"

namespace kestrin {

using namespace gpt;

// Every GPT the codec reads fits the largest layout record.
static_assert(kMaxEntryCount <= static_cast<std::uint32_t>(kLayoutMaxSlotCapacity));

namespace {

// Fills the layout from a checked copy of the table, or fails with
// ERROR_INSUFFICIENT_BUFFER when its used entries do not fit `out`. Used entries are
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
    if (slots == out.slotCapacity()) return ERROR_INSUFFICIENT_BUFFER;
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

std::uint32_t EncodeGpt(SectorDevice& medium, const LayoutBuffer& layout, check::Findings* why) {
  check::Findings unasked;
  check::Findings& findings = why != nullptr ? *why : unasked;
  if (std::optional<check::Finding> finding = check::TooSmallForGpt(medium.sectorSize(), medium.sectorCount())) {
    findings.push_back(std::move(*finding));
    return ERROR_INVALID_PARAMETER;
  }
  Table table;
  if (std::uint32_t error = readTable(medium, ReadMode::BothCopies, table); error != ERROR_SUCCESS) return error;
  Plan plan;
  if (std::uint32_t error = planLayout(table, layout, medium, plan, findings); error != ERROR_SUCCESS) return error;
  const Copy* previous = table.current();
  return writeTable(medium, std::move(plan), previous ? ProtectiveMbr::Follow : ProtectiveMbr::Fresh,
                    previous ? std::span<const std::uint8_t>(previous->array) : std::span<const std::uint8_t>());
}

std::uint32_t WriteEmptyGpt(SectorDevice& medium, const Guid& diskId, std::uint32_t maxPartitionCount) {
  const std::uint32_t sectorSize = medium.sectorSize();
  if (sectorSize < kMbrMinSectorSize || maxPartitionCount > kMaxEntryCount) return ERROR_INVALID_PARAMETER;
  Plan plan;
  Header& h = plan.header;
  // Never fewer entries than fill the 16 KiB that the array is given.
  h.entrySize = static_cast<std::uint32_t>(kEntryMinSize);
  h.entryCount = std::max(maxPartitionCount, static_cast<std::uint32_t>(kMinArrayBytes / kEntryMinSize));
  h.diskId = diskId.isNull() ? NewGuid() : diskId;
  const std::uint64_t arraySectors = h.arraySectors(sectorSize);
  const std::uint64_t sectorCount = medium.sectorCount();
  // Sector 0, two headers, two arrays and at least one usable sector.
  if (sectorCount < 4 + 2 * arraySectors) return ERROR_INVALID_PARAMETER;
  const std::uint64_t lastLba = sectorCount - 1;
  plan.primaryArrayLba = kPrimaryArrayLba;
  plan.backupArrayLba = lastLba - arraySectors;
  h.firstUsableLba = kPrimaryArrayLba + arraySectors;
  h.lastUsableLba = plan.backupArrayLba - 1;
  plan.array.assign(static_cast<std::size_t>(h.arrayBytes()), 0);
  return writeTable(medium, std::move(plan), ProtectiveMbr::Fresh);
}

std::uint32_t WipeGpt(SectorDevice& medium) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::uint64_t sectorCount = medium.sectorCount();
  if (sectorSize < kMbrMinSectorSize || sectorCount < 3) return ERROR_SUCCESS;
  const std::uint64_t lastLba = sectorCount - 1;

  // Only the two places where a reader looks: a stale copy that a grown
  // disk left further in may now lie inside a partition.
  std::vector<std::uint8_t> sector(sectorSize);
  const std::uint64_t headers[] = {kPrimaryHeaderLba, lastLba};
  // Only sectors that carry the header signature are cleared: on a disk
  // that held an MBR, sector 1 and the last sector may belong to a boot
  // loader or to a partition.
  const std::vector<std::uint8_t> zeros(sectorSize, 0);
  for (std::uint64_t lba : headers) {
    if (std::uint32_t error = medium.readSectors(lba, sector); error != ERROR_SUCCESS) return error;
    if (std::memcmp(sector.data() + kHeaderSignatureOffset, kSignature, sizeof kSignature) != 0) continue;
    if (std::uint32_t error = medium.writeSectors(lba, zeros); error != ERROR_SUCCESS) return error;
    if (std::uint32_t error = medium.flush(); error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
