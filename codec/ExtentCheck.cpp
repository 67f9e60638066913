// Where the partitions lie: inside the disk and its usable area, of some
// length, clear of each other, and aligned.

#include <optional>
#include <string>

#include "TableCheck.h"

namespace kestrin::check {

namespace {

constexpr std::uint64_t kAlignmentBytes = 1024 * 1024;

// A start off the physical sectors is the costlier fault and named first; a
// start on a 1 MiB boundary is on them unless the drive shifts its sectors.
void checkAlignment(const PartitionExtent& p, std::uint32_t sectorSize, PhysicalSectors physical,
                    std::vector<Finding>& out) {
  const std::uint64_t startByte = p.first * sectorSize;
  const std::string starts = p.name + " starts at sector " + std::to_string(p.first);
  if (physical.size > sectorSize) {
    const std::uint32_t offset = physical.alignmentOffset % physical.size;
    if (startByte % physical.size != offset) {
      out.push_back({Severity::Warning, "misaligned", p.entry,
                     starts + ", not on a physical sector (" + std::to_string(physical.size) + " bytes" +
                         (offset != 0 ? ", the first at byte " + std::to_string(offset) : std::string()) + ")"});
      return;
    }
  }
  if (startByte % kAlignmentBytes != 0) {
    out.push_back({Severity::Warning, "misaligned", p.entry, starts + ", not on a 1 MiB boundary"});
  }
}

}  // namespace

void CheckExtents(const std::vector<PartitionExtent>& partitions, const UsableArea& area, std::uint32_t sectorSize,
                  PhysicalSectors physical, std::vector<Finding>& out) {
  const PartitionExtent* extended = nullptr;
  for (const PartitionExtent& p : partitions) {
    if (p.kind == PartitionExtent::Kind::Extended && extended == nullptr && p.count > 0) extended = &p;
  }
  auto add = [&out](std::optional<Finding> finding) {
    if (finding) out.push_back(std::move(*finding));
  };
  for (const PartitionExtent& p : partitions) {
    if (p.count == 0) {
      add(ZeroLength(p));
      continue;
    }
    JudgePlace(p, area, out);
    if (p.kind == PartitionExtent::Kind::Logical) add(OutsideExtended(p, extended));
    // An extended partition holds no data of its own: where it starts does
    // not matter.
    if (p.kind != PartitionExtent::Kind::Extended) checkAlignment(p, sectorSize, physical, out);
  }
  // A partition of length zero is named by its own rule alone.
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    for (std::size_t j = i + 1; j < partitions.size(); ++j) {
      if (partitions[i].count > 0 && partitions[j].count > 0) add(Overlap(partitions[i], partitions[j]));
    }
  }
}

}  // namespace kestrin::check
