#include "LayoutDocument.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

#include "GptFormat.h"
#include "LayoutQueries.h"
#include "MbrEntry.h"
#include "MbrLayout.h"
#include "NewGuid.h"
#include "TypeAliases.h"
#include "Utf16.h"

namespace kestrin {

namespace {

constexpr std::uint32_t kGptEntrySize = 128;

std::string hexByte(std::uint8_t value) {
  constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string guidWithoutBraces(const Guid& guid) {
  const std::string text = GuidToString(guid);
  return text.substr(1, text.size() - 2);
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A number as sfdisk writes it: decimal, or hexadecimal after 0x.
std::optional<std::uint64_t> number(const std::string& text) {
  const std::string t = trimmed(text);
  const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
  const std::string digits = hex ? t.substr(2) : t;
  if (digits.empty() || digits.size() > (hex ? 16 : 19)) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// The document's form of an sfdisk `type=` value for `style`, or empty. An
// MBR byte is hexadecimal, as sfdisk writes it ("e" is 0x0E); sfdisk's
// shortcuts (E: extended) and short names (linux, ...) mean what they mean
// wherever kestrin-cli takes a type.
std::string typeValue(std::uint32_t style, const std::string& value) {
  const std::string text = trimmed(value);
  const std::string lower = lowered(text);
  std::optional<std::string> alias = TypeAliasCode(style, text);
  if (style == kStyleMbr) {
    std::optional<std::uint64_t> byte = number("0x" + (lower.rfind("0x", 0) == 0 ? lower.substr(2) : lower));
    if (byte && !IsTypeShortcut(text)) alias.reset();
    if (alias) return hexByte(static_cast<std::uint8_t>(std::stoi(*alias)));
    return byte && *byte > 0 && *byte <= 0xFF ? hexByte(static_cast<std::uint8_t>(*byte)) : std::string();
  }
  Guid guid;
  if (alias) return TryStringToGuid(*alias, guid) ? guidWithoutBraces(guid) : std::string();
  if (!TryStringToGuid("{" + lower + "}", guid) || guid.isNull()) return {};
  return guidWithoutBraces(guid);
}

// GPT attribute names as sfdisk writes them, by bit.
constexpr std::pair<const char*, int> kAttributeNames[] = {
    {"RequiredPartition", 0}, {"NoBlockIOProtocol", 1}, {"LegacyBIOSBootable", 2}};

std::optional<std::uint64_t> attributesValue(const std::string& value) {
  std::uint64_t bits = 0;
  std::istringstream words(value);
  for (std::string word; words >> word;) {
    bool known = false;
    for (const auto& [name, bit] : kAttributeNames) {
      if (word == name) {
        bits |= std::uint64_t{1} << bit;
        known = true;
      }
    }
    if (!known && word.rfind("GUID:", 0) == 0) {
      std::istringstream list(word.substr(5));
      for (std::string item; std::getline(list, item, ',');) {
        std::optional<std::uint64_t> bit = number(item);
        if (!bit || *bit > 63) return std::nullopt;
        bits |= std::uint64_t{1} << *bit;
      }
      known = true;
    }
    if (!known) return std::nullopt;
  }
  return bits;
}

// A quoted value with sfdisk's escapes (\" \\ \xNN); nullopt when the
// quotes are missing.
std::optional<std::string> unquoted(const std::string& value) {
  const std::string t = trimmed(value);
  if (t.size() < 2 || t.front() != '"' || t.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    if (t[i] != '\\' || i + 2 >= t.size()) {
      out += t[i];
    } else if (t[i + 1] == 'x' && i + 4 < t.size() && number("0x" + t.substr(i + 2, 2))) {
      out += static_cast<char>(*number("0x" + t.substr(i + 2, 2)));
      i += 3;
    } else {
      out += t[++i];
    }
  }
  return out;
}

// The fields of a partition line, split at the commas that stand outside
// quotes: "start=2048, size=4096, type=83, bootable".
std::vector<std::string> fieldsOf(const std::string& text) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && quoted && i + 1 < text.size()) {
      field += c;
      field += text[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      fields.push_back(trimmed(field));
      field.clear();
    } else {
      field += c;
    }
  }
  if (!trimmed(field).empty()) fields.push_back(trimmed(field));
  return fields;
}

}  // namespace

LayoutDocument DocumentOfLayout(const LayoutBuffer& layout, std::uint32_t sectorSize, std::uint64_t sectorCount,
                                const std::vector<std::uint8_t>& sector0) {
  LayoutDocument document;
  document.style = layout.partitionStyle();
  document.sectorSize = sectorSize;
  document.sectorCount = sectorCount;
  const std::vector<int> numbers = KernelPartitionNumbers(layout);
  if (document.style == kStyleMbr) {
    document.signature = layout.mbrSignature();
  } else if (document.style == kStyleGpt) {
    document.diskGuid = guidWithoutBraces(layout.gptDiskId());
    document.firstUsable = static_cast<std::uint64_t>(layout.gptStartingUsableOffset()) / sectorSize;
    document.lastUsable = document.firstUsable + static_cast<std::uint64_t>(layout.gptUsableLength()) / sectorSize - 1;
    document.tableLength = layout.gptMaxPartitionCount();
    if (sector0.size() >= kMbrMinSectorSize) {
      for (int i = 0; i < kMbrEntryCount; ++i) {
        const MbrEntry entry = readMbrEntry(sector0, i);
        if (!entry.isUsed() || entry.type == kMbrTypeProtectiveGpt) continue;
        document.hybrid.push_back({i + 1, hexByte(entry.type), entry.startLba, entry.sectorCount, entry.isBootable()});
      }
    }
  }
  for (std::size_t entry = 1; entry < numbers.size(); ++entry) {
    if (numbers[entry] == 0) continue;
    ConstLayoutSlot slot = layout.slot(static_cast<int>(entry));
    DocumentPartition partition;
    partition.number = numbers[entry];
    partition.start = static_cast<std::uint64_t>(slot.startingOffset()) / sectorSize;
    partition.size = static_cast<std::uint64_t>(slot.partitionLength()) / sectorSize;
    if (document.style == kStyleMbr) {
      partition.type = hexByte(slot.mbrPartitionType());
      partition.bootable = slot.mbrBootIndicator() != 0;
      partition.logical = entry > static_cast<std::size_t>(kMbrPrimarySlots);
    } else {
      partition.type = guidWithoutBraces(slot.gptPartitionType());
      partition.uuid = guidWithoutBraces(slot.gptPartitionId());
      partition.name = slot.gptName();
      partition.attributes = slot.gptAttributes();
    }
    document.partitions.push_back(partition);
  }
  std::sort(document.partitions.begin(), document.partitions.end(),
            [](const DocumentPartition& a, const DocumentPartition& b) { return a.number < b.number; });
  return document;
}

std::optional<LayoutDocument> ParseSfdiskDump(const std::string& text, std::string& error) {
  LayoutDocument document;
  bool labelSeen = false;
  int nextNumber = 1;
  std::istringstream lines(text);
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return std::nullopt;
  };
  for (std::string line; std::getline(lines, line);) {
    ++lineNumber;
    line = trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && (equals == std::string::npos || colon < equals) &&
        line.find(" : ") == std::string::npos) {
      // A header line, "key: value".
      const std::string key = trimmed(line.substr(0, colon));
      const std::string value = trimmed(line.substr(colon + 1));
      if (key == "label") {
        if (value == "dos") {
          document.style = kStyleMbr;
        } else if (value == "gpt") {
          document.style = kStyleGpt;
        } else {
          return fail("the label '" + value + "' is neither dos nor gpt");
        }
        labelSeen = true;
      } else if (key == "label-id") {
        if (document.style == kStyleMbr) {
          std::optional<std::uint64_t> id = number(value);
          if (!id || *id > 0xFFFFFFFFu) return fail("'" + value + "' is no disk signature");
          document.signature = static_cast<std::uint32_t>(*id);
        } else {
          Guid guid;
          if (!TryStringToGuid("{" + value + "}", guid)) return fail("'" + value + "' is no disk GUID");
          document.diskGuid = guidWithoutBraces(guid);
        }
      } else if (key == "unit") {
        if (value != "sectors") return fail("the unit must be sectors, not '" + value + "'");
      } else if (key == "first-lba" || key == "last-lba" || key == "table-length" || key == "sector-size") {
        std::optional<std::uint64_t> n = number(value);
        if (!n || *n > 0xFFFFFFFFFFFFull) return fail("'" + value + "' is no number for " + key);
        if (key == "first-lba") document.firstUsable = *n;
        if (key == "last-lba") document.lastUsable = *n;
        if (key == "table-length") document.tableLength = static_cast<std::uint32_t>(*n);
        if (key == "sector-size") {
          if (*n != 512 && *n != 4096) return fail("the sector size must be 512 or 4096, not " + value);
          document.sectorSize = static_cast<std::uint32_t>(*n);
        }
      } else if (key != "device" && key != "grain") {
        return fail("'" + key + "' is no header sfdisk writes");
      }
      continue;
    }
    if (!labelSeen) return fail("a partition before the 'label:' line");
    // A partition line: "<device><number> : start=..., size=..." or the
    // fields alone.
    DocumentPartition partition;
    std::string fields = line;
    if (const std::size_t separator = line.find(" : "); separator != std::string::npos) {
      const std::string device = trimmed(line.substr(0, separator));
      const std::size_t digits = device.find_last_not_of("0123456789");
      if (digits == std::string::npos || digits + 1 == device.size()) {
        return fail("the device '" + device + "' ends in no partition number");
      }
      partition.number = static_cast<int>(*number(device.substr(digits + 1)));
      fields = line.substr(separator + 3);
    } else {
      partition.number = nextNumber;
    }
    if (partition.number < 1 || partition.number > 100000) return fail("no partition number");
    nextNumber = partition.number + 1;
    bool startSeen = false;
    bool sizeSeen = false;
    for (const std::string& field : fieldsOf(fields)) {
      const std::size_t is = field.find('=');
      const std::string key = lowered(trimmed(field.substr(0, is)));
      const std::string value = is == std::string::npos ? std::string() : trimmed(field.substr(is + 1));
      if (key == "bootable" && is == std::string::npos) {
        partition.bootable = true;
      } else if (key == "start" || key == "size") {
        std::optional<std::uint64_t> n = number(value);
        if (!n || *n > kMaxDocumentSectors) return fail("'" + value + "' is no number of sectors for " + key);
        (key == "start" ? partition.start : partition.size) = *n;
        (key == "start" ? startSeen : sizeSeen) = true;
      } else if (key == "type" || key == "id") {
        partition.type = typeValue(document.style, value);
        if (partition.type.empty()) return fail("'" + value + "' is no partition type of this label");
      } else if (key == "uuid") {
        Guid guid;
        if (!TryStringToGuid("{" + value + "}", guid)) return fail("'" + value + "' is no GUID");
        partition.uuid = guidWithoutBraces(guid);
      } else if (key == "name") {
        std::optional<std::string> name = unquoted(value);
        if (!name) return fail("the name must stand in quotes");
        partition.name = Utf8ToUtf16(*name);
        if (partition.name.size() > kSlotGptNameUnits) return fail("the name is longer than 36 UTF-16 units");
      } else if (key == "attrs") {
        std::optional<std::string> attributes = unquoted(value);
        std::optional<std::uint64_t> bits = attributes ? attributesValue(*attributes) : std::nullopt;
        if (!bits) return fail("'" + value + "' are no attributes sfdisk writes");
        partition.attributes = *bits;
      } else {
        return fail("'" + field + "' is no partition field sfdisk writes");
      }
    }
    if (!startSeen || !sizeSeen || partition.type.empty()) return fail("a partition needs start=, size= and type=");
    partition.logical = document.style == kStyleMbr && partition.number > kMbrPrimarySlots;
    document.partitions.push_back(partition);
  }
  if (!labelSeen) {
    lineNumber = std::max(lineNumber, 1);
    return fail("no 'label:' line: this is no sfdisk dump");
  }
  std::sort(document.partitions.begin(), document.partitions.end(),
            [](const DocumentPartition& a, const DocumentPartition& b) { return a.number < b.number; });
  for (std::size_t i = 1; i < document.partitions.size(); ++i) {
    if (document.partitions[i].number == document.partitions[i - 1].number) {
      error = "partition " + std::to_string(document.partitions[i].number) + " is listed twice";
      return std::nullopt;
    }
  }
  return document;
}

