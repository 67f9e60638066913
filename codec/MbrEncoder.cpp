// Writing an MBR layout record to the disk: sector 0's table and signature
// and the EBR chain of the extended partition.
//
// The layout is checked in full before anything is written
// (MbrPlan), and so is what the disk holds where the plan leaves a question
// open; a refusal names its reasons. Each table sector is then rebuilt from its current contents:
// only the table, the boot signature and, in sector 0, the disk signature
// change; boot code and every other byte stay. An entry whose meaning does
// not change keeps its bytes, and a sector whose contents do not change is
// not written, so rewriting one entry touches one sector.

#include "MbrEncoder.h"

#include <optional>
#include <vector>

#include "ErrorCodes.h"
#include "LayoutCodec.h"
#include "MbrCodec.h"
#include "MbrEntry.h"
#include "MbrPlan.h"
#include "MbrSectors.h"

namespace kestrin {

namespace {

// The new contents of a table sector: `current` with the four entries of
// `entries` and the boot signature. Where `current` already is a table (it
// has the boot signature), an entry with the same meaning keeps its bytes,
// CHS values and boot flag as another tool wrote them included (unless it
// is marked for rewriting and its boot byte is unsound), and so does an
// unused entry where the table has none.
std::vector<std::uint8_t> composeTable(const std::vector<std::uint8_t>& current, const PlannedTable& entries) {
  std::vector<std::uint8_t> updated = current;
  bool wasTable = HasMbrBootSignature(current);
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const PlannedEntry& planned = entries[static_cast<std::size_t>(i)];
    const MbrEntry there = readMbrEntry(current, i);
    if (wasTable && planned.entry.isUsed() && sameMbrEntryMeaning(there, planned.entry) &&
        (there.hasValidBootFlag() || !planned.rewrite)) {
      continue;
    }
    if (wasTable && !planned.entry.isUsed() && !there.isUsed()) continue;
    writeMbrEntry(updated, i, planned.entry, planned.absoluteStartLba);
  }
  writeU8(updated, kMbrBootSignatureOffset, 0x55);
  writeU8(updated, kMbrBootSignatureOffset + 1, 0xAA);
  return updated;
}

// True when `sector` reads as an EBR with entries: old logical drives, or
// old data that happens to end in the boot signature.
bool holdsEbrEntries(const std::vector<std::uint8_t>& sector) {
  return HasMbrBootSignature(sector) && (ebrLinkIndex(sector) || ebrHasLogicalDrive(sector));
}

// Adds the write of `lba` when `updated` differs from what is there.
void addIfChanged(std::vector<SectorWrite>& writes, std::uint64_t lba, const std::vector<std::uint8_t>& current,
                  std::vector<std::uint8_t> updated) {
  if (updated != current) writes.push_back({lba, std::move(updated)});
}

}  // namespace

std::uint32_t EncodeMbr(SectorDevice& medium, const LayoutBuffer& layout, check::Findings* why) {
  check::Findings unasked;
  check::Findings& findings = why != nullptr ? *why : unasked;
  const std::uint32_t sectorSize = medium.sectorSize();
  if (std::optional<check::Finding> finding = check::MbrSectorSize(sectorSize)) {
    findings.push_back(std::move(*finding));
    return ERROR_NOT_SUPPORTED;
  }
  // What the disk holds now: slots the layout leaves as they are there are
  // written back as they are, even where another tool left them unsound.
  LayoutBuffer onDisk;
  if (std::uint32_t error = DecodeLayout(medium, onDisk); error != ERROR_SUCCESS) return error;
  MbrPlan plan;
  if (std::uint32_t error = planMbrLayout(layout, sectorSize, medium.sectorCount(),
                                          onDisk.partitionStyle() == kStyleMbr ? &onDisk : nullptr, plan, findings);
      error != ERROR_SUCCESS) {
    return error;
  }

  // Everything is read and prepared before the first write. The writes go
  // out in the order that keeps the disk readable at every step: the EBRs
  // from the last to the first, each written before the link that leads to
  // it, and sector 0, which leads to the chain, at the end.
  std::vector<SectorWrite> writes;
  std::vector<std::uint8_t> current;
  for (auto ebr = plan.ebrs.rbegin(); ebr != plan.ebrs.rend(); ++ebr) {
    if (std::uint32_t error = readOneSector(medium, ebr->lba, current); error != ERROR_SUCCESS) return error;
    addIfChanged(writes, ebr->lba, current, composeTable(current, ebr->entries));
  }
  if (plan.openLinkTarget) {
    // A link with no EBR of the layout behind it is kept only where no EBR
    // is found at its end; otherwise the next read would show a chain that
    // this layout does not describe.
    if (std::uint32_t error = readOneSector(medium, *plan.openLinkTarget, current); error != ERROR_SUCCESS) {
      return error;
    }
    if (HasMbrBootSignature(current)) {
      findings.push_back(check::EbrUnexpected(plan.openLinkEntry, *plan.openLinkTarget));
      return ERROR_INVALID_PARAMETER;
    }
  }
  if (plan.hasExtended && plan.ebrs.empty()) {
    // An extended partition without logical drives: its first sector must
    // not read as an EBR with entries (old logical drives, or old data where
    // the extended partition is new). A chain the layout never saw (that of
    // a second extended partition, now the first) is not the layout's to
    // remove: such a write is refused.
    if (std::uint32_t error = readOneSector(medium, plan.extendedStart, current); error != ERROR_SUCCESS) return error;
    if (holdsEbrEntries(current)) {
      if (plan.extendedChainUnknown) {
        findings.push_back(check::ExtendedChainUnknown(plan.extendedEntry, plan.extendedStart));
        return ERROR_INVALID_PARAMETER;
      }
      if (plan.clearStaleEbr) addIfChanged(writes, plan.extendedStart, current, composeTable(current, {}));
    }
  }
  if (std::uint32_t error = readOneSector(medium, 0, current); error != ERROR_SUCCESS) return error;
  std::vector<std::uint8_t> sector0 = composeTable(current, plan.primaries);
  writeLe32(sector0, kMbrSignatureOffset, plan.signature);
  addIfChanged(writes, 0, current, std::move(sector0));

  return writeInOrder(medium, writes);
}

}  // namespace kestrin
