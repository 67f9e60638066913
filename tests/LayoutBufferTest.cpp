// The layout record's fields sit at the byte offsets of the system's
// DRIVE_LAYOUT_INFORMATION_EX and PARTITION_INFORMATION_EX: every value is
// written through the accessors and found again in the raw bytes, at
// offsets written out here from the record's documentation rather than
// taken from the code's constants.

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "LayoutBuffer.h"

namespace kestrin {
namespace {

std::uint64_t rawLe(const LayoutBuffer& layout, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{layout.bytes()[offset + i]} << (8 * i);
  return value;
}

// The offsets of the bytes that are not 0.
std::vector<std::size_t> nonZeroOffsets(const LayoutBuffer& layout) {
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < layout.bytes().size(); ++i) {
    if (layout.bytes()[i] != 0) offsets.push_back(i);
  }
  return offsets;
}

Guid patternGuid(std::uint8_t first) {
  Guid g;
  for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(first + i);
  return g;
}

TEST(LayoutBuffer, IsTheHeaderAnd64SlotsOf144Bytes) {
  EXPECT_EQ(LayoutBuffer().size(), 9264u);
  LayoutBuffer layout;
  EXPECT_EQ(layout.bytes().size(), 9264u);
  EXPECT_TRUE(nonZeroOffsets(layout).empty()) << "a new buffer is zeroed";
}

TEST(LayoutBuffer, HeaderFieldsAtTheirOffsets) {
  LayoutBuffer layout;
  layout.setPartitionStyle(0x11223344);
  layout.setPartitionCount(0x55667788);
  EXPECT_EQ(rawLe(layout, 0, 4), 0x11223344u);
  EXPECT_EQ(rawLe(layout, 4, 4), 0x55667788u);
  EXPECT_EQ(layout.bytes()[0], 0x44);  // little-endian

  layout.setMbrSignature(0xA1B2C3D4);
  EXPECT_EQ(rawLe(layout, 8, 4), 0xA1B2C3D4u);
  EXPECT_EQ(layout.mbrSignature(), 0xA1B2C3D4u);

  layout.setGptDiskId(patternGuid(0x80));
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(layout.bytes()[8 + i], 0x80 + i);
  layout.setGptStartingUsableOffset(-2);
  layout.setGptUsableLength(0x0102030405060708);
  layout.setGptMaxPartitionCount(128);
  EXPECT_EQ(rawLe(layout, 24, 8), 0xFFFFFFFFFFFFFFFEull);
  EXPECT_EQ(rawLe(layout, 32, 8), 0x0102030405060708ull);
  EXPECT_EQ(rawLe(layout, 40, 4), 128u);
  EXPECT_EQ(layout.gptStartingUsableOffset(), -2);
  EXPECT_EQ(layout.gptDiskId(), patternGuid(0x80));

  for (std::size_t offset : nonZeroOffsets(layout)) EXPECT_LT(offset, 48u) << "header writes stay in the header";
}

TEST(LayoutBuffer, EntryNumberKIsTheSlotAt48Plus144TimesKMinus1) {
  LayoutBuffer layout;
  for (int entry : {1, 2, 33, 64}) {
    layout.clear();
    layout.slot(entry).setStyle(0xFFFFFFFF);
    layout.slot(entry).setGptName(std::u16string(36, u'\xFFFF'));
    std::size_t start = 48 + 144 * static_cast<std::size_t>(entry - 1);
    std::vector<std::size_t> written = nonZeroOffsets(layout);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), start) << "entry " << entry;
    EXPECT_EQ(written.back(), start + 143) << "entry " << entry;
  }
  EXPECT_EQ(48 + 144 * 63 + 143, 9263) << "slot 64 ends at the last byte";
}

