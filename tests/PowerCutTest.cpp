// Power cuts in the middle of every operation that writes a table. Each
// operation runs through the port on an image made by sfdisk or sgdisk,
// with a RecordingMedium noting every write and flush. Then the disk is
// rebuilt as a cut at every point would have left it (after each write,
// and inside each multi-sector write at every sector boundary) and read
// back: it must read as the layout before the operation or the layout
// after it, never an error and never a third layout. Writes issued without
// a flush between them may reach the disk in any order, so every subset of
// such a group is checked too. On a sample of the cut images the peers
// read the disk as well and must find the old or the new table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "EmulatedPort.h"
#include "GptTable.h"
#include "Guid.h"
#include "LayoutBuffer.h"
#include "LayoutCodec.h"
#include "MessageRecorder.h"
#include "OpenMedium.h"
#include "PartitionedLoopDevice.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "RecordingMedium.h"
#include "TestSupport.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

const std::string kDisk = "\\\\.\\PhysicalDrive0";
constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint64_t kImageSize = 16 * kMiB;
// Writes of a group without flushes are checked in every order up to this
// group size; larger groups only as prefixes.
constexpr std::size_t kMaxReorderedGroup = 10;
// Cut images checked with the peers per operation, at most.
constexpr std::size_t kPeerSamples = 5;

// Figures across the whole program, printed at the end.
struct Totals {
  std::size_t operations = 0;
  std::size_t cutPoints = 0;
  std::size_t reorderedImages = 0;
  std::size_t peerChecks = 0;
  std::size_t sgdiskRefusals = 0;
};
Totals g_totals;

class TotalsReport : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "[ power cuts ] " << g_totals.operations << " operations, " << g_totals.cutPoints << " cut points, "
              << g_totals.reorderedImages << " images of writes reordered within a flush, " << g_totals.peerChecks
              << " cut images checked by the peers (sgdisk refused " << g_totals.sgdiskRefusals
              << " with GPT leftovers beside a new MBR)\n";
  }
};
const auto* const g_report = ::testing::AddGlobalTestEnvironment(new TotalsReport);

enum class DiskKind { Mbr, MbrWithLogicalDrives, Gpt512, Gpt4096 };

std::string kindName(DiskKind kind) {
  switch (kind) {
    case DiskKind::Mbr:
      return "MBR";
    case DiskKind::MbrWithLogicalDrives:
      return "MBR with logical drives";
    case DiskKind::Gpt512:
      return "GPT, 512-byte sectors";
    case DiskKind::Gpt4096:
      return "GPT, 4096-byte sectors";
  }
  return "?";
}

// Three primaries, slot 4 free.
const std::string kMbrScript =
    "label: dos\nlabel-id: 0x5EC70A11\n"
    "start=2048, size=4096, type=83, bootable\n"
    "start=6144, size=4096, type=7\n"
    "start=10240, size=4096, type=c\n";

// One primary, an extended partition with three logical drives, slots 3
// and 4 free.
const std::string kLogicalScript =
    "label: dos\nlabel-id: 0x10C1CA15\n"
    "start=2048, size=4096, type=83\n"
    "start=6144, size=16384, type=5\n"
    "start=8192, size=2048, type=83\n"
    "start=12288, size=2048, type=7\n"
    "start=16384, size=2048, type=82\n";

// Three partitions at 1, 3 and 5 MiB, whatever the sector size.
std::vector<std::string> gptOptions(std::uint32_t sectorSize) {
  std::string first = std::to_string(kMiB / sectorSize);
  return {"-o",
          "-n",
          "1:" + first + ":+2M",
          "-c",
          "1:root",
          "-n",
          "2:0:+2M",
          "-t",
          "2:8200",
          "-n",
          "3:0:+2M",
          "-t",
          "3:ef00",
          "-A",
          "3:set:0",
          "-U",
          "5EC70A11-0000-4000-8000-000000000001"};
}

// What a peer, or Kestrin, finds on a disk: the kind of table and its
// partitions as (first sector, sectors, type as PeerReaders spell it).
struct DiskView {
  std::string label;  // "dos", "gpt" or "none"
  std::set<std::tuple<std::uint64_t, std::uint64_t, std::string>> partitions;
  friend bool operator==(const DiskView&, const DiskView&) = default;
};

