#include "GptPlan.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "Guid.h"
#include "NewGuid.h"
#include "ErrorCodes.h"

namespace kestrin::gpt {

namespace {

// The primary array fits between the primary header and the usable range.
bool primaryArrayFits(const Header& h, std::uint64_t lba, std::uint64_t sectors) {
  return lba > kPrimaryHeaderLba && lba < h.firstUsableLba && sectors <= h.firstUsableLba - lba;
}

// The backup array fits between the usable range and the backup header.
bool backupArrayFits(const Header& h, std::uint64_t lba, std::uint64_t sectors, std::uint64_t lastLba) {
  return lba > h.lastUsableLba && lba < lastLba && sectors <= lastLba - lba;
}

// The geometry of the table on the disk: its usable range and array, each
// copy's array where it is now. A copy that is damaged, or whose array
// could not hold the current one, gets its array in the usual place, next
// to its header. Appends a finding for what does not fit the disk.
void planFromDisk(const Table& table, const Copy& copy, const SectorReader& medium, const LayoutBuffer& layout,
                  Plan& plan, check::Findings& findings) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::uint64_t lastLba = medium.sectorCount() - 1;
  plan.header = copy.header;
  const Header& h = plan.header;
  // The layout must describe this disk's usable range, not another's.
  if (layout.gptStartingUsableOffset() != static_cast<std::int64_t>(h.firstUsableLba * sectorSize) ||
      layout.gptUsableLength() != static_cast<std::int64_t>((h.lastUsableLba - h.firstUsableLba + 1) * sectorSize)) {
    findings.push_back(check::GptOtherUsableArea(h.firstUsableLba, h.lastUsableLba));
  }
  const std::uint64_t sectors = h.arraySectors(sectorSize);
  plan.primaryArrayLba = table.primary.valid ? table.primary.header.entryLba : kPrimaryArrayLba;
  if (!primaryArrayFits(h, plan.primaryArrayLba, sectors)) plan.primaryArrayLba = kPrimaryArrayLba;
  plan.backupArrayLba = table.backup.valid ? table.backup.header.entryLba : lastLba - sectors;
  if (table.primary.valid && table.primary.header.alternateLba < lastLba && sectors < lastLba &&
      lastLba - sectors - 1 > h.lastUsableLba) {
    // The disk has grown since the table was written: the backup copy goes to
    // the new end and the usable area reaches up to it, as on a fresh table.
    // The entries stay where they are.
    plan.backupArrayLba = lastLba - sectors;
    plan.header.lastUsableLba = plan.backupArrayLba - 1;
  }
  if (!backupArrayFits(h, plan.backupArrayLba, sectors, lastLba)) plan.backupArrayLba = lastLba - sectors;
  if (!primaryArrayFits(h, plan.primaryArrayLba, sectors) ||
      !backupArrayFits(h, plan.backupArrayLba, sectors, lastLba)) {
    findings.push_back(check::GptGeometry("its entry arrays have no room between the headers and the usable area"));
  }
}

// A new table from the layout's header, for a disk without one: its usable
// range and entry count, 128-byte entries, each array next to its header.
// False after a finding when the header cannot be laid out on the disk.
bool planFromLayout(const LayoutBuffer& layout, const SectorReader& medium, Plan& plan, check::Findings& findings) {
  const std::uint32_t sectorSize = medium.sectorSize();
  const std::uint64_t lastLba = medium.sectorCount() - 1;
  const std::int64_t start = layout.gptStartingUsableOffset();
  const std::int64_t length = layout.gptUsableLength();
  const std::uint32_t count = layout.gptMaxPartitionCount();
  auto refuse = [&](const std::string& why) {
    findings.push_back(check::GptGeometry(why));
    return false;
  };
  if (start <= 0 || length <= 0 || start % sectorSize != 0 || length % sectorSize != 0) {
    return refuse("the layout's usable area (offset " + std::to_string(start) + ", length " + std::to_string(length) +
                  ") is no run of whole sectors");
  }
  if (count == 0 || count > kMaxEntryCount) {
    return refuse("the layout asks for an array of " + std::to_string(count) + " entries, not 1 to " +
                  std::to_string(kMaxEntryCount));
  }
  Header& h = plan.header;
  h.entrySize = static_cast<std::uint32_t>(kEntryMinSize);
  h.entryCount = count;
  h.firstUsableLba = static_cast<std::uint64_t>(start) / sectorSize;
  const std::uint64_t usableSectors = static_cast<std::uint64_t>(length) / sectorSize;
  if (h.firstUsableLba > lastLba || usableSectors > lastLba - h.firstUsableLba) {
    return refuse("the layout's usable area runs past the disk's last sector " + std::to_string(lastLba));
  }
  h.lastUsableLba = h.firstUsableLba + usableSectors - 1;
  const std::uint64_t sectors = h.arraySectors(sectorSize);
  if (sectors >= lastLba) return refuse("an array of " + std::to_string(count) + " entries does not fit the disk");
  plan.primaryArrayLba = kPrimaryArrayLba;
  plan.backupArrayLba = lastLba - sectors;
  if (!primaryArrayFits(h, plan.primaryArrayLba, sectors) ||
      !backupArrayFits(h, plan.backupArrayLba, sectors, lastLba)) {
    return refuse("the layout's usable area (sectors " + std::to_string(h.firstUsableLba) + " to " +
                  std::to_string(h.lastUsableLba) + ") leaves the entry arrays no room beside the headers");
  }
  return true;
}

// A used slot of the layout, checked and in sectors.
struct Wanted {
  int slot = 0;
  std::uint64_t firstLba = 0;
  std::uint64_t lastLba = 0;
  std::uint32_t position = 0;
};

// The used slots (non-null type) of the layout, each judged: sector-aligned,
// of some length, inside the usable range and clear of the others. Appends a
// finding for each rule broken; a slot of whole sectors is collected even
// then. False after a finding when the record counts more slots than it has.
bool collectSlots(const LayoutBuffer& layout, const Header& h, std::uint32_t sectorSize, std::uint64_t sectorCount,
                  std::vector<Wanted>& out, check::Findings& findings) {
  const std::uint32_t count = layout.partitionCount();
  if (std::optional<check::Finding> finding = check::TooManySlots(count)) {
    findings.push_back(std::move(*finding));
    return false;
  }
  const check::UsableArea area{sectorCount, h.firstUsableLba, h.lastUsableLba, true};
  std::vector<check::PartitionExtent> partitions;
  for (int k = 1; k <= static_cast<int>(count); ++k) {
    ConstLayoutSlot slot = layout.slot(k);
    if (slot.gptPartitionType().isNull()) continue;
    // A GPT read reports the used entries one after the other: in a table
    // with gaps a slot holds a partition of another number.
    std::string name = "entry " + std::to_string(k);
    const std::uint32_t number = slot.partitionNumber();
    if (number != 0 && number != static_cast<std::uint32_t>(k)) name += " (partition " + std::to_string(number) + ")";
    const std::int64_t offset = slot.startingOffset();
    const std::int64_t length = slot.partitionLength();
    if (std::optional<check::Finding> finding = check::NotWholeSectors(name, k, offset, length, sectorSize)) {
      findings.push_back(std::move(*finding));
      continue;
    }
    const std::uint64_t first = static_cast<std::uint64_t>(offset) / sectorSize;
    const std::uint64_t sectors = static_cast<std::uint64_t>(length) / sectorSize;
    const check::PartitionExtent p{check::PartitionExtent::Kind::Gpt, k, name, first, sectors, 0};
    if (std::optional<check::Finding> finding = check::ZeroLength(p)) findings.push_back(std::move(*finding));
    check::JudgePlace(p, area, findings);
    Wanted w;
    w.slot = k;
    w.firstLba = p.first;
    w.lastLba = p.first + p.count - 1;  // both below 2^63; a slot of length zero is refused
    out.push_back(w);
    if (p.count > 0) partitions.push_back(p);
  }
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    for (std::size_t j = i + 1; j < partitions.size(); ++j) {
      if (std::optional<check::Finding> finding = check::Overlap(partitions[i], partitions[j])) {
        findings.push_back(std::move(*finding));
      }
    }
  }
  return true;
}

