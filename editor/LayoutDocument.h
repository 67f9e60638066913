#pragma once
// A partition table as data, apart from any disk: what `dump` prints and
// `apply` takes. Read from a disk's layout record, from an sfdisk dump, or
// from the dump's own JSON (cli/), it turns into the layout record that puts
// it on a disk of any size and sector size in one write.
//
// Positions are in sectors of the document's own sector size; partitions
// are listed by the numbers the Linux kernel gives them (MBR primaries 1 to
// 4, logical drives from 5 in chain order, GPT entries by their position in
// the entry array).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LayoutBuffer.h"

namespace kestrin {

// The largest start or size a document takes, in sectors: far past any disk
// (2^48 sectors of 4096 bytes is an exabyte), so that sums never overflow.
inline constexpr std::uint64_t kMaxDocumentSectors = std::uint64_t{1} << 48;

struct DocumentPartition {
  int number = 0;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  // MBR: the type byte as two lower-case hexadecimal digits ("83"); GPT: the
  // type GUID without braces, upper case.
  std::string type;
  // GPT: the unique GUID without braces (empty: a new one), the name, the
  // attribute bits.
  std::string uuid;
  std::u16string name;
  std::uint64_t attributes = 0;
  // MBR: the boot flag, and whether it is a logical drive.
  bool bootable = false;
  bool logical = false;

  friend bool operator==(const DocumentPartition&, const DocumentPartition&) = default;
};

// An entry of a hybrid MBR in front of a GPT other than the protective one.
struct HybridEntry {
  int index = 0;  // 1 to 4
  std::string type;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  bool bootable = false;

  friend bool operator==(const HybridEntry&, const HybridEntry&) = default;
};

struct LayoutDocument {
  std::uint32_t style = kStyleRaw;
  std::uint32_t sectorSize = 512;
  std::uint64_t sectorCount = 0;  // 0: not known (an sfdisk dump)
  std::optional<std::uint32_t> signature;  // MBR
  std::string diskGuid;                    // GPT, without braces (empty: a new one)
  std::uint64_t firstUsable = 0;           // GPT; 0: not known
  std::uint64_t lastUsable = 0;
  std::uint32_t tableLength = 0;  // GPT entry array; 0: not known
  std::vector<DocumentPartition> partitions;
  std::vector<HybridEntry> hybrid;
};

// The document of a disk's layout, read whole, of `sectorCount` sectors of
// `sectorSize` bytes; `sector0` (empty when not read) gives a GPT's hybrid
// MBR entries.
LayoutDocument DocumentOfLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                                const std::vector<std::uint8_t>& sector0 = {});

// Reads an sfdisk dump (as `sfdisk --dump` prints it). nullopt with `error`
// naming the line ("line 7: ...") when the text is not one.
std::optional<LayoutDocument> ParseSfdiskDump(const std::string& text, std::string& error);

// Fresh identifiers for a clone that will sit beside its source: a new MBR
// signature, or a new GPT disk GUID and unique GUIDs (made by the disk stack
// when the layout is written).
void ForgetIdentifiers(LayoutDocument& document);

// The layout record that puts `document` on a disk of `sectorCount` sectors
// of `sectorSize` bytes whose layout now is `onDisk` (read whole). Each
// partition keeps its byte offset and size; where those are not whole
// sectors of the disk, or the document does not fit it, nullopt with one
// line per partition that does not fit in `problems`. A GPT's usable area
// and entry array are the disk's own where it holds a GPT, else they follow
// the disk's size; the MBR's EBRs lie one sector before their drives (the
// first at the extended partition's start). `signature` is the disk
// signature to use where the document gives none.
std::optional<LayoutBuffer> LayoutForDisk(const LayoutDocument& document, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount, const LayoutBuffer& onDisk,
                                          std::uint32_t signature, std::vector<std::string>& problems);

}  // namespace kestrin
