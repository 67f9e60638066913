#include "TableBackup.h"

#include <algorithm>
#include <cstring>
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

// A GPT header at `lba` whose fields can be followed (checksums aside): its
// own array, and the other copy with its array. `largestArray` grows to the
// sectors of its array.
std::uint32_t addGptCopy(SectorReader& disk, std::uint64_t lba, std::set<std::uint64_t>& lbas,
                         std::uint64_t& largestArray) {
  std::vector<std::uint8_t> sector;
  if (std::uint32_t error = readOneSector(disk, lba, sector); error != ERROR_SUCCESS) return error;
  if (std::memcmp(sector.data(), gpt::kSignature, sizeof gpt::kSignature) != 0) return ERROR_SUCCESS;
  const std::uint64_t arrayBytes =
      std::uint64_t{readLe32(sector, gpt::kHeaderEntryCountOffset)} * readLe32(sector, gpt::kHeaderEntrySizeOffset);
  if (arrayBytes > gpt::kMaxArrayBytes) return ERROR_SUCCESS;
  const std::uint64_t arraySectors = (arrayBytes + disk.sectorSize() - 1) / disk.sectorSize();
  largestArray = std::max(largestArray, arraySectors);
  addRange(lbas, readLe64(sector, gpt::kHeaderEntryLbaOffset), arraySectors, disk.sectorCount());
  addRange(lbas, readLe64(sector, gpt::kHeaderAlternateLbaOffset), 1, disk.sectorCount());
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
  const std::uint64_t count = disk.sectorCount();
  const std::uint32_t sectorSize = disk.sectorSize();
  if (count == 0 || sectorSize < kMbrMinSectorSize) return ERROR_SUCCESS;
  std::set<std::uint64_t> lbas{0};
  // Where a GPT of the usual size lies: header and array after sector 0, and
  // array and header at the end.
  const std::uint64_t gptSectors = 1 + gpt::kMinArrayBytes / sectorSize;
  addRange(lbas, 1, gptSectors, count);
  addRange(lbas, count > gptSectors ? count - gptSectors : 0, gptSectors, count);
  if (count > 1) {
    std::uint64_t largestArray = 0;
    if (std::uint32_t error = addGptCopy(disk, gpt::kPrimaryHeaderLba, lbas, largestArray); error != ERROR_SUCCESS) {
      return error;
    }
    if (std::uint32_t error = addGptCopy(disk, count - 1, lbas, largestArray); error != ERROR_SUCCESS) return error;
    // A rewrite lays an array of that size out at both ends, also where the
    // header at one end cannot be read.
    addRange(lbas, 1, 1 + largestArray, count);
    addRange(lbas, count > 1 + largestArray ? count - 1 - largestArray : 0, 1 + largestArray, count);
  }
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) return error;
  if (HasMbrBootSignature(sector0) && !HasProtectiveEntry(sector0)) {
    if (std::uint32_t error = addEbrChain(disk, sector0, lbas); error != ERROR_SUCCESS) return error;
  }
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

std::uint32_t RestoreBackup(SectorDevice& disk, const TableBackup& backup, bool& partlyRestored) {
  partlyRestored = false;
  // Sector 0 and the primary header are what a reader looks at first: they
  // go last, so that until then the disk reads as it did, and afterwards
  // everything they lead to is already in place. Of a GPT, the copy at the
  // end goes first, each array before its header: while it is written the
  // primary still holds the old table, and once the primary's array follows,
  // a reader that finds it damaged falls back on the new backup. Every step
  // thus reads as the old table or the new one, never as none.
  const std::uint64_t half = disk.sectorCount() / 2;
  auto rank = [half](std::uint64_t lba) { return lba >= 2 ? (lba >= half ? 0 : 1) : lba == 1 ? 2 : 3; };
  std::vector<const SectorWrite*> order;
  for (const SectorWrite& sector : backup.sectors) order.push_back(&sector);
  std::stable_sort(order.begin(), order.end(),
                   [&](const SectorWrite* a, const SectorWrite* b) { return rank(a->lba) < rank(b->lba); });
  std::vector<SectorWrite> writes;
  std::vector<SectorWrite> undo;  // what the disk holds in each sector of `writes`
  std::vector<std::uint8_t> current;
  for (const SectorWrite* sector : order) {
    if (std::uint32_t error = readOneSector(disk, sector->lba, current); error != ERROR_SUCCESS) return error;
    if (current == sector->bytes) continue;
    writes.push_back(*sector);
    undo.push_back({sector->lba, current});
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