void ForgetIdentifiers(LayoutDocument& document) {
  document.signature.reset();
  document.diskGuid.clear();
  for (DocumentPartition& partition : document.partitions) partition.uuid.clear();
}

std::optional<LayoutBuffer> LayoutForDisk(const LayoutDocument& document, std::uint32_t sectorSize,
                                          std::uint64_t sectorCount, const LayoutBuffer& onDisk,
                                          std::uint32_t signature, std::vector<std::string>& problems) {
  problems.clear();
  const std::uint64_t unit = document.sectorSize;
  // Byte offsets and sizes, as whole sectors of this disk.
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> extents;
  for (const DocumentPartition& p : document.partitions) {
    const std::string name = "partition " + std::to_string(p.number);
    if ((p.start * unit) % sectorSize != 0 || (p.size * unit) % sectorSize != 0) {
      problems.push_back(name + ": its start and size (" + std::to_string(p.start * unit) + " and " +
                         std::to_string(p.size * unit) + " bytes) are not whole sectors of " +
                         std::to_string(sectorSize) + " bytes");
      continue;
    }
    const std::uint64_t start = p.start * unit / sectorSize;
    const std::uint64_t size = p.size * unit / sectorSize;
    if (size == 0 || start + size > sectorCount) {
      problems.push_back(name + " (sectors " + std::to_string(start) + " to " + std::to_string(start + size - 1) +
                         ") does not fit the disk of " + std::to_string(sectorCount) + " sectors");
      continue;
    }
    extents[p.number] = {start, size};
  }
  LayoutBuffer layout;
  layout.setPartitionStyle(document.style);
  auto setExtent = [&](LayoutSlot slot, std::uint64_t start, std::uint64_t size) {
    slot.setStartingOffset(static_cast<std::int64_t>(start * sectorSize));
    slot.setPartitionLength(static_cast<std::int64_t>(size * sectorSize));
  };

  if (document.style == kStyleMbr) {
    layout.setMbrSignature(document.signature.value_or(signature));
    std::vector<const DocumentPartition*> logical;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> extended;
    for (const DocumentPartition& p : document.partitions) {
      if (p.number > kMbrPrimarySlots) {
        logical.push_back(&p);
        continue;
      }
      if (!extents.count(p.number)) continue;
      const auto [start, size] = extents[p.number];
      const auto type = static_cast<std::uint8_t>(std::stoul(p.type, nullptr, 16));
      LayoutSlot slot = layout.slot(p.number);
      slot.setStyle(kStyleMbr);
      setExtent(slot, start, size);
      slot.setPartitionNumber(isMbrContainerType(type) ? 0 : static_cast<std::uint32_t>(p.number));
      slot.setMbrPartitionType(type);
      slot.setMbrBootIndicator(p.bootable);
      slot.setMbrRecognizedPartition(!isMbrContainerType(type));
      slot.setMbrHiddenSectors(static_cast<std::uint32_t>(start));
      slot.setRewritePartition(true);
      if (isMbrContainerType(type) && !extended) extended = extents[p.number];
    }
    const int groups = static_cast<int>(logical.size());
    if (groups > kMbrMaxEbrGroups) {
      problems.push_back(std::to_string(groups) + " logical drives: the layout record holds at most " +
                         std::to_string(kMbrMaxEbrGroups));
      return std::nullopt;
    }
    if (groups > 0 && !extended) problems.push_back("the logical drives have no extended partition");
    layout.setPartitionCount(static_cast<std::uint32_t>(kMbrPrimarySlots + kMbrSlotsPerGroup * groups));
    // Each logical drive in a group of its own, in number order; its EBR at
    // the extended partition's start (the first) or in the sector before it.
    std::uint64_t previousEnd = extended ? extended->first : 0;
    for (int g = 0; g < groups && extended; ++g) {
      const DocumentPartition& p = *logical[static_cast<std::size_t>(g)];
      if (!extents.count(p.number)) continue;
      const auto [start, size] = extents[p.number];
      const std::uint64_t ebr = g == 0 ? extended->first : start - 1;
      if (start <= ebr || ebr < previousEnd) {
        problems.push_back("partition " + std::to_string(p.number) + " leaves no sector before it for its EBR");
      }
      previousEnd = start + size;
      LayoutSlot drive = layout.slot(mbrGroupFirstEntry(g));
      drive.setStyle(kStyleMbr);
      setExtent(drive, start, size);
      drive.setPartitionNumber(static_cast<std::uint32_t>(p.number));
      drive.setMbrPartitionType(static_cast<std::uint8_t>(std::stoul(p.type, nullptr, 16)));
      drive.setMbrBootIndicator(p.bootable);
      drive.setMbrRecognizedPartition(true);
      drive.setMbrHiddenSectors(static_cast<std::uint32_t>(start - ebr));
      drive.setRewritePartition(true);
      if (g == 0) continue;
      // The link from the group before: the next EBR and its drive.
      LayoutSlot link = layout.slot(mbrGroupFirstEntry(g - 1) + 1);
      link.setStyle(kStyleMbr);
      setExtent(link, ebr, start + size - ebr);
      link.setMbrPartitionType(0x05);
      link.setMbrHiddenSectors(static_cast<std::uint32_t>(ebr - extended->first));
      link.setRewritePartition(true);
    }
  } else if (document.style == kStyleGpt) {
    Guid diskId;
    if (document.diskGuid.empty() || !TryStringToGuid("{" + document.diskGuid + "}", diskId)) diskId = NewGuid();
    layout.setGptDiskId(diskId);
    std::uint64_t firstUsable = 0;
    std::uint64_t lastUsable = 0;
    std::uint32_t tableLength = 0;
    if (onDisk.partitionStyle() == kStyleGpt) {
      // A rewrite keeps the disk's own table and usable area.
      firstUsable = static_cast<std::uint64_t>(onDisk.gptStartingUsableOffset()) / sectorSize;
      lastUsable = firstUsable + static_cast<std::uint64_t>(onDisk.gptUsableLength()) / sectorSize - 1;
      tableLength = onDisk.gptMaxPartitionCount();
    } else {
      tableLength = document.tableLength != 0 ? document.tableLength : gpt::kDefaultEntryCount;
      const std::uint64_t arraySectors = (std::uint64_t{tableLength} * kGptEntrySize + sectorSize - 1) / sectorSize;
      firstUsable = std::max<std::uint64_t>(2 + arraySectors, (document.firstUsable * unit + sectorSize - 1) / sectorSize);
      lastUsable = sectorCount > arraySectors + 2 ? sectorCount - arraySectors - 2 : 0;
    }
    if (lastUsable < firstUsable) {
      problems.push_back("the disk of " + std::to_string(sectorCount) + " sectors is too small for a GPT");
      return std::nullopt;
    }
    layout.setGptStartingUsableOffset(static_cast<std::int64_t>(firstUsable * sectorSize));
    layout.setGptUsableLength(static_cast<std::int64_t>((lastUsable - firstUsable + 1) * sectorSize));
    layout.setGptMaxPartitionCount(tableLength);
    if (document.partitions.size() > static_cast<std::size_t>(kLayoutSlotCount)) {
      problems.push_back(std::to_string(document.partitions.size()) +
                         " partitions: the layout record holds at most " + std::to_string(kLayoutSlotCount));
      return std::nullopt;
    }
    int slotNumber = 0;
    for (const DocumentPartition& p : document.partitions) {
      const std::string name = "partition " + std::to_string(p.number);
      if (static_cast<std::uint32_t>(p.number) > tableLength) {
        problems.push_back(name + " does not fit the entry array of " + std::to_string(tableLength) + " entries");
        continue;
      }
      if (!extents.count(p.number)) continue;
      const auto [start, size] = extents[p.number];
      if (start < firstUsable || start + size - 1 > lastUsable) {
        problems.push_back(name + " (sectors " + std::to_string(start) + " to " + std::to_string(start + size - 1) +
                           ") lies outside the usable area, sectors " + std::to_string(firstUsable) + " to " +
                           std::to_string(lastUsable));
        continue;
      }
      LayoutSlot slot = layout.slot(++slotNumber);
      slot.setStyle(kStyleGpt);
      setExtent(slot, start, size);
      slot.setPartitionNumber(static_cast<std::uint32_t>(p.number));
      slot.setGptPartitionType(StringToGuid("{" + p.type + "}"));
      Guid id;
      if (!p.uuid.empty() && TryStringToGuid("{" + p.uuid + "}", id)) slot.setGptPartitionId(id);
      slot.setGptAttributes(p.attributes);
      slot.setGptName(p.name);
      slot.setRewritePartition(true);
    }
    layout.setPartitionCount(static_cast<std::uint32_t>(slotNumber));
  } else {
    problems.push_back("a layout without a partition table cannot be applied; use delete-layout");
  }
  if (!problems.empty()) return std::nullopt;
  return layout;
}

}  // namespace kestrin
