#pragma once
// The drive layout as it travels through IOCTL_DISK_GET/SET_DRIVE_LAYOUT_EX:
// a 48-byte header (DRIVE_LAYOUT_INFORMATION_EX) followed by slots of 144
// bytes (PARTITION_INFORMATION_EX). Entry number k is the slot at byte
// 48 + 144 * (k - 1). Every field is read and written explicitly in
// little-endian order; nothing here casts the bytes to a structure.
//
// The record the window, the entry operations and every write use holds 64
// slots (9264 bytes). The system fills an output buffer of any size and
// fails with ERROR_INSUFFICIENT_BUFFER when the layout does not fit, so a
// reader that wants a whole table of more slots (a GPT of 128 partitions)
// asks again with a larger record: ReadWithGrowingRecord (GrowingRecord.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "ByteOrder.h"
#include "Guid.h"
#include "PartitionStyle.h"

namespace kestrin {

inline constexpr std::size_t kLayoutHeaderSize = 48;
inline constexpr std::size_t kLayoutSlotSize = 144;
inline constexpr int kLayoutSlotCount = 64;
inline constexpr std::size_t kLayoutBufferSize = kLayoutHeaderSize + kLayoutSlotCount * kLayoutSlotSize;
static_assert(kLayoutBufferSize == 9264);
// The largest record the disk stack fills and a whole-table reader asks
// for: room for a GPT array of the largest size the codec reads (4 MiB of
// 128-byte entries), and for an MBR chain longer than any check walks.
inline constexpr int kLayoutMaxSlotCapacity = 32768;

// Header field offsets.
inline constexpr std::size_t kHeaderStyleOffset = 0;
inline constexpr std::size_t kHeaderCountOffset = 4;
inline constexpr std::size_t kHeaderMbrSignatureOffset = 8;
inline constexpr std::size_t kHeaderMbrCheckSumOffset = 12;
inline constexpr std::size_t kHeaderGptDiskIdOffset = 8;
inline constexpr std::size_t kHeaderGptStartingUsableOffset = 24;
inline constexpr std::size_t kHeaderGptUsableLengthOffset = 32;
inline constexpr std::size_t kHeaderGptMaxPartitionCountOffset = 40;

// Slot field offsets, within a slot.
inline constexpr std::size_t kSlotStyleOffset = 0;
inline constexpr std::size_t kSlotStartingOffsetOffset = 8;
inline constexpr std::size_t kSlotLengthOffset = 16;
inline constexpr std::size_t kSlotNumberOffset = 24;
inline constexpr std::size_t kSlotRewriteOffset = 28;
inline constexpr std::size_t kSlotServiceOffset = 29;
inline constexpr std::size_t kSlotMbrTypeOffset = 32;
inline constexpr std::size_t kSlotMbrBootOffset = 33;
inline constexpr std::size_t kSlotMbrRecognizedOffset = 34;
inline constexpr std::size_t kSlotMbrHiddenSectorsOffset = 36;
inline constexpr std::size_t kSlotMbrPartitionIdOffset = 40;
inline constexpr std::size_t kSlotGptTypeOffset = 32;
inline constexpr std::size_t kSlotGptIdOffset = 48;
inline constexpr std::size_t kSlotGptAttributesOffset = 64;
inline constexpr std::size_t kSlotGptNameOffset = 72;
inline constexpr std::size_t kSlotGptNameUnits = 36;

// True when `entry` addresses one of the 64 slots of the record the entry
// operations work on.
constexpr bool isValidEntryNumber(int entry) { return entry >= 1 && entry <= kLayoutSlotCount; }

// A view of one slot. `Byte` is std::uint8_t for a writable view and
// const std::uint8_t for a read-only one.
template <typename Byte>
class BasicLayoutSlot {
 public:
  explicit BasicLayoutSlot(std::span<Byte, kLayoutSlotSize> bytes) : m_bytes(bytes) {}

  std::span<Byte, kLayoutSlotSize> bytes() const { return m_bytes; }