std::string describe(const DiskView& view) {
  std::string text = view.label + ":";
  for (const auto& [start, size, type] : view.partitions) {
    text += " " + std::to_string(start) + "+" + std::to_string(size) + "/" + type;
  }
  return text;
}

DiskView viewOf(const LayoutBuffer& layout, std::uint32_t sectorSize) {
  DiskView view;
  if (layout.partitionStyle() == kStyleRaw) {
    view.label = "none";
    return view;
  }
  bool gpt = layout.partitionStyle() == kStyleGpt;
  view.label = gpt ? "gpt" : "dos";
  for (std::uint32_t k = 1; k <= layout.partitionCount(); ++k) {
    auto slot = layout.slot(static_cast<int>(k));
    std::string type;
    if (gpt) {
      type = PeerGuidText(slot.gptPartitionType());
    } else {
      // The links of the EBR chain are no partitions of their own.
      if (slot.mbrPartitionType() == 0 || (k > 4 && slot.partitionNumber() == 0)) continue;
      char hex[4];
      std::snprintf(hex, sizeof hex, "%x", slot.mbrPartitionType());
      type = hex;
    }
    view.partitions.emplace(static_cast<std::uint64_t>(slot.startingOffset()) / sectorSize,
                            static_cast<std::uint64_t>(slot.partitionLength()) / sectorSize, type);
  }
  return view;
}

// A peer's table as a view: "none" when the peer finds no table.
DiskView viewOf(const PeerTable& table) {
  DiskView view;
  view.label = table.label.empty() ? "none" : table.label;
  for (const PeerPartition& p : table.partitions) view.partitions.emplace(p.start, p.size, p.type);
  return view;
}

std::vector<std::uint8_t> readWhole(const std::string& path) { return ReadFileBytes(path); }

void writeWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  MakeSparseFile(path, 0);
  WriteFileRange(path, 0, bytes);
}

// What the peers make of one image.
struct PeerReading {
  bool available = false;
  DiskView sfdisk;
  bool sfdiskVerifies = false;
  std::string sfdiskReport;
  DiskView sgdisk;
  bool sgdiskVerifies = false;
  std::string sgdiskReport;
};

std::uint32_t sectorSizeOf(DiskKind kind) { return kind == DiskKind::Gpt4096 ? 4096 : 512; }

class PowerCut : public ::testing::Test {
 protected:
  using Operation = std::function<bool()>;

  void SetUp() override {
    for (const char* tool : {"sfdisk", "sgdisk"}) {
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }

  // Makes the image of `kind` with the peers, keeps a copy of it and
  // serves it as disk 0 through a port that records the medium's traffic.
  void makeDisk(DiskKind kind) {
    m_kind = kind;
    m_sectorSize = sectorSizeOf(kind);
    MakeSparseFile(m_image, kImageSize);
    if (kind == DiskKind::Mbr || kind == DiskKind::MbrWithLogicalDrives) {
      writeLeftovers();
      ASSERT_EQ(PartitionWithSfdisk(m_image, kind == DiskKind::Mbr ? kMbrScript : kLogicalScript), "");
    } else if (kind == DiskKind::Gpt512) {
      ASSERT_EQ(PartitionWithSgdisk(m_image, gptOptions(512)), "");
    } else {
      PartitionedLoopDevice loop(m_image, 4096, LoopAccess::ReadWrite, LoopPartitions::None);
      if (!loop.attached()) GTEST_SKIP() << loop.failure();
      ASSERT_EQ(PartitionWithSgdisk(loop.path(), gptOptions(4096)), "");
    }
    m_journal = std::make_unique<MediumJournal>(m_sectorSize);
    EmulatedPort::MediumOpener opener = [this](const DiskSpec& spec, bool writable, std::uint32_t& error) {
      std::unique_ptr<Medium> inner = OpenMedium(spec, writable, error);
      if (!inner) return inner;
      return std::unique_ptr<Medium>(std::make_unique<RecordingMedium>(std::move(inner), *m_journal));
    };
    m_installed.reset();
    m_stack = std::make_unique<EmulatedPort>(DiskMap{DiskSpec{m_image, m_sectorSize}}, opener);
    m_installed = std::make_unique<ScopedPort>(*m_stack);
  }

  // An MBR disk rarely has zeros where a GPT would go: a boot loader lives
  // in the sectors after sector 0, and the end of the disk holds old data.
  // Filling both (every fourth sector left zero) makes a new GPT's arrays
  // go out as long writes, torn at every sector, and as several writes
  // under one flush.
  void writeLeftovers() {
    constexpr std::uint64_t kSectors = 2047;
    std::vector<std::uint8_t> pattern(kSectors * 512);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      pattern[i] = (i / 512) % 4 == 3 ? 0 : static_cast<std::uint8_t>(0x5A ^ (i * 7));
    }
    WriteFileRange(m_image, 512, pattern);
    WriteFileRange(m_image, kImageSize - pattern.size(), pattern);
  }

