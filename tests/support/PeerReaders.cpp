#include "PeerReaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "TestSupport.h"

namespace kestrin::test {

namespace {

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The rest of `line` after `prefix`, or "" when it does not start so.
std::string after(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

bool isGuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// GUIDs in upper case; anything else (an MBR type byte, an MBR disk id, a
// type code) in lower case, a type without its "0x".
std::string guidOrLower(const std::string& text) { return isGuid(text) ? upper(text) : lower(text); }
std::string typeText(const std::string& text) {
  std::string spelled = guidOrLower(text);
  return spelled.rfind("0x", 0) == 0 ? spelled.substr(2) : spelled;
}

// The partition number at the end of a node name ("img3", "/dev/loop0p3").
int trailingNumber(const std::string& node) {
  std::size_t digits = node.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) --digits;
  return digits == node.size() ? 0 : std::stoi(node.substr(digits));
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

// Runs a peer and keeps what it wrote in a fresh table.
PeerTable ran(const std::vector<std::string>& argv, RunResult& run) {
  run = Run(argv);
  PeerTable table;
  table.output = run.out;
  table.error = run.err;
  return table;
}

// One partition line of sfdisk --dump after its " : ": "key=value" fields
// separated by ", " (a quoted value may hold commas) and bare flags.
PeerPartition sfdiskPartition(const std::string& node, const std::string& fields) {
  PeerPartition p;
  p.number = trailingNumber(node);
  std::size_t pos = 0;
  while (pos < fields.size()) {
    std::size_t next = pos;
    bool quoted = false;
    while (next < fields.size() && (quoted || fields[next] != ',')) {
      if (fields[next] == '"') quoted = !quoted;
      ++next;
    }
    std::string item = trim(fields.substr(pos, next - pos));
    pos = next + 1;
    std::size_t equals = item.find('=');
    std::string key = trim(item.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : trim(item.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (key == "start") p.start = std::stoull(value);
    if (key == "size") p.size = std::stoull(value);
    if (key == "type") p.type = typeText(value);
    if (key == "uuid") p.uuid = upper(value);
    if (key == "name") p.name = value;
    if (key == "bootable") p.bootable = true;
  }
  return p;
}

}  // namespace

std::uint8_t PeerPartition::mbrType() const {
  return type.empty() ? 0 : static_cast<std::uint8_t>(std::stoul(type, nullptr, 16));
}

std::uint32_t PeerTable::mbrId() const {
  return id.empty() ? 0 : static_cast<std::uint32_t>(std::stoul(id, nullptr, 16));
}

std::vector<int> PeerTable::numbers() const {
  std::vector<int> out;
  for (const PeerPartition& p : partitions) out.push_back(p.number);
  return out;
}

std::map<int, std::pair<std::uint64_t, std::uint64_t>> PeerTable::byNumber() const {
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> out;
  for (const PeerPartition& p : partitions) out[p.number] = {p.start, p.size};
  return out;
}

PeerPartition PeerTable::partition(int number) const {
  for (const PeerPartition& p : partitions) {
    if (p.number == number) return p;
  }
  PeerPartition missing;
  missing.start = missing.size = std::numeric_limits<std::uint64_t>::max();
  missing.type = missing.uuid = missing.name = missing.kind = "<no partition " + std::to_string(number) + ">";
  return missing;
}

PeerTable SfdiskDump(const std::string& device) {
  RunResult run;
  PeerTable table = ran({"sfdisk", "--dump", device}, run);
  table.ok = run.exitCode == 0;
  for (const std::string& line : lines(run.out)) {
    std::size_t colon = line.find(" : ");
    if (colon != std::string::npos) {
      table.partitions.push_back(sfdiskPartition(line.substr(0, colon), line.substr(colon + 3)));
      continue;
    }
    if (auto v = after(line, "label: "); !v.empty()) table.label = v;
    if (auto v = after(line, "label-id: "); !v.empty()) table.id = guidOrLower(v);
    if (auto v = after(line, "first-lba: "); !v.empty()) table.firstUsable = std::stoull(v);
    if (auto v = after(line, "last-lba: "); !v.empty()) table.lastUsable = std::stoull(v);
    if (auto v = after(line, "sector-size: "); !v.empty()) table.unit = std::stoull(v);
  }
  return table;
}

PeerTable SfdiskJson(const std::string& device) {
  RunResult run;
  PeerTable table = ran({"sfdisk", "--json", device}, run);
  if (run.exitCode != 0 || run.out.empty()) return table;
  // Warnings about the table ("omitting empty partition (6)") come first.
  std::size_t start = run.out.rfind("\n{", run.out.find("\"partitiontable\""));
  nlohmann::json parsed =
      nlohmann::json::parse(run.out.substr(start == std::string::npos ? 0 : start + 1), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("partitiontable")) {
    ADD_FAILURE() << "sfdisk --json " << device << " printed no partition table: " << run.out;
    return table;
  }
  const nlohmann::json& pt = parsed["partitiontable"];
  table.ok = true;
  table.label = pt.value("label", "");
  table.id = guidOrLower(pt.value("id", ""));
  table.unit = pt.value("sectorsize", 512ull);
  table.firstUsable = pt.value("firstlba", 0ull);
  table.lastUsable = pt.value("lastlba", 0ull);
  for (const nlohmann::json& entry : pt.value("partitions", nlohmann::json::array())) {
    PeerPartition p;
    p.number = trailingNumber(entry.value("node", ""));
    p.start = entry.value("start", 0ull);
    p.size = entry.value("size", 0ull);
    p.type = typeText(entry.value("type", ""));
    p.uuid = upper(entry.value("uuid", ""));
    p.name = entry.value("name", "");
    p.bootable = entry.value("bootable", false);
    table.partitions.push_back(p);
  }
  return table;
}

bool SfdiskVerifies(const std::string& device, std::string* report) {
  RunResult run = Run({"sfdisk", "--verify", device});
  if (report != nullptr) *report = run.out + run.err;
  return run.exitCode == 0;
}

PeerTable SgdiskPrint(const std::string& device) {
  RunResult run;
  PeerTable table = ran({"sgdisk", "-p", device}, run);
  if (run.exitCode != 0 || run.out.find("GPT: not present") != std::string::npos) return table;
  table.label = "gpt";
  bool inTable = false;
  for (const std::string& line : lines(run.out)) {
    if (auto v = after(line, "Disk identifier (GUID): "); !v.empty()) table.id = upper(trim(v));
    if (auto v = after(line, "Partition table holds up to "); !v.empty()) table.entryCount = std::stoul(v);
    if (auto v = after(line, "First usable sector is "); !v.empty()) {
      table.firstUsable = std::stoull(v);
      table.lastUsable = std::stoull(v.substr(v.find("last usable sector is ") + 22));
    }
    if (line.rfind("Sector size (logical", 0) == 0) table.unit = std::stoull(line.substr(line.find(": ") + 2));
    if (line.rfind("Number", 0) == 0) {
      inTable = true;
      continue;
    }
    // "   1            2048           34815   16.0 MiB    8300  Linux filesystem"
    std::istringstream words(line);
    PeerPartition p;
    std::uint64_t last = 0;
    std::string size, unit;
    if (!inTable || !(words >> p.number >> p.start >> last >> size >> unit >> p.type)) continue;
    p.size = last - p.start + 1;
    p.type = lower(p.type);
    std::getline(words, p.name);
    p.name = trim(p.name);
    table.partitions.push_back(p);
  }
  table.ok = !table.id.empty();
  return table;
}

std::optional<PeerPartition> SgdiskInfo(const std::string& device, int number) {
  RunResult run = Run({"sgdisk", "-i", std::to_string(number), device});
  if (run.exitCode != 0) return std::nullopt;
  PeerPartition p;
  p.number = number;
  std::uint64_t last = 0;
  bool found = false;
  for (const std::string& line : lines(run.out)) {
    if (auto v = after(line, "Partition GUID code: "); !v.empty()) {
      p.type = upper(v.substr(0, 36));
      found = true;
    }
    if (auto v = after(line, "Partition unique GUID: "); !v.empty()) p.uuid = upper(v.substr(0, 36));
    if (auto v = after(line, "First sector: "); !v.empty()) p.start = std::stoull(v);
    if (auto v = after(line, "Last sector: "); !v.empty()) last = std::stoull(v);
    if (auto v = after(line, "Attribute flags: "); !v.empty()) p.attributes = std::stoull(v, nullptr, 16);
    if (auto v = after(line, "Partition name: '"); !v.empty()) p.name = v.substr(0, v.rfind('\''));
  }
  if (!found) return std::nullopt;
  p.size = last - p.start + 1;
  return p;
}

bool SgdiskVerifies(const std::string& device, std::string* report) {
  RunResult run = Run({"sgdisk", "-v", device});
  if (report != nullptr) *report = run.out + run.err;
  return run.exitCode == 0 && run.out.find("No problems found") != std::string::npos;
}

PeerTable PartedPrint(const std::string& device) {
  RunResult run;
  PeerTable table = ran({"parted", "-s", device, "unit", "B", "print"}, run);
  table.ok = run.exitCode == 0;
  table.unit = 1;
  // The columns stand where their titles stand in the heading line; a GPT
  // name may hold blanks.
  std::vector<std::pair<std::size_t, std::string>> columns;
  for (const std::string& line : lines(run.out)) {
    if (auto v = after(line, "Partition Table: "); !v.empty()) table.label = trim(v);
    if (line.rfind("Number", 0) == 0) {
      for (const char* title : {"Number", "Start", "End", "Size", "Type", "File system", "Name", "Flags"}) {
        if (std::size_t at = line.find(title); at != std::string::npos) columns.emplace_back(at, title);
      }
      std::sort(columns.begin(), columns.end());
      continue;
    }
    if (columns.empty() || trim(line).empty()) continue;
    std::map<std::string, std::string> cell;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      std::size_t from = columns[c].first;
      std::size_t to = c + 1 < columns.size() ? columns[c + 1].first : std::string::npos;
      cell[columns[c].second] =
          from < line.size() ? trim(line.substr(from, to == std::string::npos ? to : to - from)) : "";
    }
    PeerPartition p;
    p.number = std::stoi(cell["Number"]);
    p.start = std::stoull(cell["Start"]);  // "1048576B": stoull stops at the unit
    p.size = std::stoull(cell["Size"]);
    p.kind = cell["Type"];
    p.name = cell["Name"];
    std::istringstream flags(cell["Flags"]);
    for (std::string flag; std::getline(flags, flag, ',');) p.bootable = p.bootable || trim(flag) == "boot";
    table.partitions.push_back(p);
  }
  return table;
}

PeerTable PartxShow(const std::string& device) {
  RunResult run;
  PeerTable table = ran({"partx", "--raw", "--noheadings", "-o", "NR,START,SECTORS,TYPE,FLAGS,UUID,NAME", device}, run);
  table.ok = run.exitCode == 0;
  for (const std::string& line : lines(run.out)) {
    // Blanks within a field come escaped, so a blank always separates two.
    std::vector<std::string> f;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ' ');) f.push_back(field);
    if (f.size() < 6) continue;
    PeerPartition p;
    p.number = std::stoi(f[0]);
    p.start = std::stoull(f[1]);
    p.size = std::stoull(f[2]);
    p.type = typeText(f[3]);
    p.attributes = f[4].empty() ? 0 : std::stoull(f[4], nullptr, 16);
    p.uuid = guidOrLower(f[5]);
    p.bootable = !isGuid(p.type) && p.attributes == 0x80;
    p.name = f.size() > 6 ? unescape(f[6]) : "";
    table.partitions.push_back(p);
  }
  return table;
}

PeerTable FdiskList(const std::string& image, std::uint32_t sectorSize) {
  RunResult run;
  PeerTable table =
      ran({"fdisk", "-b", std::to_string(sectorSize), "-l", "-o", "Device,Boot,Start,Sectors,Id", image}, run);
  table.ok = run.exitCode == 0;
  table.unit = sectorSize;
  for (const std::string& line : lines(run.out)) {
    if (auto v = after(line, "Disklabel type: "); !v.empty()) table.label = v;
    if (auto v = after(line, "Disk identifier: "); !v.empty()) table.id = guidOrLower(v);
    if (line.rfind(image, 0) != 0) continue;
    // "<image><n> [*] start sectors id"
    std::istringstream fields(line.substr(image.size()));
    PeerPartition p;
    std::string boot;
    fields >> p.number;
    if (line.find('*') != std::string::npos) {
      fields >> boot;
      p.bootable = true;
    }
    fields >> p.start >> p.size >> p.type;
    p.type = typeText(p.type);
    table.partitions.push_back(p);
  }
  return table;
}

::testing::AssertionResult SfdiskAccepts(const std::string& device) {
  std::string report;
  return SfdiskVerifies(device, &report) ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << report;
}

::testing::AssertionResult SgdiskAccepts(const std::string& device) {
  std::string report;
  return SgdiskVerifies(device, &report) ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << report;
}

std::string PeerGuidText(const Guid& guid) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text;
  char digits[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    std::snprintf(digits, sizeof digits, "%02X", guid.bytes[kOrder[i]]);
    text += digits;
  }
  return text;
}

namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

bool isContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool isLink(int entry) { return entry > 4 && (entry - 5) % 4 == 1; }

bool slotIsAllZero(const LayoutBuffer& layout, int entry) {
  auto bytes = layout.slot(entry).bytes();
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void expectMbr(const LayoutBuffer& layout, const PeerTable& peer, std::uint32_t sectorSize, bool decoded) {
  EXPECT_EQ(layout.partitionStyle(), kStyleMbr);
  // The peer lists the primaries by slot and the logical drives numbered
  // from 5 in chain order; no links.
  std::vector<int> entries;
  for (int entry = 1; entry <= static_cast<int>(layout.partitionCount()); ++entry) {
    if (layout.slot(entry).mbrPartitionType() != 0 && !isLink(entry)) entries.push_back(entry);
  }
  ASSERT_EQ(peer.partitions.size(), entries.size());
  std::vector<bool> listed(65, false);
  std::uint32_t realNumber = 0;
  int nextLogical = 5;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PeerPartition& seen = peer.partitions[i];
    const int entry = entries[i];
    ConstLayoutSlot slot = layout.slot(entry);
    SCOPED_TRACE("partition " + std::to_string(seen.number) + ", slot " + std::to_string(entry));
    EXPECT_EQ(seen.number, entry <= 4 ? entry : nextLogical++);
    EXPECT_EQ(seen.start * peer.unit, static_cast<std::uint64_t>(slot.startingOffset()));
    EXPECT_EQ(seen.size * peer.unit, static_cast<std::uint64_t>(slot.partitionLength()));
    EXPECT_EQ(slot.mbrBootIndicator(), seen.bootable ? 1 : 0);
    bool container = isContainer(slot.mbrPartitionType());
    if (seen.kind.empty()) {
      EXPECT_EQ(seen.mbrType(), slot.mbrPartitionType());
    } else {
      EXPECT_EQ(seen.kind, entry > 4 ? "logical" : container ? "extended" : "primary");
    }
    if (!decoded) continue;
    EXPECT_EQ(entry, seen.number <= 4 ? seen.number : 5 + 4 * (seen.number - 5));
    listed[entry] = true;
    EXPECT_EQ(slot.mbrRecognizedPartition(), container ? 0 : 1);
    EXPECT_EQ(slot.partitionNumber(), container ? 0u : ++realNumber);
    if (seen.number <= 4) {
      EXPECT_EQ(slot.mbrHiddenSectors(), seen.start * peer.unit / sectorSize);
    }
  }
  if (!decoded) return;
  EXPECT_EQ(layout.mbrSignature(), peer.mbrId());
  int logicals = static_cast<int>(std::count_if(peer.partitions.begin(), peer.partitions.end(),
                                                [](const PeerPartition& p) { return p.number > 4; }));
  EXPECT_EQ(layout.partitionCount(), static_cast<std::uint32_t>(4 + 4 * logicals));
  for (int entry = 1; entry <= static_cast<int>(layout.partitionCount()); ++entry) {
    if (!listed[entry] && !isLink(entry)) {
      EXPECT_TRUE(slotIsAllZero(layout, entry)) << "slot " << entry;
    }
  }
  // Each link points at the EBR of the next logical drive: the EBR plus the
  // logical's own offset from it is where the peer sees that drive start.
  for (int group = 0; group < logicals; ++group) {
    ConstLayoutSlot link = layout.slot(6 + 4 * group);
    if (group + 1 == logicals) {
      EXPECT_EQ(link.mbrPartitionType(), 0) << "the last EBR has no link";
      continue;
    }
    ConstLayoutSlot next = layout.slot(9 + 4 * group);
    EXPECT_TRUE(link.mbrPartitionType() == 0x05 || link.mbrPartitionType() == 0x0F);
    EXPECT_EQ(link.partitionNumber(), 0u);
    EXPECT_EQ(link.startingOffset() + std::int64_t{next.mbrHiddenSectors()} * sectorSize, next.startingOffset());
    EXPECT_GT(next.mbrHiddenSectors(), 0u);
  }
}

