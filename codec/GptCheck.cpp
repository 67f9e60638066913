// A GPT disk: each copy of the header and of the entry array on its own,
// where the backup lies, whether the two copies agree, the entries of the
// copy a reader believes, and the MBR in front of it (protective or hybrid).

#include <cstring>
#include <optional>
#include <string>

#include "ByteOrder.h"
#include "ErrorCodes.h"
#include "GptTable.h"
#include "MbrCodec.h"
#include "MbrEntry.h"
#include "MbrSectors.h"
#include "ProtectiveMbr.h"
#include "TableCheck.h"

namespace kestrin::check {

using namespace gpt;

namespace {

void problem(std::vector<Finding>& out, const char* rule, int entry, std::string text) {
  out.push_back({Severity::Problem, rule, entry, std::move(text)});
}

std::string sectorText(std::uint64_t lba) { return "sector " + std::to_string(lba); }

// One copy of the table as found at a header sector.
struct CopyState {
  std::optional<Header> header;  // set when the header passed every check
  std::string headerFault;       // why it did not
  bool arrayValid = false;
  std::vector<std::uint8_t> array;
  bool valid() const { return header && arrayValid; }
};

std::string headerFault(std::span<const std::uint8_t> sector) {
  if (std::memcmp(sector.data() + kHeaderSignatureOffset, kSignature, sizeof kSignature) != 0) {
    return "holds no GPT header (no signature)";
  }
  const std::uint32_t size = readLe32(sector, kHeaderSizeOffset);
  if (size < kHeaderMinSize || size > sector.size()) return "declares an impossible header size";
  std::vector<std::uint8_t> covered(sector.begin(), sector.begin() + size);
  writeLe32(covered, kHeaderCrcOffset, 0);
  if (crc32Of(covered) != readLe32(sector, kHeaderCrcOffset)) return "does not match its header CRC";
  return "has fields out of range (its own position, the entry array or the usable area)";
}

std::uint32_t examineCopy(SectorReader& disk, std::uint64_t lba, CopyState& state) {
  state = CopyState{};
  std::vector<std::uint8_t> sector;
  if (std::uint32_t error = readOneSector(disk, lba, sector); error != ERROR_SUCCESS) return error;
  Header header;
  if (!parseHeader(sector, lba, disk.sectorCount(), header)) {
    state.headerFault = headerFault(sector);
    return ERROR_SUCCESS;
  }
  state.header = header;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(header.arraySectors(disk.sectorSize()) * disk.sectorSize()));
  if (std::uint32_t error = disk.readSectors(header.entryLba, raw); error != ERROR_SUCCESS) return error;
  raw.resize(static_cast<std::size_t>(header.arrayBytes()));
  state.arrayValid = crc32Of(raw) == header.arrayCrc;
  state.array = std::move(raw);
  return ERROR_SUCCESS;
}

void reportCopy(const CopyState& copy, const char* which, std::uint64_t lba, std::vector<Finding>& out) {
  const std::string rule = std::string("gpt-") + which;
  if (!copy.header) {
    problem(out, (rule + "-header").c_str(), 0,
            std::string("the ") + which + " GPT header at " + sectorText(lba) + " " + copy.headerFault);
    return;
  }
  if (!copy.arrayValid) {
    const Header& h = *copy.header;
    problem(out, (rule + "-array").c_str(), 0,
            std::string("the ") + which + " GPT entry array (from " + sectorText(h.entryLba) +
                ") does not match the CRC in its header");
  }
}

void compareCopies(const CopyState& primary, const CopyState& backup, std::uint64_t backupLba,
                   std::vector<Finding>& out) {
  const Header& p = *primary.header;
  const Header& b = *backup.header;
  std::string differs;
  auto field = [&](bool same, const char* name) {
    if (!same) differs += (differs.empty() ? "" : ", ") + std::string(name);
  };
  field(p.diskId == b.diskId, "disk GUID");
  field(p.firstUsableLba == b.firstUsableLba, "first usable sector");
  field(p.lastUsableLba == b.lastUsableLba, "last usable sector");
  field(p.entryCount == b.entryCount && p.entrySize == b.entrySize, "entry count or size");
  field(p.alternateLba == backupLba && b.alternateLba == kPrimaryHeaderLba, "pointers to each other");
  field(primary.array == backup.array, "entries");
  if (!differs.empty()) problem(out, "gpt-copies-differ", 0, "the primary and backup GPT differ in: " + differs);
}

void checkEntries(const CopyState& copy, SectorReader& disk, PhysicalSectors physical, std::vector<Finding>& out) {
  const Header& h = *copy.header;
  std::vector<PartitionExtent> partitions;
  std::vector<std::pair<int, Guid>> ids;
  for (std::uint32_t index = 0; index < h.entryCount; ++index) {
    auto entry = entryAt(copy.array, h.entrySize, index);
    if (!isUsedEntry(entry)) continue;
    const int number = static_cast<int>(index + 1);
    const std::string name = "partition " + std::to_string(number);
    const std::uint64_t first = readLe64(entry, kEntryFirstLbaOffset);
    const std::uint64_t last = readLe64(entry, kEntryLastLbaOffset);
    const Guid id = readGuidAt(entry, kEntryUniqueGuidOffset);
    for (const auto& [other, otherId] : ids) {
      if (otherId == id) {
        problem(out, "duplicate-guid", number,
                name + " has the same unique GUID as partition " + std::to_string(other));
      }
    }
    ids.emplace_back(number, id);
    if (first > last) {
      problem(out, "ends-before-start", number,
              name + " ends (" + sectorText(last) + ") before it starts (" + sectorText(first) + ")");
      continue;
    }
    partitions.push_back({PartitionExtent::Kind::Gpt, number, name, first, last - first + 1, 0});
  }
  CheckExtents(partitions, UsableArea{disk.sectorCount(), h.firstUsableLba, h.lastUsableLba, true}, disk.sectorSize(),
               physical, out);
}

// The MBR in front of the GPT: a plain protective MBR covers the disk from
// sector 1; a hybrid one's other entries each mirror a GPT partition.
void checkProtectiveMbr(std::span<const std::uint8_t> sector0, const CopyState& copy, std::uint64_t sectorCount,
                        std::vector<Finding>& out) {
  int used = 0;
  for (int i = 0; i < kMbrEntryCount; ++i) used += readMbrEntry(sector0, i).isUsed() ? 1 : 0;
  const Header& h = *copy.header;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const MbrEntry entry = readMbrEntry(sector0, i);
    if (!entry.isUsed()) continue;
    for (int j = i + 1; j < kMbrEntryCount; ++j) {
      const MbrEntry other = readMbrEntry(sector0, j);
      if (other.isUsed() && entry.startLba < std::uint64_t{other.startLba} + other.sectorCount &&
          other.startLba < std::uint64_t{entry.startLba} + entry.sectorCount) {
        problem(
            out, "hybrid-mbr", i + 1,
            "MBR entries " + std::to_string(i + 1) + " and " + std::to_string(j + 1) + " in front of the GPT overlap");
      }
    }
    if (entry.type == kMbrTypeProtectiveGpt) {
      const std::uint64_t expected = protectiveSize(sectorCount);
      if (used == 1 && (entry.startLba != kPrimaryHeaderLba || entry.sectorCount != expected)) {
        problem(out, "protective-mbr-size", 0,
                "the protective MBR covers " + std::to_string(entry.sectorCount) + " sectors from " +
                    sectorText(entry.startLba) + ", but the disk has " + std::to_string(expected) +
                    " sectors after sector 0");
      }
      continue;
    }
    bool mirrors = false;
    for (std::uint32_t index = 0; index < h.entryCount && !mirrors; ++index) {
      auto gptEntry = entryAt(copy.array, h.entrySize, index);
      mirrors = isUsedEntry(gptEntry) && readLe64(gptEntry, kEntryFirstLbaOffset) == entry.startLba &&
                readLe64(gptEntry, kEntryLastLbaOffset) + 1 == std::uint64_t{entry.startLba} + entry.sectorCount;
    }
    if (!mirrors) {
      problem(out, "hybrid-mbr", i + 1,
              "hybrid MBR entry " + std::to_string(i + 1) + " (sectors " + std::to_string(entry.startLba) + " to " +
                  std::to_string(std::uint64_t{entry.startLba} + entry.sectorCount - 1) + ") mirrors no GPT partition");
    }
  }
}

}  // namespace

