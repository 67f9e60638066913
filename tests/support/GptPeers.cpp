#include "GptPeers.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "TestSupport.h"

namespace kestrin::test {

namespace {

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string after(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, separator)) out.push_back(field);
  return out;
}

// The partition number at the end of a node name ("img3", "/dev/loop0p3").
unsigned trailingNumber(const std::string& node) {
  std::size_t digits = node.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) --digits;
  return digits == node.size() ? 0 : static_cast<unsigned>(std::stoul(node.substr(digits)));
}

// Undoes the \xHH escapes of partx's raw output.
std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// One "key=value, key="quoted value", ..." partition line of sfdisk.
PeerEntry sfdiskEntry(const std::string& node, const std::string& fields) {
  PeerEntry e;
  e.number = trailingNumber(node);
  std::size_t i = 0;
  while (i < fields.size()) {
    while (i < fields.size() && (fields[i] == ' ' || fields[i] == ',')) ++i;
    std::size_t equals = fields.find('=', i);
    if (equals == std::string::npos) break;
    std::string key = fields.substr(i, equals - i);
    std::string value;
    i = equals + 1;
    if (i < fields.size() && fields[i] == '"') {
      std::size_t close = fields.find('"', i + 1);
      value = fields.substr(i + 1, close - i - 1);
      i = close == std::string::npos ? fields.size() : close + 1;
    } else {
      std::size_t comma = fields.find(',', i);
      value = fields.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
      i = comma == std::string::npos ? fields.size() : comma;
      value.erase(0, value.find_first_not_of(' '));
    }
    if (key == "start") e.start = std::stoull(value);
    if (key == "size") e.size = std::stoull(value);
    if (key == "type") e.type = upper(value);
    if (key == "uuid") e.uuid = upper(value);
    if (key == "name") e.name = value;
  }
  return e;
}

}  // namespace

PeerTable SfdiskDump(const std::string& device) {
  PeerTable table;
  RunResult r = Run({"sfdisk", "--dump", device});
  if (r.exitCode != 0) return table;
  for (const std::string& line : lines(r.out)) {
    if (line == "label: gpt") table.ok = true;
    if (auto v = after(line, "label-id: "); !v.empty()) table.diskId = upper(v);
    if (auto v = after(line, "first-lba: "); !v.empty()) table.firstUsable = std::stoull(v);
    if (auto v = after(line, "last-lba: "); !v.empty()) table.lastUsable = std::stoull(v);
    std::size_t colon = line.find(" : ");
    if (colon != std::string::npos) table.entries.push_back(sfdiskEntry(line.substr(0, colon), line.substr(colon + 3)));
  }
  return table;
}

PeerTable PartedPrint(const std::string& device) {
  PeerTable table;
  RunResult r = Run({"parted", "-s", "-m", device, "unit", "B", "print"});
  if (r.exitCode != 0) return table;
  for (const std::string& line : lines(r.out)) {
    std::vector<std::string> f = split(line.substr(0, line.rfind(';')), ':');
    if (f.size() >= 6 && f[5] == "gpt") table.ok = true;
    if (f.size() < 6 || f[0].empty() || !std::isdigit(static_cast<unsigned char>(f[0][0]))) continue;
    PeerEntry e;
    e.number = static_cast<unsigned>(std::stoul(f[0]));
    e.start = std::stoull(f[1]);  // "1048576B": stoull stops at the unit
    e.size = std::stoull(f[3]);
    e.name = f[5];
    table.entries.push_back(e);
  }
  return table;
}

PeerTable PartxShow(const std::string& device) {
  PeerTable table;
  RunResult r = Run({"partx", "--show", "--raw", "--noheadings", "-o", "NR,START,SECTORS,TYPE,UUID,NAME", device});
  if (r.exitCode != 0) return table;
  table.ok = true;
  for (const std::string& line : lines(r.out)) {
    std::vector<std::string> f = split(line, ' ');
    if (f.size() < 5) continue;
    PeerEntry e;
    e.number = static_cast<unsigned>(std::stoul(f[0]));
    e.start = std::stoull(f[1]);
    e.size = std::stoull(f[2]);
    e.type = upper(f[3]);
    e.uuid = upper(f[4]);
    e.name = f.size() > 5 ? unescape(f[5]) : "";
    table.entries.push_back(e);
  }
  return table;
}

std::optional<SgdiskEntry> SgdiskInfo(const std::string& device, unsigned number) {
  RunResult r = Run({"sgdisk", "-i", std::to_string(number), device});
  if (r.exitCode != 0) return std::nullopt;
  SgdiskEntry info;
  info.entry.number = number;
  std::uint64_t last = 0;
  bool found = false;
  for (const std::string& line : lines(r.out)) {
    if (auto v = after(line, "Partition GUID code: "); !v.empty()) {
      info.entry.type = v.substr(0, 36);
      found = true;
    }
    if (auto v = after(line, "Partition unique GUID: "); !v.empty()) info.entry.uuid = v.substr(0, 36);
    if (auto v = after(line, "First sector: "); !v.empty()) info.entry.start = std::stoull(v);
    if (auto v = after(line, "Last sector: "); !v.empty()) last = std::stoull(v);
    if (auto v = after(line, "Attribute flags: "); !v.empty()) info.attributes = std::stoull(v, nullptr, 16);
    if (auto v = after(line, "Partition name: '"); !v.empty()) info.entry.name = v.substr(0, v.rfind('\''));
  }
  if (!found) return std::nullopt;
  info.entry.size = last - info.entry.start + 1;
  return info;
}

std::optional<SgdiskDisk> SgdiskPrint(const std::string& device) {
  RunResult r = Run({"sgdisk", "-p", device});
  if (r.exitCode != 0) return std::nullopt;
  SgdiskDisk disk;
  for (const std::string& line : lines(r.out)) {
    if (auto v = after(line, "Disk identifier (GUID): "); !v.empty()) disk.diskId = v;
    if (auto v = after(line, "Partition table holds up to "); !v.empty()) disk.entryCount = std::stoul(v);
    if (auto v = after(line, "First usable sector is "); !v.empty()) {
      disk.firstUsable = std::stoull(v);
      disk.lastUsable = std::stoull(v.substr(v.find("last usable sector is ") + 22));
    }
  }
  if (disk.diskId.empty()) return std::nullopt;
  return disk;
}

bool SgdiskVerifies(const std::string& device, std::string* report) {
  RunResult r = Run({"sgdisk", "-v", device});
  if (report != nullptr) *report = r.out + r.err;
  return r.exitCode == 0 && r.out.find("No problems found") != std::string::npos;
}

}  // namespace kestrin::test
