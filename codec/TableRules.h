#pragma once
// The rule book: every rule that decides whether a partition table may be
// written, and whether the one on a disk is sound, as one function that
// returns its finding. The planners (MbrPlan, GptPlan) refuse a layout with
// these findings, and the checks of a disk (TableCheck.h) name the same
// faults with the same functions, so that a refusal and verify's line read
// alike and a rule is changed in one place.
//
// A function that returns std::optional<Finding> holds its rule's test and
// gives nullopt when the rule holds; one that returns a Finding names a
// fault its caller found (a walk of the chain, the plan of a write).
// Entries are named as the caller names them (PartitionExtent::name): "entry
// 6" in a layout record, "partition 5" on a disk.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  // "extended-in-place", "ebr-chain-cut", "ebr-no-room", "gpt-small-array", "gpt-leftover", "gpt-behind-mbr",
  // "boot-flag", "past-table", "not-whole-sectors", "too-many-entries", "ebr-unexpected", "extended-chain-unknown",
  // "gpt-other-usable-area", "gpt-geometry", "gpt-no-disk-id", "layout-record", "sector-size".
  std::string rule;
  // The partition the finding is about (0 for the disk or a structure): on a
  // disk the kernel's number (MBR primaries 1 to 4 by slot, logical drives
  // from 5 in chain order, GPT entries by their position in the array); in
  // a layout record the slot's entry number.
  int entry = 0;
  // One line for the user, naming the partition or structure and the rule.
  std::string text;
};

using Findings = std::vector<Finding>;

// True when one of `findings` is a problem (warnings alone leave a table clean).
bool HasProblem(const Findings& findings);

// A partition as the rules see it, in sectors.
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
// disk but sector 0, which holds the MBR, for an MBR disk; the usable area
// of a GPT).
struct UsableArea {
  std::uint64_t sectorCount = 0;
  std::uint64_t firstUsable = 1;
  std::uint64_t lastUsable = 0;
  bool gpt = false;
};

// --- where a partition lies, in a layout and on a disk ---

// "zero-length": a partition of no sectors.
std::optional<Finding> ZeroLength(const PartitionExtent& p);
// "past-end" when a partition of some length runs past the disk's last
// sector; else "outside-usable-area" when it leaves a GPT's usable area;
// "overlap" when it covers an MBR disk's sector 0. Appends each to `out`.
void JudgePlace(const PartitionExtent& p, const UsableArea& area, Findings& out);
// "overlap": two partitions share a sector, the extended partition and the
// logical drives it holds excepted. A partition of length zero shares the
// sector it starts at when that lies inside the other; the disk's checks
// leave such a partition to ZeroLength.
std::optional<Finding> Overlap(const PartitionExtent& a, const PartitionExtent& b);
// "outside-extended": a logical drive outside its extended partition (null:
// there is none), or not behind its EBR.
std::optional<Finding> OutsideExtended(const PartitionExtent& logical, const PartitionExtent* extended);
// "ebr-inside-partition": partition `p` covers the EBR at `ebr`, where data
// written to it would overwrite the chain. An extended partition holds EBRs.
std::optional<Finding> EbrInsidePartition(const PartitionExtent& p, std::uint64_t ebr);
// "ebr-leaves-extended": the link in the EBR at `ebr` leads to `link`
// (sectors from its start), which is not inside `extended` behind its first
// sector. `linkName` names the link's slot, or is empty on a disk. The walk
// of a disk's chain also stops at a link of no sectors that leads just past
// the extended partition; a plan keeps such a link as the disk has it.
Finding EbrLeavesExtended(std::uint64_t ebr, const PartitionExtent& link, const PartitionExtent& extended,
                          const std::string& linkName = {});
