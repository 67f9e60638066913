// An MBR disk: its four primary entries and the EBR chain of its extended
// partition, walked as the kernel walks it (numbers from 5 in chain order)
// but without stopping at the first fault, so that every fault is named.

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "ByteOrder.h"
#include "ErrorCodes.h"
#include "GptTable.h"
#include "MbrCodec.h"
#include "MbrEntry.h"
#include "MbrSectors.h"
#include "TableCheck.h"

namespace kestrin::check {

namespace {

// More EBRs than any table holds: the walk stops here whatever the chain says.
constexpr int kMaxChainLength = 4096;

void problem(std::vector<Finding>& out, const char* rule, int entry, std::string text) {
  out.push_back({Severity::Problem, rule, entry, std::move(text)});
}

std::string sectorText(std::uint64_t lba) { return "sector " + std::to_string(lba); }

// Walks the chain of `extended` (number `extendedEntry`), appending the
// logical drives to `partitions` and the EBR sectors to `ebrs`.
std::uint32_t walkChain(SectorReader& disk, const PartitionExtent& extended, std::vector<PartitionExtent>& partitions,
                        std::vector<std::uint64_t>& ebrs, std::vector<Finding>& out) {
  const std::uint64_t start = extended.first;
  const std::uint64_t end = extended.first + extended.count;
  std::set<std::uint64_t> visited;
  std::vector<std::uint8_t> sector;
  std::uint64_t lba = start;
  int nextNumber = 5;
  for (int step = 0; step < kMaxChainLength; ++step) {
    if (lba >= disk.sectorCount()) {
      problem(out, "ebr-missing", 0, "the EBR at " + sectorText(lba) + " lies past the end of the disk");
      return ERROR_SUCCESS;
    }
    if (std::uint32_t error = readOneSector(disk, lba, sector); error != ERROR_SUCCESS) return error;
    if (!HasMbrBootSignature(sector)) {
      // An empty extended partition may hold no EBR at all; a link must lead to one.
      if (step > 0) problem(out, "ebr-missing", 0, "the link to " + sectorText(lba) + " leads to no EBR");
      return ERROR_SUCCESS;
    }
    visited.insert(lba);
    ebrs.push_back(lba);
    std::optional<int> link;
    for (int i = 0; i < kMbrEntryCount; ++i) {
      const MbrEntry entry = readMbrEntry(sector, i);
      if (!entry.isUsed()) continue;
      if (isMbrContainerType(entry.type)) {
        if (link) {
          out.push_back(EbrSecondLink(lba));
        } else {
          link = i;
        }
        continue;
      }
      const int number = nextNumber++;
      PartitionExtent logical{PartitionExtent::Kind::Logical,
                              number,
                              "partition " + std::to_string(number),
                              lba + entry.startLba,
                              entry.sectorCount,
                              lba};
      partitions.push_back(logical);
    }
    if (!link) return ERROR_SUCCESS;
    const MbrEntry next = readMbrEntry(sector, *link);
    const std::uint64_t target = start + next.startLba;
    if (visited.count(target) != 0) {
      out.push_back(EbrLoop(lba, target));
      return ERROR_SUCCESS;
    }
    if (target <= start || target >= end || next.startLba + std::uint64_t{next.sectorCount} > extended.count) {
      out.push_back(EbrLeavesExtended(
          lba, PartitionExtent{PartitionExtent::Kind::Extended, 0, "", target, next.sectorCount, 0}, extended));
      if (target <= start || target >= end) return ERROR_SUCCESS;
    }
    lba = target;
  }
  problem(out, "ebr-loop", 0, "the EBR chain is longer than " + std::to_string(kMaxChainLength) + " EBRs");
  return ERROR_SUCCESS;
}

std::string hexByte(std::uint8_t value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0x0F];
}

// A valid GPT behind an MBR without a protective entry: sgdisk reads the
// GPT (taking the MBR for a hybrid one), the kernel, sfdisk and parted the
// MBR. Where an MBR partition mirrors no GPT partition the two disagree on
// what the disk holds.
std::uint32_t checkGptBehind(SectorReader& disk, const std::vector<PartitionExtent>& partitions, bool& disagrees,
                             std::vector<Finding>& out) {
  disagrees = false;
  gpt::Table table;
  if (std::uint32_t error = gpt::readTable(disk, gpt::ReadMode::FirstValid, table); error != ERROR_SUCCESS) {
    return error;
  }
  const gpt::Copy* copy = table.current();
  if (copy == nullptr) return ERROR_SUCCESS;
  const gpt::Header& h = copy->header;
  for (const PartitionExtent& p : partitions) {
    if (p.kind == PartitionExtent::Kind::Logical || p.count == 0) continue;
    bool mirrored = false;
    for (std::uint32_t index = 0; index < h.entryCount && !mirrored; ++index) {
      auto entry = gpt::entryAt(copy->array, h.entrySize, index);
      mirrored = gpt::isUsedEntry(entry) && readLe64(entry, gpt::kEntryFirstLbaOffset) == p.first &&
                 readLe64(entry, gpt::kEntryLastLbaOffset) + 1 == p.first + p.count;
    }
    if (mirrored) continue;
    disagrees = true;
    problem(out, "gpt-behind-mbr", p.entry,
            "a valid GPT lies behind this MBR, which has no protective entry, and " + p.name + " (sectors " +
                std::to_string(p.first) + " to " + std::to_string(p.first + p.count - 1) +
                ") mirrors no GPT partition: sgdisk reads the GPT, the kernel, sfdisk and parted the MBR");
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t CheckMbrDisk(SectorReader& disk, PhysicalSectors physical, std::vector<Finding>& out) {
  if (!isMbrSectorSize(disk.sectorSize())) return ERROR_NOT_SUPPORTED;
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) return error;
  std::vector<PartitionExtent> partitions;
  std::vector<PartitionExtent> containers;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const MbrEntry entry = readMbrEntry(sector0, i);
    if (!entry.hasValidBootFlag()) {
      problem(out, "boot-flag", i + 1,
              (entry.isUsed() ? "partition " : "the unused entry ") + std::to_string(i + 1) + " has the boot byte " +
                  hexByte(entry.bootFlag) +
                  ", neither 0x00 nor 0x80: the kernel, blkid, partx and parted then see no partition table");
    }
    if (!entry.isUsed()) continue;
    const bool container = isMbrContainerType(entry.type);
    partitions.push_back({container ? PartitionExtent::Kind::Extended : PartitionExtent::Kind::Primary, i + 1,
                          "partition " + std::to_string(i + 1), entry.startLba, entry.sectorCount, 0});
    if (container) containers.push_back(partitions.back());
  }
  if (containers.size() > 1) out.push_back(ExtendedTwice(containers, containers[1].entry));
  std::vector<std::uint64_t> ebrs;
  auto extended = std::find_if(partitions.begin(), partitions.end(), [](const PartitionExtent& p) {
    return p.kind == PartitionExtent::Kind::Extended && p.count > 0;
  });
  if (extended != partitions.end()) {
    const PartitionExtent chainOf = *extended;
    if (std::uint32_t error = walkChain(disk, chainOf, partitions, ebrs, out); error != ERROR_SUCCESS) return error;
  }
  const std::uint64_t count = disk.sectorCount();
  CheckExtents(partitions, UsableArea{count, 1, count > 0 ? count - 1 : 0, false}, disk.sectorSize(), physical, out);
  std::uint64_t leftover = 0;
  if (std::uint32_t error = FindGptHeader(disk, leftover); error != ERROR_SUCCESS) return error;
  bool gptDisagrees = false;
  if (leftover != 0) {
    if (std::uint32_t error = checkGptBehind(disk, partitions, gptDisagrees, out); error != ERROR_SUCCESS) return error;
  }
  if (leftover != 0 && !gptDisagrees) {
    out.push_back({Severity::Warning, "gpt-leftover", 0,
                   "a GPT header is left at " + sectorText(leftover) +
                       " behind this MBR: tools that look for a GPT may take it for the disk's table"});
  }
  // Data written into a partition would overwrite an EBR inside it.
  for (std::uint64_t ebr : ebrs) {
    for (const PartitionExtent& p : partitions) {
      if (std::optional<Finding> finding = EbrInsidePartition(p, ebr)) out.push_back(std::move(*finding));
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin::check