std::uint32_t CheckGptDisk(SectorReader& disk, PhysicalSectors physical, std::vector<Finding>& out) {
  const std::uint64_t sectorCount = disk.sectorCount();
  if (std::optional<Finding> finding = TooSmallForGpt(disk.sectorSize(), sectorCount)) {
    out.push_back(std::move(*finding));
    return ERROR_SUCCESS;
  }
  const std::uint64_t lastLba = sectorCount - 1;
  CopyState primary;
  CopyState backup;
  if (std::uint32_t error = examineCopy(disk, kPrimaryHeaderLba, primary); error != ERROR_SUCCESS) return error;
  if (std::uint32_t error = examineCopy(disk, lastLba, backup); error != ERROR_SUCCESS) return error;
  std::uint64_t backupLba = lastLba;
  reportCopy(primary, "primary", kPrimaryHeaderLba, out);
  if (!backup.header && primary.header && primary.header->alternateLba != lastLba &&
      primary.header->alternateLba < lastLba) {
    // A disk that grew since its table was made: the backup is where the
    // primary says, short of the end.
    CopyState moved;
    if (std::uint32_t error = examineCopy(disk, primary.header->alternateLba, moved); error != ERROR_SUCCESS) {
      return error;
    }
    if (moved.header) {
      backup = std::move(moved);
      backupLba = primary.header->alternateLba;
    }
  }
  if (backupLba != lastLba) {
    problem(out, "gpt-backup-not-at-end", 0,
            "the backup GPT header is at " + sectorText(backupLba) + ", not at the disk's last sector " +
                std::to_string(lastLba));
  } else if (primary.header && primary.header->alternateLba != lastLba) {
    problem(out, "gpt-backup-not-at-end", 0,
            "the primary GPT header places the backup at " + sectorText(primary.header->alternateLba) +
                ", not at the disk's last sector " + std::to_string(lastLba));
  }
  reportCopy(backup, "backup", backupLba, out);
  if (primary.valid() && backup.valid()) compareCopies(primary, backup, backupLba, out);

  const CopyState* current = primary.valid() ? &primary : backup.valid() ? &backup : nullptr;
  if (current == nullptr) {
    problem(out, "gpt-missing", 0, "neither copy of the GPT is valid: the protective MBR stands for no readable table");
    return ERROR_SUCCESS;
  }
  checkEntries(*current, disk, physical, out);
  if (current->header->arrayBytes() < kMinArrayBytes) {
    out.push_back({Severity::Warning, "gpt-small-array", 0,
                   "the GPT's entry array holds " + std::to_string(current->header->entryCount) + " entries (" +
                       std::to_string(current->header->arrayBytes()) + " bytes), less than the " +
                       std::to_string(kMinArrayBytes) + " bytes that firmware and other tools expect"});
  }
  std::vector<std::uint8_t> sector0;
  if (std::uint32_t error = readOneSector(disk, 0, sector0); error != ERROR_SUCCESS) return error;
  checkProtectiveMbr(sector0, *current, sectorCount, out);
  return ERROR_SUCCESS;
}

}  // namespace kestrin::check
