#include "JsonReport.h"

#include <algorithm>
#include <cstdio>

#include "LayoutQueries.h"
#include "LayoutView.h"
#include "MbrEntry.h"
#include "MbrLayout.h"
#include "Utf16.h"

namespace kestrin::cli {

namespace {

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
    row["name"] = Utf16ToUtf8(slot.gptName());
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