// Gives each wanted entry its array position: the one its number names
// when that exists and no earlier slot took it, else the first free one.
// Entries of the old array that the reader leaves out (outside the disk)
// keep their positions. Fails when the array has too few positions.
std::uint32_t assignPositions(const LayoutBuffer& layout, const Header& h, std::span<const std::uint8_t> oldArray,
                              std::uint64_t sectorCount, std::vector<Wanted>& wanted, std::vector<bool>& kept) {
  std::vector<bool> taken(h.entryCount, false);
  kept.assign(h.entryCount, false);
  std::size_t used = wanted.size();
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    auto entry = entryAt(oldArray, h.entrySize, index);
    if (isUsedEntry(entry) && !isShowableEntry(entry, sectorCount)) {
      taken[index] = kept[index] = true;
      ++used;
    }
  }
  if (used > h.entryCount) return ERROR_INVALID_PARAMETER;
  std::vector<bool> placed(wanted.size(), false);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const std::uint32_t number = layout.slot(wanted[i].slot).partitionNumber();
    if (number >= 1 && number <= h.entryCount && !taken[number - 1]) {
      wanted[i].position = number - 1;
      taken[number - 1] = placed[i] = true;
    }
  }
  std::uint32_t next = 0;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (placed[i]) continue;
    while (taken[next]) ++next;  // a free position exists: used <= entryCount
    wanted[i].position = next;
    taken[next] = true;
  }
  return ERROR_SUCCESS;
}

