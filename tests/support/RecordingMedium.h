#pragma once
// Power-cut testing of the disk stack and of the codec. A RecordingMedium
// stands between the caller and the real medium and notes, in a
// MediumJournal, every write and flush that reaches the medium; it can also
// make writes fail after a number of them. The journal can then rebuild the disk as a
// power cut would have left it: a copy of the original image with any
// prefix of the writes applied, the last of them torn after any whole
// sector.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Medium.h"

namespace kestrin::test {

struct MediumEvent {
  enum class Kind { Write, Flush };
  Kind kind = Kind::Write;
  std::uint64_t lba = 0;
  std::vector<std::uint8_t> bytes;  // a write's data, whole sectors
};

// Where the power went: after `completeWrites` writes had fully reached the
// disk and, of the next write, its first `tornSectors` sectors (0: none).
struct CutPoint {
  std::size_t completeWrites = 0;
  std::uint64_t tornSectors = 0;
};

class MediumJournal {
 public:
  explicit MediumJournal(std::uint32_t sectorSize) : m_sectorSize(sectorSize) {}

  void record(MediumEvent event) { m_events.push_back(std::move(event)); }
  const std::vector<MediumEvent>& events() const { return m_events; }
  std::uint32_t sectorSize() const { return m_sectorSize; }
  std::size_t writeCount() const;
  std::size_t flushCount() const;

  // Every cut point of the recorded writes, in order: before the first
  // write, then for each write every whole-sector tear of it and its
  // completion. The last one is the disk after the whole operation.
  std::vector<CutPoint> cutPoints() const;

  // Applies to `image` (a copy of the disk before the operation, as bytes)
  // what had reached the disk at `cut`.
  void replay(std::vector<std::uint8_t>& image, const CutPoint& cut) const;

  // Applies the writes numbered `first` to `first + count - 1` whose bit is
  // set in `subset` (bit i for write `first + i`), in their order: the
  // writes that a disk which reorders its queue may have made stable of a
  // group issued without a flush between them.
  void replaySubset(std::vector<std::uint8_t>& image, std::size_t first, std::size_t count, std::uint64_t subset) const;

  // The groups of writes issued with no flush between them, as (index of
  // the group's first write, number of writes).
  std::vector<std::pair<std::size_t, std::size_t>> unflushedGroups() const;

  // One line per event, to show in a failure message.
  std::string describe() const;

 private:
  void apply(std::vector<std::uint8_t>& image, const MediumEvent& write, std::uint64_t sectors) const;
  std::vector<const MediumEvent*> writes() const;

  std::uint32_t m_sectorSize;
  std::vector<MediumEvent> m_events;
};

// A medium that passes everything on to `inner` and records each write and
// flush that succeeds in `journal` (which must outlive it). Locks,
// read-only state and descriptions are the inner medium's.
class RecordingMedium : public Medium {
 public:
  RecordingMedium(std::unique_ptr<Medium> inner, MediumJournal& journal)
      : m_inner(std::move(inner)), m_journal(journal) {}

  // When set, every write after the journal holds this many fails with
  // ERROR_WRITE_FAULT and changes nothing.
  std::optional<std::size_t> writesAllowed;
  // When set, the physical sectors reported instead of the inner medium's.
  std::optional<PhysicalSectors> physical;

  std::uint32_t sectorSize() const override { return m_inner->sectorSize(); }
  std::uint64_t sectorCount() const override { return m_inner->sectorCount(); }
  std::uint64_t lengthBytes() const override { return m_inner->lengthBytes(); }
  PhysicalSectors physicalSectors() const override { return physical.value_or(m_inner->physicalSectors()); }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override {
    return m_inner->readSectors(lba, out);
  }
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;
  bool isReadOnly() const override { return m_inner->isReadOnly(); }
  std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) override { return m_inner->lock(mode, wait); }
  std::uint32_t refuseChangesToBusyPartitions(const std::function<std::uint32_t(SectorDevice&)>& write) override {
    return m_inner->refuseChangesToBusyPartitions(write);
  }
  std::uint32_t tableChanged() override { return m_inner->tableChanged(); }
  std::string displayName() const override { return m_inner->displayName(); }
  MediumDescription description() const override { return m_inner->description(); }

 private:
  std::unique_ptr<Medium> m_inner;
  MediumJournal& m_journal;
};

// A read-only view of a disk held as bytes, for decoding a replayed image.
class ByteImageReader : public SectorReader {
 public:
  ByteImageReader(const std::vector<std::uint8_t>& bytes, std::uint32_t sectorSize)
      : m_bytes(bytes), m_sectorSize(sectorSize) {}
  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_bytes.size() / m_sectorSize; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;

 private:
  const std::vector<std::uint8_t>& m_bytes;
  std::uint32_t m_sectorSize;
};

}  // namespace kestrin::test
