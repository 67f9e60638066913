#pragma once
// A fixture for running operations through Kestrin's own disk stack: an
// image file in a temporary folder, the EmulatedPort serving it as
// \\.\PhysicalDrive0 (behind a RecordingPort, so the requests can be
// checked too), a recorded message sink, and readers for what the peers
// (sfdisk, sgdisk, parted, partx) say about the image afterwards.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "EditingFixture.h"
#include "EmulatedPort.h"
#include "TestSupport.h"
#include "lib.h"

// Kept in a namespace of their own: other test helpers define similar names.
namespace kestrin::test::editing {

inline const std::string kImagePath = "\\\\.\\PhysicalDrive0";
inline constexpr std::uint64_t kImageSize = 64ull << 20;
inline constexpr std::uint64_t kSector = 512;

// One partition line of `sfdisk --dump`: its number (from the device name)
// and its fields ("start", "size", "type", "uuid", "name", ...), with the
// flag "bootable" as a field of value "1".
struct DumpedEntry {
  int number = 0;
  std::map<std::string, std::string> fields;
  std::string field(const std::string& key) const {
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
  }
};

struct SfdiskDump {
  bool ok = false;
  std::string text;
  std::map<std::string, std::string> header;  // "label", "label-id", ...
  std::vector<DumpedEntry> entries;
  const DumpedEntry* entry(int number) const {
    for (const DumpedEntry& e : entries) {
      if (e.number == number) return &e;
    }
    return nullptr;
  }
};

// TestSupport's Run under a name that gtest's Test::Run does not hide inside
// fixtures and test bodies.
inline RunResult RunPeer(const std::vector<std::string>& argv, const std::string& input = "") {
  return Run(argv, input);
}

inline std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

inline SfdiskDump DumpWithSfdisk(const std::string& image) {
  SfdiskDump dump;
  RunResult run = RunPeer({"sfdisk", "--dump", image});
  dump.ok = run.exitCode == 0;
  dump.text = run.out + run.err;
  std::size_t start = 0;
  while (start < run.out.size()) {
    std::size_t end = run.out.find('\n', start);
    if (end == std::string::npos) end = run.out.size();
    std::string line = run.out.substr(start, end - start);
    start = end + 1;
    std::size_t colon = line.find(" : ");
    if (line.rfind(image, 0) == 0 && colon != std::string::npos) {
      DumpedEntry entry;
      entry.number = std::stoi(line.substr(image.size(), colon - image.size()));
      std::string rest = line.substr(colon + 3);
      // Fields are separated by ", "; a quoted name may hold commas.
      std::size_t pos = 0;
      while (pos < rest.size()) {
        std::size_t next = pos;
        bool quoted = false;
        while (next < rest.size() && (quoted || rest[next] != ',')) {
          if (rest[next] == '"') quoted = !quoted;
          ++next;
        }
        std::string item = trim(rest.substr(pos, next - pos));
        pos = next + 1;
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
          entry.fields[item] = "1";
        } else {
          std::string value = trim(item.substr(eq + 1));
          if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
          entry.fields[trim(item.substr(0, eq))] = value;
        }
      }
      dump.entries.push_back(entry);
    } else if (std::size_t sep = line.find(": "); sep != std::string::npos) {
      dump.header[trim(line.substr(0, sep))] = trim(line.substr(sep + 2));
    }
  }
  return dump;
}

// A field of entry `number`, or a text that names the missing entry.
inline std::string FieldOf(const SfdiskDump& dump, int number, const std::string& key) {
  const DumpedEntry* entry = dump.entry(number);
  return entry == nullptr ? "<no entry " + std::to_string(number) + ">" : entry->field(key);
}

// The value after "<key>: " in the output of `sgdisk -i <n>` or `sgdisk -p`.
inline std::string SgdiskField(const std::string& output, const std::string& key) {
  std::size_t at = output.find(key + ": ");
  if (at == std::string::npos) return {};
  std::size_t from = at + key.size() + 2;
  std::size_t end = output.find('\n', from);
  return trim(output.substr(from, end == std::string::npos ? std::string::npos : end - from));
}

