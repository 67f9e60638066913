#include "JsonReport.h"

#include <algorithm>
#include <cstdio>

#include "LayoutView.h"
#include "MbrEntry.h"
#include "MbrLayout.h"

namespace kestrin::cli {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::string styleName(std::uint32_t style) {
  switch (style) {
    case kStyleMbr:
      return "MBR";
    case kStyleGpt:
      return "GPT";
    case kStyleRaw:
      return "RAW";
    default:
      return "unknown";
  }
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string hex64(std::uint64_t value) {
  char text[19];
  std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::string hex32(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The number a text of decimal digits holds, or the text itself.
nlohmann::ordered_json numberOrText(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18) return text;
  return std::stoll(text);
}

nlohmann::ordered_json slotJson(std::uint32_t style, const LayoutBuffer& layout, int entry) {
  ConstLayoutSlot slot = layout.slot(entry);
  nlohmann::ordered_json row{
      {"entry", entry},
      {"number", slot.partitionNumber()},
      {"offset", slot.startingOffset()},
      {"length", slot.partitionLength()},
  };
  if (style == kStyleMbr) {
    row["type"] = slot.mbrPartitionType();
    row["typeText"] = MbrTypeText(slot.mbrPartitionType());
    row["boot"] = slot.mbrBootIndicator() != 0;
    row["hiddenSectors"] = slot.mbrHiddenSectors();
    row["recognized"] = slot.mbrRecognizedPartition() != 0;
  } else if (style == kStyleGpt) {
    row["type"] = GuidToString(slot.gptPartitionType());
    row["typeText"] = GptTypeText(slot.gptPartitionType());
    row["id"] = GuidToString(slot.gptPartitionId());
    row["attributes"] = slot.gptAttributes();
    row["attributesText"] = hex64(slot.gptAttributes());
    row["name"] = Utf8FromUtf16(slot.gptName());
  }
  return row;
}

// The node the kernel gives partition `number` of `device`: a "p" stands
// between a device name ending in a digit and the number.
std::string partitionNode(const std::string& device, int number) {
  const bool digitLast = !device.empty() && device.back() >= '0' && device.back() <= '9';
  return device + (digitLast ? "p" : "") + std::to_string(number);
}

}  // namespace

std::vector<int> KernelPartitionNumbers(const LayoutBuffer& layout) {
  const int count = static_cast<int>(std::min<std::uint32_t>(ShownEntryCount(layout), layout.slotCapacity()));
  std::vector<int> numbers(static_cast<std::size_t>(count) + 1, 0);
  int nextLogical = kMbrPrimarySlots + 1;
  for (int entry = 1; entry <= count; ++entry) {
    ConstLayoutSlot slot = layout.slot(entry);
    if (layout.partitionStyle() == kStyleGpt) {
      if (!slot.gptPartitionType().isNull()) numbers[static_cast<std::size_t>(entry)] = slot.partitionNumber();
    } else if (layout.partitionStyle() == kStyleMbr && slot.mbrPartitionType() != 0) {
      // A primary is numbered by its slot, the extended partition included;
      // in an EBR only the logical drives count, the links do not.
      if (entry <= kMbrPrimarySlots) {
        numbers[static_cast<std::size_t>(entry)] = entry;
      } else if (!isMbrContainerType(slot.mbrPartitionType())) {
        numbers[static_cast<std::size_t>(entry)] = nextLogical++;
      }
    }
  }
  return numbers;
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

nlohmann::ordered_json LayoutJson(int disk, const std::string& path, const LayoutBuffer& layout,
                                  const std::string& blockDevice) {
  const std::uint32_t style = layout.partitionStyle();
  // As the view counts (a whole table's count in a record larger than the
  // window's), never more slots than the record has.
  const std::uint32_t count = ShownEntryCount(layout);
  nlohmann::ordered_json result{
      {"disk", disk},       {"path", path},   {"style", styleName(style)},
      {"styleCode", style}, {"count", count}, {"status", LayoutStatusText(layout)},
  };
  if (style == kStyleMbr) {
    result["signature"] = layout.mbrSignature();
    result["signatureText"] = hex32(layout.mbrSignature());
  } else if (style == kStyleGpt) {
    result["diskId"] = GuidToString(layout.gptDiskId());
    result["startingUsableOffset"] = layout.gptStartingUsableOffset();
    result["usableLength"] = layout.gptUsableLength();
    result["maxPartitionCount"] = layout.gptMaxPartitionCount();
  }
  if (!blockDevice.empty()) result["device"] = blockDevice;
  const std::vector<int> numbers = KernelPartitionNumbers(layout);
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (int entry = 1; static_cast<std::uint32_t>(entry) <= count && entry <= layout.slotCapacity(); ++entry) {
    nlohmann::ordered_json row = slotJson(style, layout, entry);
    const int number = numbers[static_cast<std::size_t>(entry)];
    row["partition"] = number > 0 ? nlohmann::ordered_json(number) : nlohmann::ordered_json(nullptr);
    if (number > 0 && !blockDevice.empty()) row["device"] = partitionNode(blockDevice, number);
    rows.push_back(std::move(row));
  }
  result["rows"] = std::move(rows);
  return result;
}

nlohmann::ordered_json DiskListJson(const std::vector<DiskListRow>& rows) {
  nlohmann::ordered_json disks = nlohmann::ordered_json::array();
  for (const DiskListRow& row : rows) {
    disks.push_back({
        {"number", numberOrText(row.number)},
        {"path", "\\\\.\\PhysicalDrive" + row.number},
        {"type", row.type},
        {"name", row.name},
        {"sizeMb", numberOrText(row.sizeMb)},
        {"attributes", row.attributes},
    });
  }
  return nlohmann::ordered_json{{"disks", std::move(disks)}};
}

}  // namespace kestrin::cli
