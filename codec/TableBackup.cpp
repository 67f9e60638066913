#include "TableBackup.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "ByteOrder.h"
#include "ErrorCodes.h"
#include "GptTable.h"
#include "MbrCodec.h"
#include "MbrEntry.h"

namespace kestrin {

namespace {

constexpr char kMagic[8] = {'K', 'S', 'T', 'B', 'K', 'U', 'P', '1'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kChecksumSize = 4;
// A chain longer than any table holds is not followed further.
constexpr int kMaxEbrs = 4096;

void addRange(std::set<std::uint64_t>& lbas, std::uint64_t first, std::uint64_t count, std::uint64_t sectorCount) {
  for (std::uint64_t lba = first; lba < sectorCount && lba - first < count; ++lba) lbas.insert(lba);
}

// A header sector and its entry array.
void addCopy(std::set<std::uint64_t>& lbas, const gpt::Header& header, std::uint32_t sectorSize,
             std::uint64_t sectorCount) {
  addRange(lbas, header.myLba, 1, sectorCount);
  addRange(lbas, header.entryLba, header.arraySectors(sectorSize), sectorCount);
}

// The sectors of a GPT: each valid copy's header and array as the header
// describes them; a damaged copy where a rewrite puts it again, with the
// array of the valid one's size beside its header; on a disk grown since,
// the backup the primary names short of the end. Where neither copy is
// valid, the header sectors that still carry the signature, each with the
// array it describes when that lies beside it. Nothing else: the sectors
// around a small array, or where the backup of a larger one would lie, may
// belong to a partition.
std::uint32_t addGpt(SectorReader& disk, std::set<std::uint64_t>& lbas) {
  const std::uint32_t sectorSize = disk.sectorSize();
  const std::uint64_t count = disk.sectorCount();
  gpt::Table table;
  if (std::uint32_t error = gpt::readTable(disk, gpt::ReadMode::BothCopies, table); error != ERROR_SUCCESS) {
    return error;
  }
  if (count < 4) return ERROR_SUCCESS;
  const std::uint64_t lastLba = count - 1;
  std::vector<std::uint8_t> sector;
  if (const gpt::Copy* good = table.current()) {
    const gpt::Header& h = good->header;
    const std::uint64_t arraySectors = h.arraySectors(sectorSize);
    if (table.primary.valid) {
      addCopy(lbas, table.primary.header, sectorSize, count);
    } else {
      addRange(lbas, gpt::kPrimaryHeaderLba, 1, count);
      addRange(lbas, gpt::kPrimaryArrayLba, arraySectors, count);
    }
    if (table.backup.valid) {
      addCopy(lbas, table.backup.header, sectorSize, count);
      return ERROR_SUCCESS;
    }
    addRange(lbas, lastLba, 1, count);
    if (arraySectors < lastLba) addRange(lbas, lastLba - arraySectors, arraySectors, count);
    if (table.primary.valid && h.alternateLba > gpt::kPrimaryHeaderLba && h.alternateLba < lastLba) {
      if (std::uint32_t error = readOneSector(disk, h.alternateLba, sector); error != ERROR_SUCCESS) return error;
      gpt::Header moved;
      if (gpt::parseHeader(sector, h.alternateLba, count, moved)) addCopy(lbas, moved, sectorSize, count);
    }
    return ERROR_SUCCESS;
  }
  for (std::uint64_t lba : {gpt::kPrimaryHeaderLba, lastLba}) {
    if (std::uint32_t error = readOneSector(disk, lba, sector); error != ERROR_SUCCESS) return error;
    if (std::memcmp(sector.data(), gpt::kSignature, sizeof gpt::kSignature) != 0) continue;
    lbas.insert(lba);
    gpt::Header described;
    described.entryLba = readLe64(sector, gpt::kHeaderEntryLbaOffset);
    described.entryCount = readLe32(sector, gpt::kHeaderEntryCountOffset);
    described.entrySize = readLe32(sector, gpt::kHeaderEntrySizeOffset);
    if (described.arrayBytes() > gpt::kMaxArrayBytes) continue;
    const std::uint64_t arraySectors = described.arraySectors(sectorSize);
    const bool beside = lba == gpt::kPrimaryHeaderLba ? described.entryLba == gpt::kPrimaryArrayLba
                                                      : described.entryLba + arraySectors == lastLba;
    if (beside) addRange(lbas, described.entryLba, arraySectors, count);
  }
  return ERROR_SUCCESS;
}

std::uint32_t addEbrChain(SectorReader& disk, std::span<const std::uint8_t> sector0, std::set<std::uint64_t>& lbas) {
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const MbrEntry extended = readMbrEntry(sector0, i);
    if (!isMbrContainerType(extended.type) || extended.sectorCount == 0) continue;
    std::vector<std::uint8_t> sector;
    std::uint64_t lba = extended.startLba;
    for (int step = 0; step < kMaxEbrs && lba < disk.sectorCount() && lbas.insert(lba).second; ++step) {
      if (std::uint32_t error = readOneSector(disk, lba, sector); error != ERROR_SUCCESS) return error;
      std::optional<int> link = HasMbrBootSignature(sector) ? ebrLinkIndex(sector) : std::nullopt;
      if (!link) break;
      lba = std::uint64_t{extended.startLba} + readMbrEntry(sector, *link).startLba;
    }
    break;  // only the first extended partition has a chain
  }
  return ERROR_SUCCESS;
}

// Puts back what `undo` holds, last first, writing only the sectors that no
// longer hold it; false when one cannot be read or written.
bool putBack(SectorDevice& disk, std::span<const SectorWrite> undo) {
  std::vector<std::uint8_t> now;
  for (auto sector = undo.rbegin(); sector != undo.rend(); ++sector) {
    if (readOneSector(disk, sector->lba, now) != ERROR_SUCCESS) return false;
    if (now != sector->bytes && writeInOrder(disk, {*sector}) != ERROR_SUCCESS) return false;
  }
  return true;
}

}  // namespace

std::uint32_t TableSectors(SectorReader& disk, std::vector<std::uint64_t>& out) {
  out.clear();
  if (disk.sectorCount() == 0 || disk.sectorSize() < kMbrMinSectorSize) return ERROR_SUCCESS;
  std::set<std::uint64_t> lbas{0};
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) return error;
  const std::uint32_t error = HasMbrBootSignature(sector0) && !HasProtectiveEntry(sector0)
                                  ? addEbrChain(disk, sector0, lbas)
                                  : addGpt(disk, lbas);
  if (error != ERROR_SUCCESS) return error;
  out.assign(lbas.begin(), lbas.end());
  return ERROR_SUCCESS;
}

