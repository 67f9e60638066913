#pragma once
// Reading and checking the two copies of a GPT (header and partition entry
// array), and turning a header back into bytes. Nothing read from the
// medium is trusted: a copy is used only when every check below passed.

#include <cstdint>
#include <span>
#include <vector>

#include "GptFormat.h"
#include "Guid.h"
#include "SectorDevice.h"

namespace kestrin::gpt {

// The fields of a header, as read or as about to be written.
struct Header {
  std::uint32_t headerSize = kHeaderMinSize;
  std::uint64_t myLba = 0;
  std::uint64_t alternateLba = 0;
  std::uint64_t firstUsableLba = 0;
  std::uint64_t lastUsableLba = 0;
  Guid diskId;
  std::uint64_t entryLba = 0;
  std::uint32_t entryCount = 0;
  std::uint32_t entrySize = 0;
  std::uint32_t arrayCrc = 0;

  std::uint64_t arrayBytes() const { return std::uint64_t{entryCount} * entrySize; }
  // Whole sectors the entry array occupies.
  std::uint64_t arraySectors(std::uint32_t sectorSize) const {
    return (arrayBytes() + sectorSize - 1) / sectorSize;
  }
};

// One copy of the table. `valid` is true only when the header and its array
// passed every check; `header` and `array` are meaningful only then.
struct Copy {
  bool valid = false;
  Header header;
  std::vector<std::uint8_t> array;  // entryCount x entrySize bytes
};

struct Table {
  Copy primary;
  Copy backup;
  // The copy to believe: the primary when valid, else the backup, else none.
  const Copy* current() const {
    if (primary.valid) return &primary;
    if (backup.valid) return &backup;
    return nullptr;
  }
};

enum class ReadMode {
  FirstValid,  // stop after the primary when it is valid
  BothCopies,  // check both copies (the writer needs the backup's position)
};

// CRC32 (the zlib polynomial, as GPT uses) of `bytes`.
std::uint32_t crc32Of(std::span<const std::uint8_t> bytes);

// Checks a header sector as the copy whose header is at `expectedMyLba`:
// signature, header size (92 .. sector size), header CRC, MyLBA, entry size
// (at least 128, a multiple of 8), array size bounded by kMaxArrayBytes and
// at least one entry, the array inside the disk and clear of sector 0, both
// header sectors and the usable range, and a usable range inside the disk
// between the two headers. Fills `out` and returns true when all hold.
bool parseHeader(std::span<const std::uint8_t> sector, std::uint64_t expectedMyLba, std::uint64_t sectorCount,
                 Header& out);

// Reads the primary copy and, when asked or when the primary is not valid,
// the backup copy at the last sector. A copy that fails a check is reported
// as not valid; the result is an error code only when the medium itself
// fails a read, so that an unreadable disk never passes for a damaged one.
std::uint32_t readTable(SectorReader& medium, ReadMode mode, Table& out);

// The header sector for `header` (header size 92, reserved bytes zero),
// with the header CRC computed; `header.arrayCrc` must already be set.
std::vector<std::uint8_t> headerSector(const Header& header, std::uint32_t sectorSize);

// The bytes of entry `index` (0-based) of an array of `entrySize`-byte entries.
inline std::span<const std::uint8_t> entryAt(std::span<const std::uint8_t> array, std::uint32_t entrySize,
                                             std::uint32_t index) {
  return array.subspan(std::size_t{index} * entrySize, entrySize);
}
inline std::span<std::uint8_t> entryAt(std::span<std::uint8_t> array, std::uint32_t entrySize, std::uint32_t index) {
  return array.subspan(std::size_t{index} * entrySize, entrySize);
}

Guid readGuidAt(std::span<const std::uint8_t> bytes, std::size_t offset);
void writeGuidAt(std::span<std::uint8_t> bytes, std::size_t offset, const Guid& guid);

// True when the entry has a type, that is when it describes a partition.
bool isUsedEntry(std::span<const std::uint8_t> entry);

// True when a used entry's sector range can be shown as a partition: its
// first sector is not past its last and both lie inside the disk. Entries
// that fail this are left alone: not reported, and kept as they are when
// the table is rewritten.
bool isShowableEntry(std::span<const std::uint8_t> entry, std::uint64_t sectorCount);

}  // namespace kestrin::gpt