  // Runs `prepare` (not under test), then `operation` with every write
  // recorded, and checks every cut point of it.
  void checkEveryCut(const std::string& what, const Operation& operation, const Operation& prepare = {}) {
    SCOPED_TRACE(kindName(m_kind) + ": " + what);
    if (prepare) {
      ASSERT_TRUE(prepare()) << "preparing failed: " << join(m_messages.shown);
    }
    std::vector<std::uint8_t> original = readWhole(m_image);
    *m_journal = MediumJournal(m_sectorSize);

    ASSERT_TRUE(operation()) << join(m_messages.shown);
    ASSERT_TRUE(m_messages.shown.empty()) << join(m_messages.shown);
    std::vector<std::uint8_t> final = readWhole(m_image);

    LayoutBuffer oldLayout = decode(original);
    LayoutBuffer newLayout = decode(final);
    ASSERT_FALSE(sameBytes(oldLayout, newLayout)) << "the operation changed nothing that reads back";
    ASSERT_GT(m_journal->writeCount(), 0u);
    // The journal must account for every byte that changed.
    std::vector<CutPoint> cuts = m_journal->cutPoints();
    std::vector<std::uint8_t> replayed = original;
    m_journal->replay(replayed, cuts.back());
    ASSERT_TRUE(replayed == final) << "the journal does not rebuild the written image";

    std::vector<std::size_t> flips;  // cut indices where the reading changes
    bool wasOld = true;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
      std::vector<std::uint8_t> cut = original;
      m_journal->replay(cut, cuts[i]);
      bool isOld = expectOldOrNew(cut, oldLayout, newLayout, describeCut(cuts[i]));
      if (isOld != wasOld) flips.push_back(i);
      wasOld = isOld;
    }
    EXPECT_FALSE(wasOld) << "the completed operation reads as the old layout";
    std::size_t reorderings = checkReorderedGroups(original, oldLayout, newLayout);

    ++g_totals.operations;
    g_totals.cutPoints += cuts.size();
    g_totals.reorderedImages += reorderings;
    std::cout << "[ cuts ] " << kindName(m_kind) << ": " << what << ": " << m_journal->writeCount() << " writes, "
              << m_journal->flushCount() << " flushes, " << cuts.size() << " cut points\n";

