#pragma once
// Checking a partition table and naming every problem it has: what a disk
// holds (VerifyDisk, over a sector reader) and what a layout record would
// make of it (JudgeLayout). Pure functions: they read sectors and never
// write.
//
// A layout is judged by the codec's own write path, so that the reasons a
// write is refused are the ones the refusal had. The checks of a disk are
// split by concern: ExtentCheck.cpp judges where the partitions lie (inside
// the disk and the usable area, not of length zero, not overlapping, logical
// drives inside their extended partition, aligned starts), MbrCheck.cpp the
// MBR and its EBR chain, GptCheck.cpp the two copies of a GPT and the MBR in
// front of it, TableCheck.cpp the whole report. Where a disk's fault is one a
// write would refuse, both name it with the same rule (TableRules.h). Each
// finding names the partition (or the structure) and the rule.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LayoutBuffer.h"
#include "SectorDevice.h"
#include "TableRules.h"

namespace kestrin::check {

struct Report {
  std::string style;  // "MBR", "GPT" or "RAW"
  std::vector<Finding> findings;
  // True when a finding is a problem (warnings alone leave a table clean).
  bool hasProblems() const;
};

// Checks the table on `disk`, whose physical sectors lie as `physical` says
// (for the alignment warnings). Returns the medium's error code when a read
// fails (the report is then incomplete), else ERROR_SUCCESS. A disk whose
// sector 0 holds no boot signature is RAW and has no findings.
std::uint32_t VerifyDisk(SectorReader& disk, Report& report, PhysicalSectors physical = {});

// Judges `layout` as IOCTL_DISK_SET_DRIVE_LAYOUT_EX, `inputSize` bytes of
// request, would have it written to `disk`: the codec's write path (the
// planners and its checks of what the disk holds) runs over `disk` without
// writing a sector, and `report` gets the problems that refuse the write,
// one per rule broken, naming the slots by their entry numbers. No finding
// means the write would go ahead. Returns the medium's error code when a
// read fails before the layout could be judged, else ERROR_SUCCESS.
std::uint32_t JudgeLayout(SectorReader& disk, const LayoutBuffer& layout, std::uint32_t inputSize, Report& report);

// The rule "too-many-entries", a warning: the table whose whole layout is
// `whole` (read into a record large enough for it) takes more entries than
// the 64 of the layout record that the windows and the entry operations
// work on, as a GPT of more than 64 partitions or an MBR chain of more than
// 15 EBRs does. Such a table is sound, but only whole-table commands (show,
// verify, backup, restore) can handle it; an edit is refused. The finding's
// text begins "more than 64 entries: " and names the count. nullopt when the
// table fits the record.
std::optional<Finding> CheckRecordLimit(const LayoutBuffer& whole);

// --- shared by the checks of each style ---

// Appends the findings on where the partitions lie: length zero, past the
// disk's end, outside the usable area, overlapping (an extended partition
// with the logical drives it holds excepted), logical drives outside the
// extended partition or not behind their EBR, and starts off the physical
// sectors or not on a 1 MiB boundary (warnings).
void CheckExtents(const std::vector<PartitionExtent>& partitions, const UsableArea& area, std::uint32_t sectorSize,
                  PhysicalSectors physical, std::vector<Finding>& out);

// Where a GPT header's signature stands, at sector 1 or at the disk's last
// sector (0: at neither), whatever sector 0 holds.
std::uint32_t FindGptHeader(SectorReader& disk, std::uint64_t& lba);

// The MBR checks and the GPT checks over a disk (see the .cpp files).
std::uint32_t CheckMbrDisk(SectorReader& disk, PhysicalSectors physical, std::vector<Finding>& out);
std::uint32_t CheckGptDisk(SectorReader& disk, PhysicalSectors physical, std::vector<Finding>& out);

}  // namespace kestrin::check