  std::uint32_t style() const { return readLe32(m_bytes, kSlotStyleOffset); }
  std::int64_t startingOffset() const { return readLeI64(m_bytes, kSlotStartingOffsetOffset); }
  std::int64_t partitionLength() const { return readLeI64(m_bytes, kSlotLengthOffset); }
  std::uint32_t partitionNumber() const { return readLe32(m_bytes, kSlotNumberOffset); }
  std::uint8_t rewritePartition() const { return readU8(m_bytes, kSlotRewriteOffset); }
  std::uint8_t isServicePartition() const { return readU8(m_bytes, kSlotServiceOffset); }
  std::uint8_t mbrPartitionType() const { return readU8(m_bytes, kSlotMbrTypeOffset); }
  std::uint8_t mbrBootIndicator() const { return readU8(m_bytes, kSlotMbrBootOffset); }
  std::uint8_t mbrRecognizedPartition() const { return readU8(m_bytes, kSlotMbrRecognizedOffset); }
  std::uint32_t mbrHiddenSectors() const { return readLe32(m_bytes, kSlotMbrHiddenSectorsOffset); }
  Guid mbrPartitionId() const { return readGuid(kSlotMbrPartitionIdOffset); }
  Guid gptPartitionType() const { return readGuid(kSlotGptTypeOffset); }
  Guid gptPartitionId() const { return readGuid(kSlotGptIdOffset); }
  std::uint64_t gptAttributes() const { return readLe64(m_bytes, kSlotGptAttributesOffset); }
  // The name as 36 UTF-16 code units, up to the first 0 unit.
  std::u16string gptName() const {
    std::u16string name;
    for (std::size_t i = 0; i < kSlotGptNameUnits; ++i) {
      auto unit = static_cast<char16_t>(readLe16(m_bytes, kSlotGptNameOffset + 2 * i));
      if (unit == 0) break;
      name.push_back(unit);
    }
    return name;
  }

  void setStyle(std::uint32_t v) const requires(!std::is_const_v<Byte>) { writeLe32(m_bytes, kSlotStyleOffset, v); }
  void setStartingOffset(std::int64_t v) const requires(!std::is_const_v<Byte>) {
    writeLeI64(m_bytes, kSlotStartingOffsetOffset, v);
  }
  void setPartitionLength(std::int64_t v) const requires(!std::is_const_v<Byte>) {
    writeLeI64(m_bytes, kSlotLengthOffset, v);
  }
  void setPartitionNumber(std::uint32_t v) const requires(!std::is_const_v<Byte>) {
    writeLe32(m_bytes, kSlotNumberOffset, v);
  }
  void setRewritePartition(bool v) const requires(!std::is_const_v<Byte>) {
    writeU8(m_bytes, kSlotRewriteOffset, v ? 1 : 0);
  }
  void setIsServicePartition(bool v) const requires(!std::is_const_v<Byte>) {
    writeU8(m_bytes, kSlotServiceOffset, v ? 1 : 0);
  }
  void setMbrPartitionType(std::uint8_t v) const requires(!std::is_const_v<Byte>) {
    writeU8(m_bytes, kSlotMbrTypeOffset, v);
  }
  void setMbrBootIndicator(bool v) const requires(!std::is_const_v<Byte>) {
    writeU8(m_bytes, kSlotMbrBootOffset, v ? 1 : 0);
  }
  void setMbrRecognizedPartition(bool v) const requires(!std::is_const_v<Byte>) {
    writeU8(m_bytes, kSlotMbrRecognizedOffset, v ? 1 : 0);
  }
  void setMbrHiddenSectors(std::uint32_t v) const requires(!std::is_const_v<Byte>) {
    writeLe32(m_bytes, kSlotMbrHiddenSectorsOffset, v);
  }
  void setMbrPartitionId(const Guid& g) const requires(!std::is_const_v<Byte>) {
    writeGuid(kSlotMbrPartitionIdOffset, g);
  }
  void setGptPartitionType(const Guid& g) const requires(!std::is_const_v<Byte>) { writeGuid(kSlotGptTypeOffset, g); }
  void setGptPartitionId(const Guid& g) const requires(!std::is_const_v<Byte>) { writeGuid(kSlotGptIdOffset, g); }
  void setGptAttributes(std::uint64_t v) const requires(!std::is_const_v<Byte>) {
    writeLe64(m_bytes, kSlotGptAttributesOffset, v);
  }
  // Stores up to 36 UTF-16 units; the rest of the field is zeroed.
  void setGptName(std::u16string_view name) const requires(!std::is_const_v<Byte>) {
    for (std::size_t i = 0; i < kSlotGptNameUnits; ++i) {
      std::uint16_t unit = i < name.size() ? static_cast<std::uint16_t>(name[i]) : 0;
      writeLe16(m_bytes, kSlotGptNameOffset + 2 * i, unit);
    }
  }

 private:
  Guid readGuid(std::size_t offset) const {
    Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = readU8(m_bytes, offset + i);
    return g;
  }
  void writeGuid(std::size_t offset, const Guid& g) const requires(!std::is_const_v<Byte>) {
    for (std::size_t i = 0; i < 16; ++i) writeU8(m_bytes, offset + i, g.bytes[i]);
  }

