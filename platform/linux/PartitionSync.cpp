#include "PartitionSync.h"

#include <linux/blkpg.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <system_error>

#include "LayoutQueries.h"
#include "MbrEntry.h"
#include "SysfsFiles.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

constexpr std::int64_t kSysfsUnit = 512;
// The kernel keeps the first kilobyte (at least one sector) of an extended
// partition visible, room for a boot loader, and hides the rest.
constexpr std::int64_t kContainerMinimumVisible = 1024;

int blkpg(int fd, int operation, const KernelPartition& partition) {
  blkpg_partition record{};
  record.start = partition.start;
  record.length = partition.length;
  record.pno = partition.number;
  blkpg_ioctl_arg request{};
  request.op = operation;
  request.datalen = sizeof record;
  request.data = &record;
  return ::ioctl(fd, BLKPG, &request) == 0 ? 0 : errno;
}

int apply(int fd, const PartitionChange& change) {
  switch (change.kind) {
    case PartitionChange::Kind::Remove:
      return blkpg(fd, BLKPG_DEL_PARTITION, change.partition);
    case PartitionChange::Kind::Resize:
      return blkpg(fd, BLKPG_RESIZE_PARTITION, change.partition);
    case PartitionChange::Kind::Add:
      return blkpg(fd, BLKPG_ADD_PARTITION, change.partition);
  }
  return EINVAL;
}

}  // namespace

std::vector<KernelPartition> KernelPartitionsOfLayout(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  std::vector<KernelPartition> out;
  // Every slot of the record, which may be larger than the fixed one of 64:
  // the kernel learns of all partitions of a table of more than 64.
  const std::vector<int> numbers = KernelPartitionNumbers(layout);
  for (std::size_t entry = 1; entry < numbers.size(); ++entry) {
    if (numbers[entry] == 0) continue;
    ConstLayoutSlot slot = layout.slot(static_cast<int>(entry));
    KernelPartition partition{numbers[entry], slot.startingOffset(), slot.partitionLength(), false};
    if (layout.partitionStyle() == kStyleMbr && isMbrContainerType(slot.mbrPartitionType())) {
      partition.container = true;
      partition.length =
          std::min(partition.length, std::max(static_cast<std::int64_t>(sectorSize), kContainerMinimumVisible));
    }
    out.push_back(partition);
  }
  std::sort(out.begin(), out.end(),
            [](const KernelPartition& a, const KernelPartition& b) { return a.number < b.number; });
  // A damaged table could name one number twice; the kernel can hold only one.
  out.erase(std::unique(out.begin(), out.end(),
                        [](const KernelPartition& a, const KernelPartition& b) { return a.number == b.number; }),
            out.end());
  return out;
}

std::vector<KernelPartition> ReadKernelPartitions(const fs::path& diskDirectory) {
  std::vector<KernelPartition> out;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(diskDirectory, error)) {
    auto number = ReadSysfsNumber(entry.path() / "partition");
    if (!number) continue;
    auto start = ReadSysfsNumber(entry.path() / "start");
    auto size = ReadSysfsNumber(entry.path() / "size");
    if (!start || !size) continue;
    out.push_back({static_cast<int>(*number), static_cast<std::int64_t>(*start) * kSysfsUnit,
                   static_cast<std::int64_t>(*size) * kSysfsUnit, false});
  }
  std::sort(out.begin(), out.end(),
            [](const KernelPartition& a, const KernelPartition& b) { return a.number < b.number; });
  return out;
}

std::vector<PartitionChange> PlanPartitionChanges(const std::vector<KernelPartition>& current,
                                                  const std::vector<KernelPartition>& wanted) {
  std::map<int, KernelPartition> held;
  for (const KernelPartition& p : current) held[p.number] = p;
  std::map<int, KernelPartition> target;
  for (const KernelPartition& p : wanted) target[p.number] = p;

  std::vector<PartitionChange> removals, shrinks, dataGrowth, containerGrowth;
  auto grow = [&](PartitionChange change) {
    (change.partition.container ? containerGrowth : dataGrowth).push_back(change);
  };
  for (const auto& [number, now] : held) {
    auto found = target.find(number);
    if (found == target.end()) {
      removals.push_back({PartitionChange::Kind::Remove, now});
      continue;
    }
    const KernelPartition& then = found->second;
    if (then == now) continue;
    if (then.start != now.start) {
      removals.push_back({PartitionChange::Kind::Remove, now});
      grow({PartitionChange::Kind::Add, then});
    } else if (then.length < now.length) {
      shrinks.push_back({PartitionChange::Kind::Resize, then});
    } else {
      grow({PartitionChange::Kind::Resize, then});
    }
  }
  for (const auto& [number, then] : target) {
    if (held.count(number) == 0) grow({PartitionChange::Kind::Add, then});
  }
  std::vector<PartitionChange> plan;
  for (auto* part : {&removals, &shrinks, &dataGrowth, &containerGrowth}) {
    plan.insert(plan.end(), part->begin(), part->end());
  }
  return plan;
}

PartitionSyncReport SyncKernelPartitions(int fd, const fs::path& diskDirectory,
                                         const std::vector<KernelPartition>& wanted) {
  PartitionSyncReport report;
  report.rereadErrno = ::ioctl(fd, BLKRRPART) == 0 ? 0 : errno;
  std::vector<KernelPartition> current = ReadKernelPartitions(diskDirectory);
  if (current != wanted) {
    for (const PartitionChange& change : PlanPartitionChanges(current, wanted)) {
      int error = apply(fd, change);
      if (error == 0) {
        report.applied.push_back(change);
      } else {
        report.refused.push_back(change);
        report.refusedErrnos.push_back(error);
      }
    }
    current = ReadKernelPartitions(diskDirectory);
  }
  report.inLine = current == wanted;
  return report;
}

}  // namespace kestrin