    // The cuts on either side of each change of reading, and one in the
    // middle; the first and the last are the images read as before and after.
    std::set<std::size_t> sample{cuts.size() / 2};
    for (std::size_t flip : flips) {
      sample.insert(flip);
      if (flip > 0) sample.insert(flip - 1);
    }
    sample.erase(0);
    sample.erase(cuts.size() - 1);
    PeerReading before = readWithPeers(original);
    PeerReading after = readWithPeers(final);
    std::size_t taken = 0;
    for (std::size_t index : sample) {
      if (taken++ == kPeerSamples) break;
      std::vector<std::uint8_t> cut = original;
      m_journal->replay(cut, cuts[index]);
      bool readsAsGpt = decode(cut).partitionStyle() == kStyleGpt;
      checkWithPeers(cut, before, after, readsAsGpt, newLayout.partitionStyle() == kStyleGpt, describeCut(cuts[index]));
    }
  }

  // Reads `image` with the codec and checks it is one of the two layouts.
  // Returns true when it is the old one.
  bool expectOldOrNew(const std::vector<std::uint8_t>& image, const LayoutBuffer& oldLayout,
                      const LayoutBuffer& newLayout, const std::string& where) {
    LayoutBuffer read;
    ByteImageReader reader(image, m_sectorSize);
    std::uint32_t error = DecodeLayout(reader, read);
    EXPECT_EQ(error, ERROR_SUCCESS) << where << "\n" << m_journal->describe();
    bool isOld = sameBytes(read, oldLayout);
    bool isNew = sameBytes(read, newLayout);
    EXPECT_TRUE(isOld || isNew) << where << " reads as a third layout: " << describe(viewOf(read, m_sectorSize))
                                << "\nold: " << describe(viewOf(oldLayout, m_sectorSize))
                                << "\nnew: " << describe(viewOf(newLayout, m_sectorSize)) << "\n"
                                << m_journal->describe();
    return isOld;
  }

  // Every subset of each group of writes issued without a flush between
  // them, on top of everything flushed before the group. Returns the
  // number of images checked.
  std::size_t checkReorderedGroups(const std::vector<std::uint8_t>& original, const LayoutBuffer& oldLayout,
                                   const LayoutBuffer& newLayout) {
    std::size_t checked = 0;
    for (const auto& [first, count] : m_journal->unflushedGroups()) {
      if (count < 2 || count > kMaxReorderedGroup) continue;
      std::vector<std::uint8_t> before = original;
      m_journal->replay(before, CutPoint{first, 0});
      for (std::uint64_t subset = 1; subset + 1 < (1ull << count); ++subset) {
        std::vector<std::uint8_t> cut = before;
        m_journal->replaySubset(cut, first, count, subset);
        expectOldOrNew(cut, oldLayout, newLayout,
                       "writes " + std::to_string(first) + ".." + std::to_string(first + count - 1) + " subset " +
                           std::to_string(subset));
        ++checked;
      }
    }
    return checked;
  }

  // The peers must read the cut image as they read the image before the
  // operation or as they read it after. sfdisk --verify must pass on the
  // cut wherever it passes on both ends. sgdisk -v names every difference
  // between the two GPT copies, which a cut between the writes of the two
  // necessarily leaves; it must find no problem on the cuts that read as
  // a GPT whose two copies are whole and hold the same table.
  void checkWithPeers(const std::vector<std::uint8_t>& cut, const PeerReading& before, const PeerReading& after,
                      bool readsAsGpt, bool newIsGpt, const std::string& where) {
    PeerReading now = readWithPeers(cut);
    if (!now.available) return;
    ++g_totals.peerChecks;
    EXPECT_TRUE(now.sfdisk == before.sfdisk || now.sfdisk == after.sfdisk)
        << where << ": sfdisk reads " << describe(now.sfdisk) << "\nbefore: " << describe(before.sfdisk)
        << "\nafter: " << describe(after.sfdisk);
    if (before.sfdiskVerifies && after.sfdiskVerifies) {
      EXPECT_TRUE(now.sfdiskVerifies) << where << ": sfdisk --verify: " << now.sfdiskReport;
    }
    if (!isGpt()) return;
    // sgdisk refuses a disk that holds an MBR of its own beside what is
    // left of a GPT, which no order of writes can avoid while a GPT is
    // taken away; it must read anything else as one of the two tables.
    bool refusesLeftovers = now.sgdisk.label == "none" && before.sgdisk.label == "gpt" && !newIsGpt;
    if (refusesLeftovers) ++g_totals.sgdiskRefusals;
    EXPECT_TRUE(now.sgdisk == before.sgdisk || now.sgdisk == after.sgdisk || refusesLeftovers)
        << where << ": sgdisk reads " << describe(now.sgdisk) << "\nbefore: " << describe(before.sgdisk)
        << "\nafter: " << describe(after.sgdisk);
    if (before.sgdiskVerifies && after.sgdiskVerifies && readsAsGpt && copiesAgree(cut)) {
      EXPECT_TRUE(now.sgdiskVerifies) << where << ": sgdisk -v: " << now.sgdiskReport;
    }
  }

  bool isGpt() const { return m_kind == DiskKind::Gpt512 || m_kind == DiskKind::Gpt4096; }

  // True when both GPT copies of `bytes` are valid and describe the same
  // table, or neither copy is valid.
  bool copiesAgree(const std::vector<std::uint8_t>& bytes) const {
    ByteImageReader reader(bytes, m_sectorSize);
    gpt::Table table;
    if (gpt::readTable(reader, gpt::ReadMode::BothCopies, table) != ERROR_SUCCESS) return false;
    const gpt::Copy& p = table.primary;
    const gpt::Copy& b = table.backup;
    if (!p.valid && !b.valid) return true;
    return p.valid && b.valid && p.array == b.array && p.header.diskId == b.header.diskId &&
           p.header.firstUsableLba == b.header.firstUsableLba && p.header.lastUsableLba == b.header.lastUsableLba;
  }

  PeerReading readWithPeers(const std::vector<std::uint8_t>& bytes) {
    PeerReading reading;
    std::string copy = m_dir.file("cut.img");
    writeWhole(copy, bytes);
    std::string device = copy;
    std::unique_ptr<PartitionedLoopDevice> loop;
    if (m_sectorSize != 512) {
      loop = std::make_unique<PartitionedLoopDevice>(copy, m_sectorSize, LoopAccess::ReadWrite, LoopPartitions::None);
      if (!loop->attached()) return reading;
      device = loop->path();
    }
    reading.available = true;
    reading.sfdisk = viewOf(SfdiskJson(device));
    reading.sfdiskVerifies = SfdiskVerifies(device, &reading.sfdiskReport);
    if (isGpt()) {
      reading.sgdisk = viewOf(SgdiskPrint(device));
      reading.sgdiskVerifies = SgdiskVerifies(device, &reading.sgdiskReport);
    }
    return reading;
  }

  LayoutBuffer decode(const std::vector<std::uint8_t>& bytes) {
    LayoutBuffer layout;
    ByteImageReader reader(bytes, m_sectorSize);
    EXPECT_EQ(DecodeLayout(reader, layout), ERROR_SUCCESS);
    return layout;
  }

  static bool sameBytes(const LayoutBuffer& a, const LayoutBuffer& b) {
    return std::memcmp(a.data(), b.data(), kLayoutBufferSize) == 0;
  }

  static std::string describeCut(const CutPoint& cut) {
    std::string text = "cut after " + std::to_string(cut.completeWrites) + " write(s)";
    if (cut.tornSectors > 0) text += " and " + std::to_string(cut.tornSectors) + " sector(s) of the next";
    return text;
  }

  static std::string join(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts) out += t + "\n";
    return out;
  }

  // Every whole-disk request, on a fresh copy of the disk each.
  void checkWholeDiskOperations(DiskKind kind) {
    const std::vector<std::pair<std::string, Operation>> operations = {
        {"CREATE_DISK MBR", [] { return CreateDisk(kDisk, kStyleMbr); }},
        {"CREATE_DISK GPT", [] { return CreateDisk(kDisk, kStyleGpt); }},
        {"CREATE_DISK RAW", [] { return CreateDisk(kDisk, kStyleRaw); }},
        {"DELETE_DRIVE_LAYOUT",
         [] {
           DeleteDriveLayout(kDisk);
           return true;
         }},
    };
    for (const auto& [name, operation] : operations) {
      makeDisk(kind);
      if (IsSkipped() || HasFatalFailure()) return;
      checkEveryCut(name, operation);
    }
  }

  TempDir m_dir;
  std::string m_image = m_dir.file("disk.img");
  DiskKind m_kind = DiskKind::Mbr;
  std::uint32_t m_sectorSize = 512;
  std::unique_ptr<MediumJournal> m_journal;
  std::unique_ptr<EmulatedPort> m_stack;
  std::unique_ptr<ScopedPort> m_installed;
  MessageRecorder m_messages;
  ScopedMessageSink m_sink{m_messages};
};

