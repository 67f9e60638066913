#include "MbrTestTools.h"

#include <nlohmann/json.hpp>

#include <sstream>

#include "TestSupport.h"

namespace kestrin::test {

namespace {

void putLe32(std::vector<std::uint8_t>& disk, std::uint64_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) disk.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

int numberFromNode(const std::string& node) {
  std::size_t digits = node.find_last_not_of("0123456789");
  return std::stoi(node.substr(digits == std::string::npos ? 0 : digits + 1));
}

}  // namespace

void PutMbrEntry(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset, int index, std::uint8_t bootFlag,
                 std::uint8_t type, std::uint32_t startLba, std::uint32_t sectorCount) {
  std::uint64_t entry = sectorOffset + 446 + 16 * static_cast<std::uint64_t>(index);
  for (int i = 0; i < 16; ++i) disk.at(entry + i) = 0;
  disk.at(entry) = bootFlag;
  disk.at(entry + 4) = type;
  putLe32(disk, entry + 8, startLba);
  putLe32(disk, entry + 12, sectorCount);
  PutMbrBootSignature(disk, sectorOffset);
}

void PutMbrBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset) {
  disk.at(sectorOffset + 510) = 0x55;
  disk.at(sectorOffset + 511) = 0xAA;
}

MbrPeerTable MbrSfdiskJson(const std::string& image) {
  MbrPeerTable table;
  RunResult run = Run({"sfdisk", "--json", image});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  nlohmann::json doc = nlohmann::json::parse(run.out);
  const nlohmann::json& pt = doc.at("partitiontable");
  table.diskId = static_cast<std::uint32_t>(std::stoul(pt.at("id").get<std::string>(), nullptr, 16));
  for (const nlohmann::json& p : pt.value("partitions", nlohmann::json::array())) {
    MbrPeerPartition part;
    part.number = numberFromNode(p.at("node").get<std::string>());
    part.start = p.at("start").get<std::uint64_t>();
    part.size = p.at("size").get<std::uint64_t>();
    part.type = static_cast<std::uint8_t>(std::stoul(p.at("type").get<std::string>(), nullptr, 16));
    part.bootable = p.value("bootable", false);
    table.partitions.push_back(part);
  }
  table.ok = true;
  return table;
}

MbrPeerTable MbrSfdiskDump(const std::string& image) {
  MbrPeerTable table;
  RunResult run = Run({"sfdisk", "--dump", image});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("label-id: 0x", 0) == 0) {
      table.diskId = static_cast<std::uint32_t>(std::stoul(line.substr(12), nullptr, 16));
      continue;
    }
    // "<image><n> : start=  2048, size=  8192, type=83, bootable"
    if (line.rfind(image, 0) != 0) continue;
    MbrPeerPartition part;
    part.number = std::stoi(line.substr(image.size()));
    auto field = [&line](const std::string& name) {
      std::size_t at = line.find(name + "=");
      return at == std::string::npos ? std::string() : line.substr(at + name.size() + 1);
    };
    part.start = std::stoull(field("start"));
    part.size = std::stoull(field("size"));
    part.type = static_cast<std::uint8_t>(std::stoul(field("type"), nullptr, 16));
    part.bootable = line.find("bootable") != std::string::npos;
    table.partitions.push_back(part);
  }
  table.ok = true;
  return table;
}

MbrPeerTable MbrPartxShow(const std::string& image) {
  MbrPeerTable table;
  RunResult run = Run({"partx", "--show", "-g", "-o", "NR,START,SECTORS,TYPE,FLAGS", image});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    MbrPeerPartition part;
    std::string type, flags;
    if (!(fields >> part.number >> part.start >> part.size >> type >> flags)) continue;
    part.type = static_cast<std::uint8_t>(std::stoul(type, nullptr, 16));
    part.bootable = std::stoul(flags, nullptr, 16) == 0x80;
    table.partitions.push_back(part);
  }
  table.ok = true;
  return table;
}

MbrPeerTable MbrPartedPrint(const std::string& image) {
  MbrPeerTable table;
  RunResult run = Run({"parted", "-s", image, "unit", "B", "print"});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  std::istringstream lines(run.out);
  std::string line;
  bool inTable = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Number", 0) == 0) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    // " 1      1048576B   5242879B   4194304B   primary                boot"
    std::istringstream fields(line);
    MbrPeerPartition part;
    std::string start, end, size;
    if (!(fields >> part.number >> start >> end >> size >> part.kind)) continue;
    part.start = std::stoull(start) / 512;
    part.size = std::stoull(size) / 512;
    std::string word;
    while (fields >> word) {
      if (word == "boot" || word == "boot,") part.bootable = true;
    }
    table.partitions.push_back(part);
  }
  table.ok = true;
  return table;
}

MbrPeerTable MbrFdiskList(const std::string& image, std::uint32_t sectorSize) {
  MbrPeerTable table;
  RunResult run = Run({"fdisk", "-b", std::to_string(sectorSize), "-l", "-o", "Device,Boot,Start,Sectors,Id", image});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("Disk identifier: 0x", 0) == 0) {
      table.diskId = static_cast<std::uint32_t>(std::stoul(line.substr(19), nullptr, 16));
      continue;
    }
    if (line.rfind(image, 0) != 0) continue;
    // "<image><n> [*] start sectors id"
    std::istringstream fields(line.substr(image.size()));
    MbrPeerPartition part;
    std::string boot, id;
    fields >> part.number;
    if (line.find('*') != std::string::npos) {
      fields >> boot;
      part.bootable = true;
    }
    fields >> part.start >> part.size >> id;
    part.type = static_cast<std::uint8_t>(std::stoul(id, nullptr, 16));
    table.partitions.push_back(part);
  }
  table.ok = true;
  return table;
}

std::string MakeMbrSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script) {
  MakeSparseFile(image, size);
  RunResult run = Run({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", image}, script);
  if (run.exitCode != 0) return "sfdisk failed: " + run.err;
  return {};
}

}  // namespace kestrin::test