std::uint32_t ReadBackup(SectorReader& disk, const std::vector<std::uint64_t>& lbas, TableBackup& out) {
  out = TableBackup{disk.sectorSize(), disk.sectorCount(), {}};
  for (std::uint64_t lba : lbas) {
    SectorWrite sector{lba, {}};
    if (std::uint32_t error = readOneSector(disk, lba, sector.bytes); error != ERROR_SUCCESS) return error;
    out.sectors.push_back(std::move(sector));
  }
  return ERROR_SUCCESS;
}

std::vector<std::uint8_t> EncodeBackup(const TableBackup& backup) {
  std::vector<std::uint8_t> bytes(kHeaderSize + backup.sectors.size() * (8 + backup.sectorSize) + kChecksumSize, 0);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  writeLe32(bytes, 8, kVersion);
  writeLe32(bytes, 12, backup.sectorSize);
  writeLe64(bytes, 16, backup.sectorCount);
  writeLe32(bytes, 24, static_cast<std::uint32_t>(backup.sectors.size()));
  std::size_t at = kHeaderSize;
  for (const SectorWrite& sector : backup.sectors) {
    writeLe64(bytes, at, sector.lba);
    std::copy(sector.bytes.begin(), sector.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
    at += 8 + backup.sectorSize;
  }
  writeLe32(bytes, at, gpt::crc32Of(std::span<const std::uint8_t>(bytes).first(at)));
  return bytes;
}

std::optional<TableBackup> DecodeBackup(std::span<const std::uint8_t> bytes, std::string& error) {
  if (bytes.size() < kHeaderSize + kChecksumSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    error = "it is not a table backup of this program";
    return std::nullopt;
  }
  if (readLe32(bytes, 8) != kVersion) {
    error = "it is a table backup of an unknown version " + std::to_string(readLe32(bytes, 8));
    return std::nullopt;
  }
  TableBackup backup;
  backup.sectorSize = readLe32(bytes, 12);
  backup.sectorCount = readLe64(bytes, 16);
  const std::uint64_t count = readLe32(bytes, 24);
  const bool sizeKnown = isMbrSectorSize(backup.sectorSize) && (backup.sectorSize & (backup.sectorSize - 1)) == 0;
  if (!sizeKnown || kHeaderSize + count * (8 + backup.sectorSize) + kChecksumSize != bytes.size()) {
    error = "it is cut short or damaged (its length does not match its header)";
    return std::nullopt;
  }
  const std::size_t body = bytes.size() - kChecksumSize;
  if (gpt::crc32Of(bytes.first(body)) != readLe32(bytes, body)) {
    error = "it is damaged (its checksum does not match)";
    return std::nullopt;
  }
  std::size_t at = kHeaderSize;
  for (std::uint64_t i = 0; i < count; ++i, at += 8 + backup.sectorSize) {
    SectorWrite sector;
    sector.lba = readLe64(bytes, at);
    if (sector.lba >= backup.sectorCount || (!backup.sectors.empty() && sector.lba <= backup.sectors.back().lba)) {
      error = "its sectors are out of order or past the disk it was made for";
      return std::nullopt;
    }
    auto data = bytes.subspan(at + 8, backup.sectorSize);
    sector.bytes.assign(data.begin(), data.end());
    backup.sectors.push_back(std::move(sector));
  }
  return backup;
}

std::uint32_t PlanRestore(SectorReader& disk, const TableBackup& backup, std::vector<SectorWrite>& writes) {
  writes.clear();
  std::map<std::uint64_t, std::vector<std::uint8_t>> wanted;
  for (const SectorWrite& sector : backup.sectors) wanted[sector.lba] = sector.bytes;
  // A restored sector 0 that no longer stands for a GPT must not leave the
  // GPT the disk holds now behind it: its headers go, as they do when a
  // table of another kind replaces it. Only valid copies count, so that a
  // header inside a partition's data (a disk image kept there) stays.
  std::vector<std::uint8_t> sector0;
  if (auto restored = wanted.find(0); restored != wanted.end()) {
    sector0 = restored->second;
  } else if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) {
    return error;
  }
  if (!HasMbrBootSignature(sector0) || !HasProtectiveEntry(sector0)) {
    gpt::Table table;
    if (std::uint32_t error = gpt::readTable(disk, gpt::ReadMode::BothCopies, table); error != ERROR_SUCCESS) {
      return error;
    }
    for (const gpt::Copy* copy : {&table.primary, &table.backup}) {
      if (copy->valid) wanted.try_emplace(copy->header.myLba, disk.sectorSize(), std::uint8_t{0});
    }
  }
  // Sector 0 and the primary header are what a reader looks at first: they
  // go last, so that until then the disk reads as it did, and afterwards
  // everything they lead to is already in place. Of a GPT, the copy at the
  // end goes first, each array before its header: while it is written the
  // primary still holds the old table, and once the primary's array follows,
  // a reader that finds it damaged falls back on the new backup. Every step
  // thus reads as the old table or the new one, never as none.
  const std::uint64_t half = disk.sectorCount() / 2;
  auto rank = [half](std::uint64_t lba) { return lba >= 2 ? (lba >= half ? 0 : 1) : lba == 1 ? 2 : 3; };
  std::vector<std::uint8_t> current;
  for (auto& [lba, bytes] : wanted) {
    if (std::uint32_t error = readOneSector(disk, lba, current); error != ERROR_SUCCESS) return error;
    if (current != bytes) writes.push_back({lba, std::move(bytes)});
  }
  std::stable_sort(writes.begin(), writes.end(),
                   [&](const SectorWrite& a, const SectorWrite& b) { return rank(a.lba) < rank(b.lba); });
  return ERROR_SUCCESS;
}

std::uint32_t RestoreBackup(SectorDevice& disk, const TableBackup& backup, bool& partlyRestored) {
  partlyRestored = false;
  std::vector<SectorWrite> writes;
  if (std::uint32_t error = PlanRestore(disk, backup, writes); error != ERROR_SUCCESS) return error;
  std::vector<SectorWrite> undo;  // what the disk holds in each sector of `writes`
  for (const SectorWrite& sector : writes) {
    undo.push_back({sector.lba, {}});
    if (std::uint32_t error = readOneSector(disk, sector.lba, undo.back().bytes); error != ERROR_SUCCESS) return error;
  }
  for (std::size_t done = 0; done < writes.size(); ++done) {
    const std::uint32_t error = writeInOrder(disk, {writes[done]});
    if (error == ERROR_SUCCESS) continue;
    // The failed write itself may have reached the disk before its flush
    // failed: its sector is looked at too.
    partlyRestored = !putBack(disk, std::span<const SectorWrite>(undo).first(done + 1));
    return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