TEST_F(PowerCut, EveryMbrEntryOperationReadsAsOldOrNewLayout) {
  const std::vector<std::pair<std::string, Operation>> operations = {
      {"CreatePartitionMBR", [] { return CreatePartitionMBR(kDisk, 4, 16384 * 512, 4096 * 512, false, 0x83); }},
      {"DeletePartitionMBR", [] { return DeletePartitionMBR(kDisk, 2); }},
      {"SetPartitionTypeMBR", [] { return SetPartitionTypeMBR(kDisk, 1, 0x0B); }},
      {"SetPartitionBootMBR", [] { return SetPartitionBootMBR(kDisk, 2, true); }},
      {"SetDiskIdMBR", [] { return SetDiskIdMBR(kDisk, 0xA1B2C3D4); }},
      {"SetPartitionNumberOneMBR", [] { return SetPartitionNumberOneMBR(kDisk, 3); }},
  };
  for (const auto& [name, operation] : operations) {
    makeDisk(DiskKind::Mbr);
    if (IsSkipped() || HasFatalFailure()) return;
    checkEveryCut(name, operation);
  }
}

TEST_F(PowerCut, EveryMbrEntryOperationOnLogicalDrivesReadsAsOldOrNewLayout) {
  // Slots 5, 9 and 13 hold the logical drives, 6 and 10 the links.
  const std::vector<std::tuple<std::string, Operation, Operation>> operations = {
      {"CreatePartitionMBR (primary)",
       [] { return CreatePartitionMBR(kDisk, 3, 24576ll * 512, 4096 * 512, false, 0x0C); },
       {}},
      {"CreatePartitionMBR (logical drive in an EBR without one)",
       [] { return CreatePartitionMBR(kDisk, 9, 12288ll * 512, 2048 * 512, false, 0x07); },
       [] { return DeletePartitionMBR(kDisk, 9); }},
      {"DeletePartitionMBR (middle logical drive)", [] { return DeletePartitionMBR(kDisk, 9); }, {}},
      {"DeletePartitionMBR (last logical drive)", [] { return DeletePartitionMBR(kDisk, 13); }, {}},
      {"DeletePartitionMBR (first logical drive)", [] { return DeletePartitionMBR(kDisk, 5); }, {}},
      {"DeletePartitionMBR (the last logical drive left)",
       [] { return DeletePartitionMBR(kDisk, 13); },
       [] { return DeletePartitionMBR(kDisk, 5) && DeletePartitionMBR(kDisk, 9); }},
      {"CreateLogicalDriveMBR (behind the last drive)",
       [] { return CreateLogicalDriveMBR(kDisk, 17, 20480ll * 512, 2048 * 512, 0x83); },
       {}},
      {"SetPartitionTypeMBR (logical drive)", [] { return SetPartitionTypeMBR(kDisk, 9, 0x0C); }, {}},
      {"SetPartitionBootMBR (logical drive)", [] { return SetPartitionBootMBR(kDisk, 13, true); }, {}},
      {"SetDiskIdMBR", [] { return SetDiskIdMBR(kDisk, 0x0BADCAFE); }, {}},
      {"SetPartitionNumberOneMBR", [] { return SetPartitionNumberOneMBR(kDisk, 2); }, {}},
  };
  for (const auto& [name, operation, prepare] : operations) {
    makeDisk(DiskKind::MbrWithLogicalDrives);
    if (IsSkipped() || HasFatalFailure()) return;
    checkEveryCut(name, operation, prepare);
  }
}

