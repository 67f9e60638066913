#include "LayoutDump.h"

#include <algorithm>
#include <cstdio>

#include "Guid.h"
#include "LayoutBuffer.h"
#include "Utf16.h"

namespace kestrin::cli {

namespace {

constexpr int kSchema = 1;

std::string hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

const char* styleName(std::uint32_t style) {
  return style == kStyleMbr ? "mbr" : style == kStyleGpt ? "gpt" : "raw";
}

// Reading one object of the dump: each accessor names the field it refuses.
class Fields {
 public:
  Fields(const nlohmann::json& object, std::string where) : m_object(object), m_where(std::move(where)) {}

  bool has(const char* key) const { return m_object.contains(key); }
  std::uint64_t number(const char* key) const {
    const nlohmann::json& value = at(key);
    if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<std::int64_t>() >= 0)) {
      fail(key, "is no number of 0 or more");
    }
    return value.get<std::uint64_t>();
  }
  std::string text(const char* key) const {
    const nlohmann::json& value = at(key);
    if (!value.is_string()) fail(key, "is no text");
    return value.get<std::string>();
  }
  bool flag(const char* key) const {
    if (!has(key)) return false;
    const nlohmann::json& value = at(key);
    if (!value.is_boolean()) fail(key, "is neither true nor false");
    return value.get<bool>();
  }
  // A number, or its text in hexadecimal ("0x...") as `dump` writes it.
  std::uint64_t bits(const char* key) const {
    if (!has(key)) return 0;
    if (!at(key).is_string()) return number(key);
    const std::string value = text(key);
    std::size_t used = 0;
    std::uint64_t result = 0;
    try {
      result = std::stoull(value, &used, 16);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != value.size() || value.rfind("0x", 0) != 0) fail(key, "is no hexadecimal number \"0x...\"");
    return result;
  }
  [[noreturn]] void fail(const char* key, const std::string& why) const {
    throw std::invalid_argument(m_where + "\"" + key + "\" " + why);
  }

 private:
  const nlohmann::json& at(const char* key) const {
    if (!has(key)) throw std::invalid_argument(m_where + "\"" + key + "\" is missing");
    return m_object.at(key);
  }

  const nlohmann::json& m_object;
  std::string m_where;
};

// The GUID text of `key` without braces, checked; empty when absent.
std::string guidField(const Fields& fields, const char* key) {
  if (!fields.has(key)) return {};
  const std::string text = fields.text(key);
  Guid guid;
  if (!TryStringToGuid("{" + text + "}", guid)) fields.fail(key, "is no GUID");
  const std::string braced = GuidToString(guid);
  return braced.substr(1, braced.size() - 2);
}

LayoutDocument fromJson(const nlohmann::json& json) {
  if (!json.is_object()) throw std::invalid_argument("the dump is no JSON object");
  const Fields top(json, "");
  if (top.number("schema") != kSchema) top.fail("schema", "is not 1, the schema this program reads");
  LayoutDocument document;
  const std::string style = top.text("style");
  if (style == "mbr") {
    document.style = kStyleMbr;
  } else if (style == "gpt") {
    document.style = kStyleGpt;
  } else {
    top.fail("style", "is neither mbr nor gpt");
  }
  const std::uint64_t sectorSize = top.number("sectorSize");
  if (sectorSize != 512 && sectorSize != 4096) top.fail("sectorSize", "is neither 512 nor 4096");
  document.sectorSize = static_cast<std::uint32_t>(sectorSize);
  if (top.has("sectors")) document.sectorCount = top.number("sectors");
  if (document.style == kStyleMbr && top.has("signature")) {
    const std::uint64_t signature = top.bits("signature");
    if (signature > 0xFFFFFFFFu) top.fail("signature", "is larger than 32 bits");
    document.signature = static_cast<std::uint32_t>(signature);
  }
  if (document.style == kStyleGpt) {
    document.diskGuid = guidField(top, "diskGuid");
    if (top.has("firstUsable")) document.firstUsable = top.number("firstUsable");
    if (top.has("lastUsable")) document.lastUsable = top.number("lastUsable");
    if (top.has("tableLength")) {
      const std::uint64_t length = top.number("tableLength");
      if (length == 0 || length > 0xFFFFFFFFu) top.fail("tableLength", "is out of range");
      document.tableLength = static_cast<std::uint32_t>(length);
    }
  }
  if (!json.contains("partitions") || !json.at("partitions").is_array()) top.fail("partitions", "is no list");
  std::size_t index = 0;
  for (const nlohmann::json& item : json.at("partitions")) {
    const std::string where = "partitions[" + std::to_string(index++) + "]: ";
    if (!item.is_object()) throw std::invalid_argument(where + "is no object");
    const Fields fields(item, where);
    DocumentPartition partition;
    const std::uint64_t number = fields.number("number");
    if (number < 1 || number > 100000) fields.fail("number", "is out of range");
    partition.number = static_cast<int>(number);
    partition.start = fields.number("start");
    partition.size = fields.number("size");
    if (partition.start > kMaxDocumentSectors || partition.size > kMaxDocumentSectors) {
      fields.fail("size", "or start is out of range");
    }
    const std::string type = fields.text("type");
    if (document.style == kStyleMbr) {
      std::size_t used = 0;
      unsigned long byte = 0;
      try {
        byte = std::stoul(type, &used, 16);
      } catch (const std::exception&) {
        used = 0;
      }
      if (type.size() != 2 || used != 2 || byte == 0) fields.fail("type", "is no type byte of two hexadecimal digits");
      partition.type = type;
      std::transform(partition.type.begin(), partition.type.end(), partition.type.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      partition.bootable = fields.flag("bootable");
      partition.logical = fields.flag("logical");
      if (partition.logical != (partition.number > 4)) {
        fields.fail("logical", "does not match the number (logical drives are 5 and up)");
      }
    } else {
      Guid guid;
      if (!TryStringToGuid("{" + type + "}", guid) || guid.isNull()) fields.fail("type", "is no type GUID");
      partition.type = GuidToString(guid).substr(1, 36);
      partition.uuid = guidField(fields, "uuid");
      if (fields.has("name")) partition.name = Utf8ToUtf16(fields.text("name"));
      if (partition.name.size() > kSlotGptNameUnits) fields.fail("name", "is longer than 36 UTF-16 units");
      partition.attributes = fields.bits("attributes");
    }
    document.partitions.push_back(partition);
  }
  if (json.contains("hybrid")) {
    if (!json.at("hybrid").is_array()) top.fail("hybrid", "is no list");
    index = 0;
    for (const nlohmann::json& item : json.at("hybrid")) {
      const Fields fields(item, "hybrid[" + std::to_string(index++) + "]: ");
      HybridEntry entry;
      entry.index = static_cast<int>(fields.number("index"));
      entry.type = fields.text("type");
      entry.start = fields.number("start");
      entry.size = fields.number("size");
      entry.bootable = fields.flag("bootable");
      document.hybrid.push_back(entry);
    }
  }
  std::sort(document.partitions.begin(), document.partitions.end(),
            [](const DocumentPartition& a, const DocumentPartition& b) { return a.number < b.number; });
  for (std::size_t i = 1; i < document.partitions.size(); ++i) {
    if (document.partitions[i].number == document.partitions[i - 1].number) {
      throw std::invalid_argument("partition " + std::to_string(document.partitions[i].number) + " is listed twice");
    }
  }
  return document;
}

}  // namespace