// Fills `plan.array` from the layout's slots, after judging them. Nothing
// is written; every refusal happens here, before the first write, with its
// findings appended.
void buildArray(const LayoutBuffer& layout, const SectorReader& medium, std::span<const std::uint8_t> oldArray,
                Plan& plan, check::Findings& findings) {
  const std::size_t findingsBefore = findings.size();
  Header& h = plan.header;
  if (layout.gptDiskId().isNull()) findings.push_back(check::GptNoDiskId());
  h.diskId = layout.gptDiskId();
  std::vector<Wanted> wanted;
  if (!collectSlots(layout, h, medium.sectorSize(), medium.sectorCount(), wanted, findings)) return;
  std::vector<bool> kept;
  if (assignPositions(layout, h, oldArray, medium.sectorCount(), wanted, kept) != ERROR_SUCCESS) {
    findings.push_back(check::PastTable(wanted.size(), h.entryCount));
  }
  if (findings.size() > findingsBefore) return;

  plan.array.assign(static_cast<std::size_t>(h.arrayBytes()), 0);
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    if (kept[index]) {
      auto from = entryAt(oldArray, h.entrySize, index);
      std::copy(from.begin(), from.end(), entryAt(std::span<std::uint8_t>(plan.array), h.entrySize, index).begin());
    }
  }
  for (const Wanted& w : wanted) {
    ConstLayoutSlot slot = layout.slot(w.slot);
    auto entry = entryAt(std::span<std::uint8_t>(plan.array), h.entrySize, w.position);
    auto old = entryAt(oldArray, h.entrySize, w.position);
    Guid id = slot.gptPartitionId();
    // A new entry comes without an id; every partition needs its own.
    if (id.isNull()) id = NewGuid();
    writeGuidAt(entry, kEntryTypeGuidOffset, slot.gptPartitionType());
    writeGuidAt(entry, kEntryUniqueGuidOffset, id);
    writeLe64(entry, kEntryFirstLbaOffset, w.firstLba);
    writeLe64(entry, kEntryLastLbaOffset, w.lastLba);
    writeLe64(entry, kEntryAttributesOffset, slot.gptAttributes());
    std::copy_n(slot.bytes().begin() + kSlotGptNameOffset, kEntryNameBytes, entry.begin() + kEntryNameOffset);
    // Bytes past the defined fields stay with the partition they belonged to.
    if (readGuidAt(old, kEntryUniqueGuidOffset) == id) {
      std::copy(old.begin() + kEntryMinSize, old.end(), entry.begin() + kEntryMinSize);
    }
  }
}

}  // namespace

std::uint32_t planLayout(const Table& table, const LayoutBuffer& layout, const SectorReader& medium, Plan& plan,
                         check::Findings& findings) {
  const std::size_t findingsBefore = findings.size();
  std::vector<std::uint8_t> oldArray;
  if (const Copy* copy = table.current()) {
    planFromDisk(table, *copy, medium, layout, plan, findings);
    oldArray = copy->array;
  } else {
    if (!planFromLayout(layout, medium, plan, findings)) return ERROR_INVALID_PARAMETER;
    oldArray.assign(static_cast<std::size_t>(plan.header.arrayBytes()), 0);
  }
  buildArray(layout, medium, oldArray, plan, findings);
  return findings.size() > findingsBefore ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

}  // namespace kestrin::gpt
