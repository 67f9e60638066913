#pragma once
// Bringing the kernel's partition list of a disk in line with a partition
// table just written. The kernel is first asked to re-read the table
// (BLKRRPART). That fails while a partition of the disk is in use, and a
// kernel may not read every table style, so the list it then holds (from
// sysfs) is compared with the partitions of the decoded layout and the
// difference is applied partition by partition with BLKPG: removals first,
// then shrinking resizes, then growing resizes and additions.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "LayoutBuffer.h"

namespace kestrin {

// One partition as the kernel numbers it, in bytes.
struct KernelPartition {
  int number = 0;
  std::int64_t start = 0;
  std::int64_t length = 0;
  // An MBR extended partition: the kernel shows only its first sector(s),
  // and it is added after the data partitions so that it never stands in
  // the way of a logical drive.
  bool container = false;

  // Equal when the kernel would hold the same partition: number, start and
  // length (the container mark is the table's knowledge, not the kernel's).
  bool operator==(const KernelPartition& other) const {
    return number == other.number && start == other.start && length == other.length;
  }
};

// The partitions the kernel should hold for `layout` on a disk of
// `sectorSize`-byte sectors, ordered by number.
// - GPT: each used entry (non-zero type) under its array position, which
//   the decoder reports as the slot's PartitionNumber.
// - MBR: primary slot k (1 .. 4) is partition k; the logical drives of the
//   EBR groups are numbered from 5 in chain order (and in table order within
//   an EBR); the links between EBRs are no partitions. An extended partition is shown by the kernel with a
//   length of max(sectorSize, 1024) bytes (less when it is smaller), as the
//   kernel's own table reader does.
// - RAW: none.
// Slots with a zero type or no length are no partition.
std::vector<KernelPartition> KernelPartitionsOfLayout(const LayoutBuffer& layout, std::uint32_t sectorSize);

// The partitions the kernel holds for the disk whose sysfs directory is
// `diskDirectory`: every subdirectory with a "partition" attribute, with its
// "start" and "size" (in 512-byte units whatever the sector size), ordered
// by number.
std::vector<KernelPartition> ReadKernelPartitions(const std::filesystem::path& diskDirectory);

struct PartitionChange {
  enum class Kind { Remove, Resize, Add };
  Kind kind;
  KernelPartition partition;  // as it is to be afterwards (Remove: as it was)

  bool operator==(const PartitionChange& other) const = default;
};

// The BLKPG changes that turn `current` into `wanted`, in the order they
// must be made: removals; resizes that shrink; then data partitions added or
// grown; then extended partitions added or grown. A partition that moves
// (another start) is removed and added again; the kernel resizes only in
// place.
std::vector<PartitionChange> PlanPartitionChanges(const std::vector<KernelPartition>& current,
                                                  const std::vector<KernelPartition>& wanted);

// What a synchronisation did, for the tests and for diagnostics; the stack
// itself ignores it, as the system ignores the result of a property update.
struct PartitionSyncReport {
  int rereadErrno = 0;                   // 0 when BLKRRPART succeeded
  std::vector<PartitionChange> applied;  // BLKPG requests that succeeded
  std::vector<PartitionChange> refused;  // those the kernel refused
  std::vector<int> refusedErrnos;        // errno of each refused one
  bool inLine = false;                   // the kernel's list equals `wanted` afterwards
};

// Re-reads the partition table of the whole disk open on `fd` and, where
// the kernel's list then differs from `wanted`, applies the changes of
// PlanPartitionChanges. A request the kernel refuses (a partition in use
// cannot be removed) does not stop the others.
PartitionSyncReport SyncKernelPartitions(int fd, const std::filesystem::path& diskDirectory,
                                         const std::vector<KernelPartition>& wanted);

}  // namespace kestrin
