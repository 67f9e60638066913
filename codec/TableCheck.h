#pragma once
// Checking a partition table and naming every problem it has: what a disk
// holds (VerifyDisk, over a sector reader) and what a layout record would
// write (VerifyLayout). Pure functions: they read sectors and never write.
//
// The checks are split by concern: ExtentCheck.cpp judges where the
// partitions lie (inside the disk and the usable area, not of length zero,
// not overlapping, logical drives inside their extended partition, aligned
// starts), MbrCheck.cpp the MBR and its EBR chain, GptCheck.cpp the two
// copies of a GPT and the MBR in front of it, TableCheck.cpp the layout
// record and the whole report. Each finding names the partition (or the structure) and the rule.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LayoutBuffer.h"
#include "SectorDevice.h"

namespace kestrin::check {

enum class Severity {
  Problem,  // the table is wrong: tools disagree on it or a write would refuse it
  Warning,  // the table is sound but unwise (a misaligned start)
};

struct Finding {
  Severity severity = Severity::Problem;
  // A short name of the rule, stable for scripts: "overlap", "past-end",
  // "outside-usable-area", "zero-length", "ends-before-start",
  // "outside-extended", "ebr-loop", "ebr-leaves-extended", "ebr-missing",
  // "ebr-inside-partition", "ebr-two-drives", "extended-twice", "gpt-primary-header",
  // "gpt-primary-array", "gpt-backup-header", "gpt-backup-array",
  // "gpt-backup-not-at-end", "gpt-copies-differ", "gpt-missing", "gpt-without-mbr",
  // "duplicate-guid", "protective-mbr-size", "hybrid-mbr", "misaligned", "mbr-limit", "protective-type",
  // "extended-in-place", "ebr-chain-cut", "gpt-small-array", "gpt-leftover", "gpt-behind-mbr", "boot-flag",
  // "past-table", "not-whole-sectors", "too-many-entries".
  std::string rule;
  // The partition the finding is about (0 for the disk or a structure): on a
  // disk the kernel's number (MBR primaries 1 to 4 by slot, logical drives
  // from 5 in chain order, GPT entries by their position in the array); in
  // a layout record the slot's entry number.
  int entry = 0;
  // One line for the user, naming the partition or structure and the rule.
  std::string text;
};

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

// Checks the header and the first PartitionCount slots of `layout` as a
// table for a disk of `sectorCount` sectors of `sectorSize` bytes, naming
// the slots by their entry numbers. Judges every slot, whether or not the
// disk already holds it; with the layout `onDisk` read from the disk, also
// the slots that would change between a partition and an extended
// partition in place.
Report VerifyLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                    const LayoutBuffer* onDisk = nullptr);

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

// A partition as the extent checks see it, in sectors.
struct PartitionExtent {
  enum class Kind { Primary, Extended, Logical, Gpt };
  Kind kind = Kind::Primary;
  int entry = 0;
  std::string name;  // "partition 5", "entry 6"
  std::uint64_t first = 0;
  std::uint64_t count = 0;  // 0: of length zero
  std::uint64_t ebr = 0;    // a logical drive's EBR
};

// The area partitions must lie in: [firstUsable, lastUsable] (the whole
// disk but sector 0 for an MBR disk, the usable area of a GPT).
struct UsableArea {
  std::uint64_t sectorCount = 0;
  std::uint64_t firstUsable = 1;
  std::uint64_t lastUsable = 0;
  bool gpt = false;
};

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
