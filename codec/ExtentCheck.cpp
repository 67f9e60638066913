// Where the partitions lie: inside the disk and its usable area, of some
// length, clear of each other, and aligned.

#include <string>

#include "TableCheck.h"

namespace kestrin::check {

namespace {

constexpr std::uint64_t kAlignmentBytes = 1024 * 1024;

std::string sectorRange(const PartitionExtent& p) {
  return "sectors " + std::to_string(p.first) + " to " + std::to_string(p.first + p.count - 1);
}

void problem(std::vector<Finding>& out, const char* rule, int entry, std::string text) {
  out.push_back({Severity::Problem, rule, entry, std::move(text)});
}

bool overlap(const PartitionExtent& a, const PartitionExtent& b) {
  return a.count > 0 && b.count > 0 && a.first < b.first + b.count && b.first < a.first + a.count;
}

// An extended partition holds its logical drives; everything else that
// shares a sector overlaps.
bool mayShare(const PartitionExtent& a, const PartitionExtent& b) {
  using Kind = PartitionExtent::Kind;
  return (a.kind == Kind::Extended && b.kind == Kind::Logical) || (a.kind == Kind::Logical && b.kind == Kind::Extended);
}

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
  for (const PartitionExtent& p : partitions) {
    if (p.count == 0) {
      problem(out, "zero-length", p.entry, p.name + " has length zero");
      continue;
    }
    const std::uint64_t last = p.first + p.count - 1;
    if (last >= area.sectorCount) {
      problem(out, "past-end", p.entry,
              p.name + " (" + sectorRange(p) + ") runs past the end of the disk (last sector " +
                  std::to_string(area.sectorCount - 1) + ")");
    } else if (p.first < area.firstUsable || last > area.lastUsable) {
      problem(out, area.gpt ? "outside-usable-area" : "past-end", p.entry,
              p.name + " (" + sectorRange(p) + ") lies outside the " + (area.gpt ? "GPT's usable area" : "disk") +
                  " (sectors " + std::to_string(area.firstUsable) + " to " + std::to_string(area.lastUsable) + ")");
    }
    if (p.kind == PartitionExtent::Kind::Logical) {
      if (extended == nullptr || p.first < extended->first || last >= extended->first + extended->count) {
        problem(out, "outside-extended", p.entry,
                p.name + " (" + sectorRange(p) + ") lies outside its extended partition" +
                    (extended ? " (" + sectorRange(*extended) + ")" : ""));
      } else if (p.first <= p.ebr) {
        problem(out, "outside-extended", p.entry,
                p.name + " starts at sector " + std::to_string(p.first) + ", not behind its EBR at sector " +
                    std::to_string(p.ebr));
      }
    }
    // An extended partition holds no data of its own: where it starts does
    // not matter.
    if (p.kind != PartitionExtent::Kind::Extended) checkAlignment(p, sectorSize, physical, out);
  }
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    for (std::size_t j = i + 1; j < partitions.size(); ++j) {
      const PartitionExtent& a = partitions[i];
      const PartitionExtent& b = partitions[j];
      if (!overlap(a, b) || mayShare(a, b)) continue;
      problem(out, "overlap", a.entry,
              a.name + " (" + sectorRange(a) + ") overlaps " + b.name + " (" + sectorRange(b) + ")");
    }
  }
}

}  // namespace kestrin::check
