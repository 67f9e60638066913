// The entry points of the checks: a disk by its style, and a layout record
// as the codec would write it.

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
#include "OverlayDevice.h"

namespace kestrin::check {

namespace {

void problem(std::vector<Finding>& out, const char* rule, int entry, std::string text) {
  out.push_back({Severity::Problem, rule, entry, std::move(text)});
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

bool Report::hasProblems() const { return HasProblem(findings); }

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

std::uint32_t JudgeLayout(SectorReader& disk, const LayoutBuffer& layout, std::uint32_t inputSize, Report& report) {
  report = Report{};
  report.style = layout.partitionStyle() == kStyleMbr ? "MBR" : layout.partitionStyle() == kStyleGpt ? "GPT" : "RAW";
  // The write itself, into an overlay that keeps what it would write: its
  // refusal is the judgement, its findings the reasons.
  OverlayDevice trial(disk);
  const std::uint32_t error = EncodeLayout(trial, layout, inputSize, &report.findings);
  return error != ERROR_SUCCESS && report.findings.empty() ? error : ERROR_SUCCESS;
}

}  // namespace kestrin::check