void expectGpt(const LayoutBuffer& layout, PeerTable peer, Peer which, const std::string& device,
               std::uint32_t sectorSize) {
  if (which == Peer::Sgdisk) {
    EXPECT_EQ(layout.gptMaxPartitionCount(), peer.entryCount);
    return;
  }
  if (which != Peer::Partx) ASSERT_EQ(peer.label, "gpt");
  if (which == Peer::SfdiskDump) {
    EXPECT_EQ(PeerGuidText(layout.gptDiskId()), peer.id);
    EXPECT_EQ(layout.gptStartingUsableOffset(), static_cast<std::int64_t>(peer.firstUsable * sectorSize));
    EXPECT_EQ(layout.gptUsableLength(),
              static_cast<std::int64_t>((peer.lastUsable - peer.firstUsable + 1) * sectorSize));
  }
  // parted lists by place on the disk; the layout is in array order.
  std::sort(peer.partitions.begin(), peer.partitions.end(),
            [](const PeerPartition& a, const PeerPartition& b) { return a.number < b.number; });
  ASSERT_EQ(peer.partitions.size(), layout.partitionCount());
  for (std::size_t i = 0; i < peer.partitions.size(); ++i) {
    const PeerPartition& seen = peer.partitions[i];
    ConstLayoutSlot slot = layout.slot(static_cast<int>(i + 1));
    SCOPED_TRACE("entry " + std::to_string(seen.number));
    EXPECT_EQ(static_cast<std::uint32_t>(seen.number), slot.partitionNumber());
    EXPECT_EQ(seen.start * peer.unit, static_cast<std::uint64_t>(slot.startingOffset()));
    EXPECT_EQ(seen.size * peer.unit, static_cast<std::uint64_t>(slot.partitionLength()));
    EXPECT_EQ(seen.name, narrow(slot.gptName()));
    if (which == Peer::Parted) continue;  // parted shows neither type nor unique GUID
    EXPECT_EQ(seen.type, PeerGuidText(slot.gptPartitionType()));
    EXPECT_EQ(seen.uuid, PeerGuidText(slot.gptPartitionId()));
    if (which != Peer::SfdiskDump) continue;
    EXPECT_EQ(slot.style(), kStyleGpt);
    auto info = SgdiskInfo(device, seen.number);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(slot.gptAttributes(), info->attributes);
  }
}

}  // namespace

void ExpectPeersSeeLayout(const LayoutBuffer& layout, const std::string& device, std::uint32_t sectorSize,
                          const std::vector<Peer>& peers, bool decoded) {
  for (Peer which : peers) {
    static const char* const kNames[] = {"sfdisk --dump", "sfdisk --json", "sgdisk -p",
                                         "parted print",  "partx --show",  "fdisk -l"};
    SCOPED_TRACE(kNames[static_cast<int>(which)]);
    const PeerTable peer = which == Peer::SfdiskDump ? SfdiskDump(device)
                           : which == Peer::SfdiskJson ? SfdiskJson(device)
                           : which == Peer::Sgdisk     ? SgdiskPrint(device)
                           : which == Peer::Parted     ? PartedPrint(device)
                           : which == Peer::Partx      ? PartxShow(device)
                                                       : FdiskList(device, sectorSize);
    ASSERT_TRUE(peer.ok) << device << "\n" << peer.text();
    if (layout.partitionStyle() == kStyleGpt) {
      expectGpt(layout, peer, which, device, sectorSize);
    } else {
      expectMbr(layout, peer, sectorSize, decoded);
    }
  }
}

}  // namespace kestrin::test
