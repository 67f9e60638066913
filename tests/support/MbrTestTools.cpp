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
  PutBootSignature(disk, sectorOffset);
}

void PutBootSignature(std::vector<std::uint8_t>& disk, std::uint64_t sectorOffset) {
  disk.at(sectorOffset + 510) = 0x55;
  disk.at(sectorOffset + 511) = 0xAA;
}

PeerTable SfdiskJson(const std::string& image) {
  PeerTable table;
  RunResult run = Run({"sfdisk", "--json", image});
  if (run.exitCode != 0) {
    table.error = run.err;
    return table;
  }
  nlohmann::json doc = nlohmann::json::parse(run.out);
  const nlohmann::json& pt = doc.at("partitiontable");
  table.diskId = static_cast<std::uint32_t>(std::stoul(pt.at("id").get<std::string>(), nullptr, 16));
  for (const nlohmann::json& p : pt.value("partitions", nlohmann::json::array())) {
    PeerPartition part;
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

PeerTable FdiskList(const std::string& image, std::uint32_t sectorSize) {
  PeerTable table;
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
    PeerPartition part;
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

std::string MakeSfdiskImage(const std::string& image, std::uint64_t size, const std::string& script) {
  MakeSparseFile(image, size);
  RunResult run = Run({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", image}, script);
  if (run.exitCode != 0) return "sfdisk failed: " + run.err;
  return {};
}

}  // namespace kestrin::test