// "ebr-loop": the EBR at `ebr` holds more than one link (`linkName` names
// the second one's slot, or is empty on a disk).
Finding EbrSecondLink(std::uint64_t ebr, int entry = 0, const std::string& linkName = {});
// "ebr-loop": the link in the EBR at `from` leads back to the EBR at `to`.
Finding EbrLoop(std::uint64_t from, std::uint64_t to, int entry = 0, const std::string& linkName = {});
// "extended-twice": more than one extended partition (`containers`, at least
// two, in slot order); only the first one's logical drives count. The
// finding is about `entry`, one of them.
Finding ExtendedTwice(const std::vector<PartitionExtent>& containers, int entry);
// "gpt-missing": a disk too small (or of sectors too small) for a GPT.
std::optional<Finding> TooSmallForGpt(std::uint32_t sectorSize, std::uint64_t sectorCount);

// --- what a layout record may ask to be written ---

// "layout-record": the record counts more entries than its slots.
std::optional<Finding> TooManySlots(std::uint32_t partitionCount);
// "layout-record": the request's `inputSize` bytes are fewer than its count
// of slots takes.
std::optional<Finding> RecordTooShort(std::uint32_t partitionCount, std::uint32_t inputSize);
// "layout-record": a style other than MBR and GPT cannot be written as a table.
Finding LayoutStyleNotWritable(std::uint32_t style);
// "not-whole-sectors": a slot's offset or length is negative or not a whole
// number of `sectorSize`-byte sectors.
std::optional<Finding> NotWholeSectors(const std::string& name, int entry, std::int64_t offset, std::int64_t length,
                                       std::uint32_t sectorSize);
// "sector-size": an MBR needs sectors of 512 to 65536 bytes.
std::optional<Finding> MbrSectorSize(std::uint32_t sectorSize);
// "mbr-limit": a start or size beyond an MBR entry's 32-bit sector fields.
std::optional<Finding> MbrLimit(const PartitionExtent& p);
// "protective-type": a primary of type 0xEE makes the disk read as GPT.
std::optional<Finding> ProtectiveType(const PartitionExtent& p, std::uint8_t type);
// "extended-in-place": a slot that keeps its start on the disk but turns
// from a partition into an extended partition or back (`typeWas` to `typeNow`).
std::optional<Finding> ExtendedInPlace(int entry, std::uint8_t typeWas, std::uint8_t typeNow);
// "outside-extended": a used slot of an EBR's group in a layout without an
// extended partition.
Finding GroupWithoutExtended(int entry);
// "ebr-two-drives": logical drive `p` added to an EBR beside `other`.
Finding EbrTwoDrives(const PartitionExtent& p, const std::string& other);
// "ebr-missing": the last group's new or changed link (slot `entry`) leads
// to an EBR at `target` that the layout does not describe.
Finding EbrNotInLayout(int entry, std::uint64_t target);
// "ebr-chain-cut": a used slot of a group that no link reaches.
Finding EbrChainCut(int entry);
// "ebr-no-room": new logical drive `p` cannot be given its EBR: `why` says
// what stands in the way (the sector before it is taken, the EBR before it
// has no free entry for the link).
Finding EbrNoRoom(const PartitionExtent& p, const std::string& why);
// "ebr-unexpected": the last group's link (slot `entry`) is kept where the
// disk's chain ended, but the sector it leads to now reads as an EBR.
Finding EbrUnexpected(int entry, std::uint64_t target);
// "extended-chain-unknown": the extended partition in slot `entry` was a
// second one on the disk; the chain at its start is not the layout's.
Finding ExtendedChainUnknown(int entry, std::uint64_t start);
// "gpt-other-usable-area": the layout's usable area is not the disk's.
Finding GptOtherUsableArea(std::uint64_t firstUsable, std::uint64_t lastUsable);
// "gpt-geometry": the GPT's headers, arrays and usable area (a new table's
// from the layout's header) cannot be laid out on the disk; `why` says how.
Finding GptGeometry(const std::string& why);
// "gpt-no-disk-id": a GPT needs a disk GUID.
Finding GptNoDiskId();
// "past-table": the layout's `used` partitions (with the entries the disk
// keeps outside its sectors) do not fit the array of `entryCount` entries.
Finding PastTable(std::size_t used, std::uint32_t entryCount);

}  // namespace kestrin::check