class PowerCutGpt : public PowerCut, public ::testing::WithParamInterface<DiskKind> {};

TEST_P(PowerCutGpt, EveryGptEntryOperationReadsAsOldOrNewLayout) {
  const std::vector<std::pair<std::string, Operation>> operations = {
      {"CreatePartitionGPT",
       [] { return CreatePartitionGPT(kDisk, 4, 8 * kMiB, 2 * kMiB, "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}"); }},
      {"DeletePartitionGPT", [] { return DeletePartitionGPT(kDisk, 2); }},
      {"SetPartitionTypeGPT", [] { return SetPartitionTypeGPT(kDisk, 1, "{933AC7E1-2EB4-4F13-B844-0E14E2AEF915}"); }},
      {"SetPartitionAttributesGPT", [] { return SetPartitionAttributesGPT(kDisk, 1, 0x8000000000000001ull); }},
  };
  for (const auto& [name, operation] : operations) {
    makeDisk(GetParam());
    if (IsSkipped() || HasFatalFailure()) return;
    checkEveryCut(name, operation);
  }
}

TEST_P(PowerCutGpt, WholeDiskRequestsReadAsOldOrNewLayout) { checkWholeDiskOperations(GetParam()); }

INSTANTIATE_TEST_SUITE_P(BothSectorSizes, PowerCutGpt, ::testing::Values(DiskKind::Gpt512, DiskKind::Gpt4096),
                         [](const auto& info) {
                           return info.param == DiskKind::Gpt512 ? "Sectors512" : "Sectors4096";
                         });

TEST_F(PowerCut, WholeDiskRequestsOnMbrReadAsOldOrNewLayout) { checkWholeDiskOperations(DiskKind::Mbr); }

TEST_F(PowerCut, WholeDiskRequestsOnLogicalDrivesReadAsOldOrNewLayout) {
  checkWholeDiskOperations(DiskKind::MbrWithLogicalDrives);
}

}  // namespace
}  // namespace kestrin::test
