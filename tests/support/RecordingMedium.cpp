#include "RecordingMedium.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "Port.h"

namespace kestrin::test {

std::uint32_t RecordingMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (writesAllowed && m_journal.writeCount() >= *writesAllowed) return ERROR_WRITE_FAULT;
  std::uint32_t error = m_inner->writeSectors(lba, data);
  // A write that the medium refused changed nothing, so nothing of it can
  // be found on the disk after a cut either.
  if (error == ERROR_SUCCESS) {
    m_journal.record({MediumEvent::Kind::Write, lba, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  return error;
}

std::uint32_t RecordingMedium::flush() {
  std::uint32_t error = m_inner->flush();
  if (error == ERROR_SUCCESS) m_journal.record({MediumEvent::Kind::Flush, 0, {}});
  return error;
}

std::uint32_t ByteImageReader::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  if (out.size() % m_sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = out.size() / m_sectorSize;
  if (lba > sectorCount() || count > sectorCount() - lba) return ERROR_SECTOR_NOT_FOUND;
  std::memcpy(out.data(), m_bytes.data() + lba * m_sectorSize, out.size());
  return ERROR_SUCCESS;
}

std::vector<const MediumEvent*> MediumJournal::writes() const {
  std::vector<const MediumEvent*> found;
  for (const MediumEvent& event : m_events) {
    if (event.kind == MediumEvent::Kind::Write) found.push_back(&event);
  }
  return found;
}

std::size_t MediumJournal::writeCount() const { return writes().size(); }

std::size_t MediumJournal::flushCount() const { return m_events.size() - writeCount(); }

std::vector<CutPoint> MediumJournal::cutPoints() const {
  std::vector<CutPoint> cuts{{0, 0}};
  std::vector<const MediumEvent*> all = writes();
  for (std::size_t i = 0; i < all.size(); ++i) {
    std::uint64_t sectors = all[i]->bytes.size() / m_sectorSize;
    for (std::uint64_t torn = 1; torn < sectors; ++torn) cuts.push_back({i, torn});
    cuts.push_back({i + 1, 0});
  }
  return cuts;
}

void MediumJournal::apply(std::vector<std::uint8_t>& image, const MediumEvent& write, std::uint64_t sectors) const {
  std::uint64_t offset = write.lba * m_sectorSize;
  std::uint64_t size = std::min<std::uint64_t>(sectors * m_sectorSize, write.bytes.size());
  if (offset + size > image.size()) throw std::out_of_range("a recorded write lies past the end of the image");
  std::memcpy(image.data() + offset, write.bytes.data(), size);
}

void MediumJournal::replay(std::vector<std::uint8_t>& image, const CutPoint& cut) const {
  std::vector<const MediumEvent*> all = writes();
  if (cut.completeWrites > all.size()) throw std::out_of_range("cut point past the recorded writes");
  for (std::size_t i = 0; i < cut.completeWrites; ++i) apply(image, *all[i], all[i]->bytes.size() / m_sectorSize);
  if (cut.tornSectors > 0 && cut.completeWrites < all.size()) apply(image, *all[cut.completeWrites], cut.tornSectors);
}

void MediumJournal::replaySubset(std::vector<std::uint8_t>& image, std::size_t first, std::size_t count,
                                 std::uint64_t subset) const {
  std::vector<const MediumEvent*> all = writes();
  if (first + count > all.size() || count > 63) throw std::out_of_range("subset past the recorded writes");
  for (std::size_t i = 0; i < count; ++i) {
    if ((subset >> i) & 1) apply(image, *all[first + i], all[first + i]->bytes.size() / m_sectorSize);
  }
}

std::vector<std::pair<std::size_t, std::size_t>> MediumJournal::unflushedGroups() const {
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  std::size_t index = 0;
  std::size_t groupStart = 0;
  for (const MediumEvent& event : m_events) {
    if (event.kind == MediumEvent::Kind::Write) {
      ++index;
      continue;
    }
    if (index > groupStart) groups.emplace_back(groupStart, index - groupStart);
    groupStart = index;
  }
  if (index > groupStart) groups.emplace_back(groupStart, index - groupStart);
  return groups;
}

std::string MediumJournal::describe() const {
  std::string text;
  for (const MediumEvent& event : m_events) {
    if (event.kind == MediumEvent::Kind::Flush) {
      text += "  flush\n";
    } else {
      text += "  write LBA " + std::to_string(event.lba) + ", " + std::to_string(event.bytes.size() / m_sectorSize) +
              " sector(s)\n";
    }
  }
  return text;
}

}  // namespace kestrin::test