// The numbers of the partitions that `parted -s IMG unit B print` lists,
// each with its start and end in bytes as parted prints them ("1048576B").
inline std::map<int, std::pair<std::string, std::string>> PartedEntries(const std::string& image) {
  std::map<int, std::pair<std::string, std::string>> found;
  RunResult run = RunPeer({"parted", "-s", image, "unit", "B", "print"});
  std::size_t start = run.out.find("Number");
  if (run.exitCode != 0 || start == std::string::npos) return found;
  std::size_t pos = run.out.find('\n', start);
  while (pos != std::string::npos && pos + 1 < run.out.size()) {
    std::size_t end = run.out.find('\n', pos + 1);
    std::string line = run.out.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
    pos = end;
    std::vector<std::string> words;
    std::size_t w = 0;
    while ((w = line.find_first_not_of(' ', w)) != std::string::npos) {
      std::size_t e = line.find(' ', w);
      words.push_back(line.substr(w, e == std::string::npos ? std::string::npos : e - w));
      w = e;
    }
    if (words.size() >= 3 && std::isdigit(static_cast<unsigned char>(words[0][0]))) {
      found[std::stoi(words[0])] = {words[1], words[2]};
    }
  }
  return found;
}

// The partition numbers that `partx --show` lists, or none when it fails.
inline std::vector<int> PartxNumbers(const std::string& image) {
  std::vector<int> numbers;
  RunResult run = RunPeer({"partx", "--show", "--noheadings", "--output", "NR", image});
  if (run.exitCode != 0) return numbers;
  std::size_t pos = 0;
  while (pos < run.out.size()) {
    std::size_t end = run.out.find('\n', pos);
    if (end == std::string::npos) end = run.out.size();
    std::string word = trim(run.out.substr(pos, end - pos));
    if (!word.empty()) numbers.push_back(std::stoi(word));
    pos = end + 1;
  }
  return numbers;
}

class ImageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"sfdisk", "sgdisk", "parted", "partx"}) {
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    MakeSparseFile(image, kImageSize);
  }

  // Partitions the image with sfdisk from a script.
  void partitionWithSfdisk(const std::string& script) {
    RunResult run = RunPeer({"sfdisk", "--quiet", "--no-reread", "--no-tell-kernel", image}, script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  // Partitions the image with sgdisk and the given options.
  void partitionWithSgdisk(std::vector<std::string> options) {
    options.insert(options.begin(), "sgdisk");
    options.push_back(image);
    RunResult run = RunPeer(options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  // Writes a recognisable 4 KiB pattern at `offset`, to check afterwards
  // that an operation left the data on the disk alone.
  void writeMarker(std::uint64_t offset) {
    std::vector<std::uint8_t> marker(4096);
    for (std::size_t i = 0; i < marker.size(); ++i) marker[i] = static_cast<std::uint8_t>((offset >> 12) + i * 13);
    WriteFileRange(image, offset, marker);
    m_markers[offset] = marker;
  }
  ::testing::AssertionResult markersIntact() const {
    for (const auto& [offset, marker] : m_markers) {
      if (ReadFileRange(image, offset, marker.size()) != marker) {
        return ::testing::AssertionFailure() << "data at byte " << offset << " changed";
      }
    }
    return ::testing::AssertionSuccess();
  }

  bool hasGptSignatureAt(std::uint64_t offset) const {
    std::vector<std::uint8_t> bytes = ReadFileRange(image, offset, 8);
    return std::string(bytes.begin(), bytes.end()) == "EFI PART";
  }

  // The whole image, read in one piece.
  std::vector<std::uint8_t> imageBytes() const { return ReadFileRange(image, 0, kImageSize); }

  // The layout as Kestrin's own reader sees it now.
  LayoutBuffer currentLayout() {
    LayoutBuffer layout;
    layout.clear();
    GetDriveLayout(kImagePath, layout);
    return layout;
  }

  TempDir dir;
  std::string image = dir.file("disk.img");
  EmulatedPort stack{DiskMap{DiskSpec{image, 0}}};
  RecordingPort port{&stack};
  ScopedPort installedPort{port};
  MessageRecorder messages;
  ScopedMessageSink installedSink{messages};

 private:
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_markers;
};

// Runs `operation` once and returns how long it took, in microseconds.
template <typename Operation>
double MicrosecondsOf(Operation&& operation) {
  auto start = std::chrono::steady_clock::now();
  operation();
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(end - start).count();
}

}  // namespace kestrin::test::editing