nlohmann::ordered_json DumpJson(const LayoutDocument& document) {
  nlohmann::ordered_json json{{"schema", kSchema},
                              {"style", styleName(document.style)},
                              {"sectorSize", document.sectorSize},
                              {"sectors", document.sectorCount}};
  if (document.style == kStyleMbr && document.signature) json["signature"] = hex(*document.signature, 8);
  if (document.style == kStyleGpt) {
    // An sfdisk dump may leave these out (empty, 0: not known).
    if (!document.diskGuid.empty()) json["diskGuid"] = document.diskGuid;
    if (document.firstUsable != 0) json["firstUsable"] = document.firstUsable;
    if (document.lastUsable != 0) json["lastUsable"] = document.lastUsable;
    if (document.tableLength != 0) json["tableLength"] = document.tableLength;
  }
  nlohmann::ordered_json partitions = nlohmann::ordered_json::array();
  for (const DocumentPartition& p : document.partitions) {
    nlohmann::ordered_json item{{"number", p.number}, {"start", p.start}, {"size", p.size}, {"type", p.type}};
    if (document.style == kStyleMbr) {
      item["bootable"] = p.bootable;
      item["logical"] = p.logical;
    } else {
      if (!p.uuid.empty()) item["uuid"] = p.uuid;
      item["name"] = Utf16ToUtf8(p.name);
      item["attributes"] = hex(p.attributes, 16);
    }
    partitions.push_back(std::move(item));
  }
  json["partitions"] = std::move(partitions);
  if (!document.hybrid.empty()) {
    nlohmann::ordered_json hybrid = nlohmann::ordered_json::array();
    for (const HybridEntry& entry : document.hybrid) {
      hybrid.push_back({{"index", entry.index},
                        {"type", entry.type},
                        {"start", entry.start},
                        {"size", entry.size},
                        {"bootable", entry.bootable}});
    }
    json["hybrid"] = std::move(hybrid);
  }
  return json;
}

std::optional<LayoutDocument> ReadDump(const std::string& text, std::string& error) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{') return ParseSfdiskDump(text, error);
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded()) {
    // The parser does not say where; the line of the first fault does.
    try {
      static_cast<void>(nlohmann::json::parse(text));
    } catch (const nlohmann::json::parse_error& fault) {
      const std::size_t at = std::min<std::size_t>(fault.byte, text.size());
      const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at ? at - 1 : 0), '\n');
      error = "line " + std::to_string(line) + ": the JSON does not parse";
    } catch (const nlohmann::json::exception&) {
      error = "the JSON does not parse (a number out of range)";
    }
    if (error.empty()) error = "the JSON does not parse";
    return std::nullopt;
  }
  try {
    return fromJson(json);
  } catch (const std::invalid_argument& fault) {
    error = fault.what();
    return std::nullopt;
  }
}

}  // namespace kestrin::cli