TEST(LayoutBuffer, SlotFieldsAtTheirOffsets) {
  LayoutBuffer layout;
  LayoutSlot slot = layout.slot(3);
  const std::size_t base = 48 + 144 * 2;
  slot.setStyle(kStyleGpt);
  slot.setStartingOffset(0x1122334455667788);
  slot.setPartitionLength(-1048576);
  slot.setPartitionNumber(0xDEADBEEF);
  slot.setRewritePartition(true);
  slot.setIsServicePartition(true);
  EXPECT_EQ(rawLe(layout, base + 0, 4), 1u);
  EXPECT_EQ(rawLe(layout, base + 4, 4), 0u) << "padding";
  EXPECT_EQ(rawLe(layout, base + 8, 8), 0x1122334455667788ull);
  EXPECT_EQ(rawLe(layout, base + 16, 8), static_cast<std::uint64_t>(-1048576LL));
  EXPECT_EQ(rawLe(layout, base + 24, 4), 0xDEADBEEFu);
  EXPECT_EQ(layout.bytes()[base + 28], 1);
  EXPECT_EQ(layout.bytes()[base + 29], 1);

  // The MBR part of the union.
  slot.setMbrPartitionType(0xEE);
  slot.setMbrBootIndicator(true);
  slot.setMbrRecognizedPartition(true);
  slot.setMbrHiddenSectors(0x01020304);
  slot.setMbrPartitionId(patternGuid(0x40));
  EXPECT_EQ(layout.bytes()[base + 32], 0xEE);
  EXPECT_EQ(layout.bytes()[base + 33], 1);
  EXPECT_EQ(layout.bytes()[base + 34], 1);
  EXPECT_EQ(layout.bytes()[base + 35], 0) << "padding";
  EXPECT_EQ(rawLe(layout, base + 36, 4), 0x01020304u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(layout.bytes()[base + 40 + i], 0x40 + i);

  // The GPT part overlays it from byte 32.
  slot.setGptPartitionType(patternGuid(0x10));
  slot.setGptPartitionId(patternGuid(0x20));
  slot.setGptAttributes(0x8000000000000001ull);
  slot.setGptName(u"Data\u00E9");
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(layout.bytes()[base + 32 + i], 0x10 + i);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(layout.bytes()[base + 48 + i], 0x20 + i);
  EXPECT_EQ(rawLe(layout, base + 64, 8), 0x8000000000000001ull);
  EXPECT_EQ(rawLe(layout, base + 72, 2), u'D');
  EXPECT_EQ(rawLe(layout, base + 80, 2), 0xE9u);
  EXPECT_EQ(rawLe(layout, base + 82, 2), 0u) << "the name is ended by a 0 unit";
  EXPECT_EQ(slot.gptName(), u"Data\u00E9");

  for (std::size_t offset : nonZeroOffsets(layout)) {
    EXPECT_GE(offset, base);
    EXPECT_LT(offset, base + 144);
  }
}

TEST(LayoutBuffer, GptNameKeeps36UnitsAndClearsTheRest) {
  LayoutBuffer layout;
  LayoutSlot slot = layout.slot(64);
  slot.setGptName(std::u16string(40, u'x'));
  EXPECT_EQ(slot.gptName(), std::u16string(36, u'x'));
  slot.setGptName(u"ab");
  EXPECT_EQ(slot.gptName(), u"ab");
  EXPECT_EQ(rawLe(layout, 48 + 144 * 63 + 72 + 4, 8), 0u) << "old units are cleared";
}

TEST(LayoutBuffer, ReadersSeeRawBytes) {
  LayoutBuffer layout;
  const std::size_t base = 48 + 144;  // entry 2
  layout.bytes()[base + 8] = 0xFF;
  for (std::size_t i = 9; i < 16; ++i) layout.bytes()[base + i] = 0xFF;
  layout.bytes()[base + 33] = 0x80;
  layout.bytes()[base + 71] = 0x80;
  ConstLayoutSlot slot = std::as_const(layout).slot(2);
  EXPECT_EQ(slot.startingOffset(), -1);
  EXPECT_EQ(slot.mbrBootIndicator(), 0x80);
  EXPECT_EQ(slot.gptAttributes(), 0x8000000000000000ull);
}

TEST(LayoutBuffer, EntryNumbersOutside1To64Throw) {
  LayoutBuffer layout;
  const LayoutBuffer& constLayout = layout;
  for (int entry : {0, 65, -1, 1000}) {
    EXPECT_THROW(layout.slot(entry), std::out_of_range) << entry;
    EXPECT_THROW(constLayout.slot(entry), std::out_of_range) << entry;
    EXPECT_FALSE(isValidEntryNumber(entry));
  }
  EXPECT_NO_THROW(layout.slot(1));
  EXPECT_NO_THROW(layout.slot(64));
}

}  // namespace
}  // namespace kestrin
