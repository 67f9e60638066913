// The two entry points of the checks: a disk by its style, and a layout
// record turned into the partitions it describes.

#include "TableCheck.h"

#include <algorithm>
#include <optional>
#include <string>

#include "ErrorCodes.h"
#include "GptFormat.h"
#include "LayoutCodec.h"
#include "MbrCodec.h"
#include "MbrEntry.h"
#include "MbrLayout.h"
#include "MbrSectors.h"

namespace kestrin::check {

namespace {

void problem(std::vector<Finding>& out, const char* rule, int entry, std::string text) {
  out.push_back({Severity::Problem, rule, entry, std::move(text)});
}

std::string entryName(int entry) { return "entry " + std::to_string(entry); }

// The slot's extent in sectors; false after a finding when its offset or
// length is negative or not whole sectors.
bool slotExtent(ConstLayoutSlot slot, int entry, std::uint32_t sectorSize, PartitionExtent& out,
                std::vector<Finding>& findings) {
  const std::int64_t offset = slot.startingOffset();
  const std::int64_t length = slot.partitionLength();
  if (offset < 0 || length < 0 || offset % sectorSize != 0 || length % sectorSize != 0) {
    problem(findings, "not-whole-sectors", entry,
            entryName(entry) + ": offset " + std::to_string(offset) + " and length " + std::to_string(length) +
                " are not whole sectors of " + std::to_string(sectorSize) + " bytes");
    return false;
  }
  out.entry = entry;
  out.name = entryName(entry);
  out.first = static_cast<std::uint64_t>(offset) / sectorSize;
  out.count = static_cast<std::uint64_t>(length) / sectorSize;
  return true;
}

constexpr std::uint64_t kMaxMbrSectorField = 0xFFFFFFFFu;

// Slots that keep their place on the disk but change between an extended
// partition and a partition: the partition's first sector would be written
// as an EBR, or the logical drives behind the EBR lost.
void checkInPlaceKinds(const LayoutBuffer& layout, int count, const LayoutBuffer& onDisk, std::vector<Finding>& out) {
  const int diskCount = static_cast<int>(std::min<std::uint32_t>(onDisk.partitionCount(), onDisk.slotCapacity()));
  for (int entry = 1; entry <= std::min(count, diskCount); ++entry) {
    ConstLayoutSlot now = layout.slot(entry);
    ConstLayoutSlot was = onDisk.slot(entry);
    if (now.mbrPartitionType() == 0 || was.mbrPartitionType() == 0) continue;
    if (now.startingOffset() != was.startingOffset()) continue;
    const bool container = isMbrContainerType(now.mbrPartitionType());
    if (container == isMbrContainerType(was.mbrPartitionType())) continue;
    problem(out, "extended-in-place", entry,
            entryName(entry) +
                (container ? " would make the partition there an extended partition: its first sector would be "
                             "written as an EBR"
                           : " would make the extended partition there a partition: the logical drives behind it "
                             "would be lost"));
  }
}

// True when slot `entry` holds what the same slot of `onDisk` holds.
bool keptFromDisk(const LayoutBuffer& layout, const LayoutBuffer* onDisk, int entry) {
  if (onDisk == nullptr || entry > static_cast<int>(std::min<std::uint32_t>(onDisk->partitionCount(), kLayoutSlotCount))) {
    return false;
  }
  ConstLayoutSlot now = layout.slot(entry);
  ConstLayoutSlot was = onDisk->slot(entry);
  return now.mbrPartitionType() == was.mbrPartitionType() && now.startingOffset() == was.startingOffset() &&
         now.partitionLength() == was.partitionLength();
}

void verifyMbrLayout(const LayoutBuffer& layout, int count, std::uint32_t sectorSize, std::uint64_t sectorCount,
                     const LayoutBuffer* onDisk, std::vector<Finding>& out) {
  std::vector<PartitionExtent> partitions;
  std::optional<PartitionExtent> extended;
  for (int entry = 1; entry <= std::min(count, kMbrPrimarySlots); ++entry) {
    ConstLayoutSlot slot = layout.slot(entry);
    if (slot.mbrPartitionType() == 0) continue;
    PartitionExtent p;
    if (!slotExtent(slot, entry, sectorSize, p, out)) continue;
    if (isMbrContainerType(slot.mbrPartitionType())) {
      p.kind = PartitionExtent::Kind::Extended;
      if (extended) {
        problem(out, "extended-twice", entry,
                "more than one extended partition (" + extended->name + " and " + p.name + ")");
      } else if (p.count > 0) {
        extended = p;
      }
    }
    if (p.first == 0 && p.count > 0) problem(out, "overlap", entry, p.name + " overlaps the MBR in sector 0");
    if (p.first > kMaxMbrSectorField || p.count > kMaxMbrSectorField) {
      problem(out, "mbr-limit", entry,
              p.name + " (" + std::to_string(p.count) + " sectors from sector " + std::to_string(p.first) +
                  ") does not fit an MBR entry, which holds at most " + std::to_string(kMaxMbrSectorField) +
                  " sectors in either field: use GPT");
    }
    if (slot.mbrPartitionType() == kMbrTypeProtectiveGpt) {
      problem(out, "protective-type", entry,
              p.name + " has type 0xEE, which makes the disk read as GPT, not as this table");
    }
    partitions.push_back(p);
  }
  // Each group of four slots is one EBR: the first at the extended
  // partition's start, each next one where the group before links.
  std::uint64_t ebr = extended ? extended->first : 0;
  std::vector<std::uint64_t> ebrs;
  for (int group = 0; mbrGroupFirstEntry(group) <= count; ++group) {
    if (extended) ebrs.push_back(ebr);
    std::optional<std::uint64_t> next;
    std::string drive;  // the group's logical drive
    for (int entry = mbrGroupFirstEntry(group); entry < mbrGroupFirstEntry(group + 1) && entry <= count; ++entry) {
      ConstLayoutSlot slot = layout.slot(entry);
      if (slot.mbrPartitionType() == 0) continue;
      PartitionExtent p;
      if (!slotExtent(slot, entry, sectorSize, p, out)) continue;
      if (!extended) {
        problem(out, "outside-extended", entry, p.name + " is a logical drive without an extended partition");
        continue;
      }
      if (isMbrContainerType(slot.mbrPartitionType())) {
        if (p.first <= extended->first || p.first >= extended->first + extended->count) {
          problem(out, "ebr-leaves-extended", entry,
                  p.name + " links to sector " + std::to_string(p.first) + ", outside the extended partition");
        } else if (!next) {
          next = p.first;
          // The last group's link leads to an EBR that nothing would write.
          if (mbrGroupFirstEntry(group + 1) > count && !keptFromDisk(layout, onDisk, entry)) {
            problem(out, "ebr-missing", entry,
                    p.name + " links to an EBR at sector " + std::to_string(p.first) +
                        " that the table does not hold: a link is written only with the logical drive behind it");
          }
        } else {
          problem(out, "ebr-loop", entry, p.name + " is a second link in one EBR, which leads to one next EBR");
        }
        continue;
      }
      if (!drive.empty()) {
        problem(out, "ebr-two-drives", entry,
                p.name + " shares its EBR with " + drive + ": sfdisk and parted read only the first logical drive");
      }
      drive = p.name;
      p.kind = PartitionExtent::Kind::Logical;
      p.ebr = ebr;
      partitions.push_back(p);
    }
    if (!next) {
      // Groups no link reaches would not be written.
      for (int entry = mbrGroupFirstEntry(group + 1); entry <= count; ++entry) {
        if (layout.slot(entry).mbrPartitionType() != 0) {
          problem(out, "ebr-chain-cut", entry,
                  entryName(entry) + " lies behind an EBR no link leads to: it would be lost");
        }
      }
      break;
    }
    ebr = *next;
  }
  // Data written into a partition would overwrite an EBR inside it.
  for (const PartitionExtent& p : partitions) {
    if (p.kind == PartitionExtent::Kind::Extended || p.count == 0) continue;
    for (std::uint64_t at : ebrs) {
      if (at >= p.first && at - p.first < p.count) {
        problem(out, "ebr-inside-partition", p.entry,
                p.name + " (" + std::to_string(p.first) + " to " + std::to_string(p.first + p.count - 1) +
                    ") covers the EBR at sector " + std::to_string(at));
      }
    }
  }
  CheckExtents(partitions, UsableArea{sectorCount, 1, sectorCount - 1, false}, sectorSize, PhysicalSectors{}, out);
}

void verifyGptLayout(const LayoutBuffer& layout, int count, std::uint32_t sectorSize, std::uint64_t sectorCount,
                     std::vector<Finding>& out) {
  UsableArea area{sectorCount, 0, 0, true};
  const std::int64_t usableStart = layout.gptStartingUsableOffset();
  const std::int64_t usableLength = layout.gptUsableLength();
  if (usableStart > 0 && usableLength > 0) {
    area.firstUsable = static_cast<std::uint64_t>(usableStart) / sectorSize;
    area.lastUsable = area.firstUsable + static_cast<std::uint64_t>(usableLength) / sectorSize - 1;
  } else {
    // A table of its own size: the headers and 16 KiB arrays at either end.
    const std::uint64_t reserved = 1 + 16384 / sectorSize;
    area.firstUsable = 1 + reserved;
    area.lastUsable = sectorCount > reserved + 1 ? sectorCount - reserved - 2 : 0;
  }
  std::vector<PartitionExtent> partitions;
  int used = 0;
  for (int entry = 1; entry <= count; ++entry) {
    ConstLayoutSlot slot = layout.slot(entry);
    if (slot.gptPartitionType().isNull()) continue;
    ++used;
    const std::uint32_t limit = layout.gptMaxPartitionCount();
    if (limit != 0 && static_cast<std::uint32_t>(used) > limit) {
      problem(out, "past-table", entry,
              entryName(entry) + " does not fit the GPT's array of " + std::to_string(limit) + " entries");
    }
    PartitionExtent p;
    p.kind = PartitionExtent::Kind::Gpt;
    if (!slotExtent(slot, entry, sectorSize, p, out)) continue;
    // A GPT read reports the used entries one after the other: in a table
    // with gaps a slot holds a partition of another number.
    const std::uint32_t number = slot.partitionNumber();
    if (number != 0 && number != static_cast<std::uint32_t>(entry)) {
      p.name += " (partition " + std::to_string(number) + ")";
    }
    partitions.push_back(p);
  }
  CheckExtents(partitions, area, sectorSize, PhysicalSectors{}, out);
}

// A disk without a boot signature reads as RAW to every tool that looks at
// sector 0 first, yet a GPT header at either end means a table is there
// (sgdisk still reads it): a new table would destroy it.
std::uint32_t checkGptWithoutMbr(SectorReader& disk, std::vector<Finding>& out) {
  std::uint64_t lba = 0;
  if (std::uint32_t error = FindGptHeader(disk, lba); error != ERROR_SUCCESS) return error;
  if (lba != 0) {
    problem(out, "gpt-without-mbr", 0,
            "sector 0 holds no protective MBR, but a GPT header is at sector " + std::to_string(lba) +
                ": the disk reads as empty, and a new table would replace this GPT");
  }
  return ERROR_SUCCESS;
}

// The layout record's limit, judged on the layout the codec decodes whole.
// A table the codec cannot read is named by the other checks.
void checkLayoutRecord(SectorReader& disk, std::vector<Finding>& out) {
  LayoutBuffer whole;
  if (DecodeWholeLayout(disk, whole) != ERROR_SUCCESS) return;
  if (std::optional<Finding> finding = CheckRecordLimit(whole)) out.push_back(std::move(*finding));
}

}  // namespace

std::optional<Finding> CheckRecordLimit(const LayoutBuffer& whole) {
  const std::uint32_t count = whole.partitionCount();
  if (count <= static_cast<std::uint32_t>(kLayoutSlotCount)) return std::nullopt;
  const std::string limit = "more than " + std::to_string(kLayoutSlotCount) + " entries: ";
  const std::string consequence =
      ": the window and the entry commands cannot edit this table and write nothing to it; show, verify, backup "
      "and restore handle all of it";
  if (whole.partitionStyle() == kStyleGpt) {
    return Finding{Severity::Warning, "too-many-entries", 0,
                   limit + "the GPT holds " + std::to_string(count) + " partitions, and the layout record holds " +
                       std::to_string(kLayoutSlotCount) + consequence};
  }
  const std::uint32_t ebrs = (count - kMbrPrimarySlots) / kMbrSlotsPerGroup;
  return Finding{Severity::Warning, "too-many-entries", 0,
                 limit + "the MBR's chain of " + std::to_string(ebrs) + " EBRs takes " + std::to_string(count) +
                     " entries of the layout record, which holds " + std::to_string(kLayoutSlotCount) + " (the " +
                     std::to_string(kMbrPrimarySlots) + " primary entries and " + std::to_string(kMbrMaxEbrGroups) +
                     " EBRs)" + consequence};
}

std::uint32_t FindGptHeader(SectorReader& disk, std::uint64_t& lba) {
  lba = 0;
  for (std::uint64_t at : {gpt::kPrimaryHeaderLba, disk.sectorCount() - 1}) {
    if (at == 0 || at >= disk.sectorCount()) continue;
    std::vector<std::uint8_t> sector;
    if (std::uint32_t error = readOneSector(disk, at, sector); error != ERROR_SUCCESS) return error;
    if (std::equal(std::begin(gpt::kSignature), std::end(gpt::kSignature), sector.begin())) {
      lba = at;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

bool Report::hasProblems() const {
  for (const Finding& finding : findings) {
    if (finding.severity == Severity::Problem) return true;
  }
  return false;
}

std::uint32_t VerifyDisk(SectorReader& disk, Report& report, PhysicalSectors physical) {
  report = Report{};
  report.style = "RAW";
  if (disk.sectorCount() == 0 || disk.sectorSize() < kMbrMinSectorSize) return ERROR_SUCCESS;
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) return error;
  if (!HasMbrBootSignature(sector0)) return checkGptWithoutMbr(disk, report.findings);
  const bool gpt = HasProtectiveEntry(sector0);
  report.style = gpt ? "GPT" : "MBR";
  const std::uint32_t error =
      gpt ? CheckGptDisk(disk, physical, report.findings) : CheckMbrDisk(disk, physical, report.findings);
  if (error == ERROR_SUCCESS) checkLayoutRecord(disk, report.findings);
  return error;
}

Report VerifyLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                    const LayoutBuffer* onDisk) {
  Report report;
  const int count = static_cast<int>(std::min<std::uint32_t>(layout.partitionCount(), layout.slotCapacity()));
  if (sectorSize == 0 || sectorCount < 2) return report;
  switch (layout.partitionStyle()) {
    case kStyleMbr:
      report.style = "MBR";
      verifyMbrLayout(layout, count, sectorSize, sectorCount,
                      onDisk != nullptr && onDisk->partitionStyle() == kStyleMbr ? onDisk : nullptr, report.findings);
      if (onDisk != nullptr && onDisk->partitionStyle() == kStyleMbr) {
        checkInPlaceKinds(layout, count, *onDisk, report.findings);
      }
      break;
    case kStyleGpt:
      report.style = "GPT";
      verifyGptLayout(layout, count, sectorSize, sectorCount, report.findings);
      break;
    default:
      report.style = "RAW";
      break;
  }
  return report;
}

}  // namespace kestrin::check