  std::span<Byte, kLayoutSlotSize> m_bytes;
};

using LayoutSlot = BasicLayoutSlot<std::uint8_t>;
using ConstLayoutSlot = BasicLayoutSlot<const std::uint8_t>;

class LayoutBuffer {
 public:
  // The fixed record of 64 slots.
  LayoutBuffer() : LayoutBuffer(kLayoutSlotCount) {}
  // A record of `slotCapacity` slots (0 .. kLayoutMaxSlotCapacity), zeroed;
  // any other capacity throws std::out_of_range.
  explicit LayoutBuffer(int slotCapacity)
      : m_bytes(kLayoutHeaderSize + kLayoutSlotSize * checkedCapacity(slotCapacity), 0) {}

  std::span<std::uint8_t> bytes() { return m_bytes; }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }
  std::uint8_t* data() { return m_bytes.data(); }
  const std::uint8_t* data() const { return m_bytes.data(); }
  // The record's size in bytes: 9264 for the fixed record.
  std::uint32_t size() const { return static_cast<std::uint32_t>(m_bytes.size()); }
  int slotCapacity() const { return static_cast<int>((m_bytes.size() - kLayoutHeaderSize) / kLayoutSlotSize); }

  void clear() { std::fill(m_bytes.begin(), m_bytes.end(), 0); }

  std::uint32_t partitionStyle() const { return readLe32(m_bytes, kHeaderStyleOffset); }
  std::uint32_t partitionCount() const { return readLe32(m_bytes, kHeaderCountOffset); }
  std::uint32_t mbrSignature() const { return readLe32(m_bytes, kHeaderMbrSignatureOffset); }
  Guid gptDiskId() const {
    Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = m_bytes[kHeaderGptDiskIdOffset + i];
    return g;
  }
  std::int64_t gptStartingUsableOffset() const { return readLeI64(m_bytes, kHeaderGptStartingUsableOffset); }
  std::int64_t gptUsableLength() const { return readLeI64(m_bytes, kHeaderGptUsableLengthOffset); }
  std::uint32_t gptMaxPartitionCount() const { return readLe32(m_bytes, kHeaderGptMaxPartitionCountOffset); }

  void setPartitionStyle(std::uint32_t v) { writeLe32(m_bytes, kHeaderStyleOffset, v); }
  void setPartitionCount(std::uint32_t v) { writeLe32(m_bytes, kHeaderCountOffset, v); }
  void setMbrSignature(std::uint32_t v) { writeLe32(m_bytes, kHeaderMbrSignatureOffset, v); }
  void setGptDiskId(const Guid& g) {
    for (std::size_t i = 0; i < 16; ++i) m_bytes[kHeaderGptDiskIdOffset + i] = g.bytes[i];
  }
  void setGptStartingUsableOffset(std::int64_t v) { writeLeI64(m_bytes, kHeaderGptStartingUsableOffset, v); }
  void setGptUsableLength(std::int64_t v) { writeLeI64(m_bytes, kHeaderGptUsableLengthOffset, v); }
  void setGptMaxPartitionCount(std::uint32_t v) { writeLe32(m_bytes, kHeaderGptMaxPartitionCountOffset, v); }

  // The slot of entry number `entry` (1 .. slotCapacity()). Any other
  // number throws std::out_of_range: callers check entry numbers before
  // they get here.
  LayoutSlot slot(int entry) { return LayoutSlot(slotBytes<std::uint8_t>(m_bytes, entry)); }
  ConstLayoutSlot slot(int entry) const { return ConstLayoutSlot(slotBytes<const std::uint8_t>(m_bytes, entry)); }

 private:
  static std::size_t checkedCapacity(int slotCapacity) {
    if (slotCapacity < 0 || slotCapacity > kLayoutMaxSlotCapacity) {
      throw std::out_of_range("layout record capacity outside 0..32768 slots");
    }
    return static_cast<std::size_t>(slotCapacity);
  }

  template <typename Byte, typename Bytes>
  static std::span<Byte, kLayoutSlotSize> slotBytes(Bytes& bytes, int entry) {
    const std::size_t capacity = (bytes.size() - kLayoutHeaderSize) / kLayoutSlotSize;
    if (entry < 1 || static_cast<std::size_t>(entry) > capacity) {
      throw std::out_of_range("entry number outside the layout record");
    }
    std::size_t offset = kLayoutHeaderSize + kLayoutSlotSize * static_cast<std::size_t>(entry - 1);
    return std::span<Byte, kLayoutSlotSize>(bytes.data() + offset, kLayoutSlotSize);
  }

  std::vector<std::uint8_t> m_bytes;
};

}  // namespace kestrin
