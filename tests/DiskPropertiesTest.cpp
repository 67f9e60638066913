// The disk inventory: descriptor string decoding, the descriptor reader,
// bus type and status texts, and the rows of the disk chooser, over a port
// of made-up disks and over Kestrin's own disk stack serving image files.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "DiskList.h"
#include "DiskMap.h"
#include "EmulatedPort.h"
#include "RecordingPort.h"
#include "TestSupport.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin {

// Found by gtest through argument-dependent lookup, for readable failures.
void PrintTo(const DiskListRow& row, std::ostream* out) {
  *out << '{' << row.number << " | " << row.type << " | " << row.name << " | " << row.sizeMb << " | '"
       << row.attributes << "'}";
}

namespace {

using test::PortCall;
using test::RecordingPort;

constexpr std::int64_t kMb = 1048576;

// A descriptor buffer of `size` bytes with `text` (its bytes as given, no
// terminator added) at `position`.
std::vector<std::uint8_t> bytesWith(const std::string& text, std::size_t position = 64, std::size_t size = 4096) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::memcpy(bytes.data() + position, text.data(), text.size());
  return bytes;
}

std::string decode(const std::string& text) { return DecodeDescriptorString(bytesWith(text), 64); }

// A storage device descriptor as a device returns it: the header fields and
// the strings after it, each ended by a 0 byte; an empty text is absent
// (position 0).
struct Descriptor {
  std::string vendor, product, revision, serial;
  std::uint8_t removable = 0;
  std::uint32_t busType = 0;

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> d(40, 0);
    auto put = [&d](const std::string& text, std::size_t field) {
      if (text.empty()) return;
      writeLe32(d, field, static_cast<std::uint32_t>(d.size()));
      d.insert(d.end(), text.begin(), text.end());
      d.push_back(0);
    };
    d[10] = removable;
    writeLe32(d, 28, busType);
    // Stored in another order than they are read, so a reader that walks
    // the strings one after another instead of using the offsets shows.
    put(serial, 24);
    put(revision, 20);
    put(product, 16);
    put(vendor, 12);
    return d;
  }
};

struct FakeDisk {
  Descriptor descriptor;
  bool descriptorFails = false;
  std::int64_t length = 0;
  bool lengthFails = false;
  std::uint64_t attributes = 0;
  bool attributesFail = false;
};

// Made-up disks by number, opened by their device path in any case.
class FakeDisks : public DevicePort {
 public:
  std::map<int, FakeDisk> disks;

  DiskHandle OpenDisk(const std::string& path, std::uint32_t, std::uint32_t) override {
    int number = DiskNumberOfPath(path);
    if (disks.count(number) == 0) {
      m_lastError = ERROR_FILE_NOT_FOUND;
      return kInvalidHandle;
    }
    m_open[m_next] = number;
    return m_next++;
  }

  bool DiskControl(DiskHandle handle, std::uint32_t code, const void*, std::uint32_t, void* output,
                   std::uint32_t outputSize, std::uint32_t*) override {
    auto open = m_open.find(handle);
    if (open == m_open.end()) return fail(ERROR_INVALID_HANDLE);
    const FakeDisk& disk = disks.at(open->second);
    std::span<std::uint8_t> out(static_cast<std::uint8_t*>(output), outputSize);
    switch (code) {
      case IOCTL_STORAGE_QUERY_PROPERTY: {
        if (disk.descriptorFails) return fail(ERROR_NOT_SUPPORTED);
        std::vector<std::uint8_t> bytes = disk.descriptor.bytes();
        std::memcpy(out.data(), bytes.data(), std::min<std::size_t>(bytes.size(), out.size()));
        return true;
      }
      case IOCTL_DISK_GET_LENGTH_INFO:
        if (disk.lengthFails) return fail(ERROR_IO_DEVICE);
        writeLeI64(out, 0, disk.length);
        return true;
      case IOCTL_DISK_GET_DISK_ATTRIBUTES:
        if (disk.attributesFail) return fail(ERROR_INVALID_FUNCTION);
        writeLe64(out, 8, disk.attributes);
        return true;
      default:
        return fail(ERROR_INVALID_FUNCTION);
    }
  }

  void CloseDisk(DiskHandle handle) override { m_open.erase(handle); }
  std::uint32_t LastError() const override { return m_lastError; }
  std::string ErrorMessage(std::uint32_t code) const override { return "Fake error " + std::to_string(code) + "."; }

  std::size_t openHandles() const { return m_open.size(); }

 private:
  bool fail(std::uint32_t error) {
    m_lastError = error;
    return false;
  }

  std::map<DiskHandle, int> m_open;
  DiskHandle m_next = 1;
  std::uint32_t m_lastError = 0;
};

class InventoryTest : public ::testing::Test {
 protected:
  FakeDisks disks;
  RecordingPort port{&disks};
  ScopedPort installed{port};
};

// --- descriptor strings ---

TEST(DescriptorString, HexadecimalDigitPairsSpellTheText) {
  EXPECT_EQ(decode("4a4b4c"), "JKL");
  EXPECT_EQ(decode("4A4B4C"), "JKL");
  EXPECT_EQ(decode("3132"), "12");
  EXPECT_EQ(decode("2020414243"), "ABC") << "spelled spaces are trimmed";
  EXPECT_EQ(decode("41422020"), "AB");
}

TEST(DescriptorString, AnUnpairedLastDigitIsDropped) {
  EXPECT_EQ(decode("4a4b4"), "JK");
  EXPECT_EQ(decode("7"), "") << "a single digit spells nothing";
}

TEST(DescriptorString, ASpelledZeroEndsTheText) {
  EXPECT_EQ(decode("41004243"), "A");
  EXPECT_EQ(decode("4100zz"), "4100zz") << "digits after the zero must still be valid";
}

TEST(DescriptorString, TextThatIsNoValidHexadecimalIsTakenAsItIs) {
  EXPECT_EQ(decode("4a4b 4c"), "4a4b 4c") << "a blank stops the hexadecimal reading";
  EXPECT_EQ(decode("0aff"), "0aff") << "0x0A is not printable";
  EXPECT_EQ(decode("abc"), "abc") << "0xAB is not printable";
  for (const char* text : {"7f", "DEADBEEF", "ST1000DM003-1ER162", "Kestrin disk"}) EXPECT_EQ(decode(text), text);
}

TEST(DescriptorString, BytesThatAreNotPrintableEmptyThePlainText) {
  for (const char* text : {"Caf\xE9", "\x80", "Del\x7F", "a\tb", "Disk\r", "a\nb"}) EXPECT_EQ(decode(text), "") << text;
}

TEST(DescriptorString, OnlyLeadingAndTrailingSpacesAreTrimmed) {
  EXPECT_EQ(decode("  Disk  "), "Disk");
  EXPECT_EQ(decode(" Two  words "), "Two  words");
  EXPECT_EQ(decode("    "), "    ") << "a text of blanks only stays";
  EXPECT_EQ(decode(""), "");
}

TEST(DescriptorString, PositionZeroOrOutsideTheBytesIsEmpty) {
  std::vector<std::uint8_t> bytes = bytesWith("Disk", 0, 16);
  EXPECT_EQ(DecodeDescriptorString(bytes, 0), "") << "position 0 means absent";
  EXPECT_EQ(DecodeDescriptorString(bytes, 16), "");
  EXPECT_EQ(DecodeDescriptorString(bytes, 0xFFFFFFFF), "");
  EXPECT_EQ(DecodeDescriptorString(bytes, 1), "isk");
}

TEST(DescriptorString, AStringWithoutItsZeroByteEndsAtTheEndOfTheBytes) {
  EXPECT_EQ(DecodeDescriptorString(bytesWith("xx4142", 10, 16), 12), "AB");
  EXPECT_EQ(DecodeDescriptorString(bytesWith("xxDisk", 10, 16), 12), "Disk");
  EXPECT_EQ(DecodeDescriptorString(bytesWith("x", 15, 16), 15), "x");
}

TEST(BusTypeToText, NamesTheElevenBusTypes) {
  const std::vector<std::string> texts = {"unknown", "Scsi", "Atapi", "Ata", "1394", "Ssa",
                                          "Fibre",   "Usb",  "RAID",  "iSCSI", "Sas", "Sata"};
  for (std::size_t value = 0; value < texts.size(); ++value) {
    EXPECT_EQ(BusTypeToText(static_cast<std::uint8_t>(value)), texts[value]) << value;
  }
  for (std::uint8_t value : {12, 0x7F, 255}) EXPECT_EQ(BusTypeToText(value), "unknown") << int(value);
}

// --- the descriptor reader ---

TEST_F(InventoryTest, GetDiskPropertyReadsEveryField) {
  disks.disks[1].descriptor = {"  ATA     ", "4a4b4c", "0aff", "2020414243", 1, 0x0000010B};
  TDisk_Property property;
  ASSERT_TRUE(GetDiskProperty("\\\\.\\PhysicalDrive1", property));
  EXPECT_EQ(property.Vendor, "ATA");
  EXPECT_EQ(property.Product, "JKL");
  EXPECT_EQ(property.Revision, "0aff");
  EXPECT_EQ(property.SerialNumber, "ABC");
  EXPECT_EQ(property.Removable, 1);
  EXPECT_EQ(property.BusTypeText, "Sata") << "only the low byte of the bus type counts";
}

TEST_F(InventoryTest, GetDiskPropertyAsksWithAZeroQueryOnAReadOnlyHandle) {
  disks.disks[1].descriptor = {"V", "Product", "", "", 0, 7};
  TDisk_Property property;
  ASSERT_TRUE(GetDiskProperty("\\\\.\\PhysicalDrive1", property));
  ASSERT_EQ(port.calls.size(), 3u);
  EXPECT_EQ(port.calls[0].access, GENERIC_READ);
  EXPECT_EQ(port.calls[0].attributes, 0u);
  EXPECT_EQ(port.calls[1].code, IOCTL_STORAGE_QUERY_PROPERTY);
  EXPECT_EQ(port.calls[1].input, std::vector<std::uint8_t>(12, 0));
  EXPECT_EQ(port.calls[1].outputSize, 4096u);
  EXPECT_EQ(port.calls[2].kind, PortCall::Kind::Close);
  EXPECT_EQ(property.Revision, "") << "an absent string";
  EXPECT_EQ(property.BusTypeText, "Usb");
}

TEST_F(InventoryTest, GetDiskPropertyFailureLeavesTheRecordAsItWas) {
  disks.disks[1].descriptorFails = true;
  TDisk_Property property{"vendor", "serial", "product", "revision", 1, "Usb"};
  EXPECT_FALSE(GetDiskProperty("\\\\.\\PhysicalDrive1", property));
  EXPECT_EQ(property.Product, "product");
  EXPECT_EQ(property.Vendor, "vendor");
  EXPECT_EQ(property.Removable, 1);
  EXPECT_EQ(port.closeCount(), 1u);
  EXPECT_EQ(disks.openHandles(), 0u);

  port.calls.clear();
  EXPECT_FALSE(GetDiskProperty("\\\\.\\PhysicalDrive5", property));
  EXPECT_EQ(property.SerialNumber, "serial");
  EXPECT_TRUE(port.requestCodes().empty()) << "nothing is asked of a disk that does not open";
}

TEST(TDisk_Property, ClearEmptiesTheTextsAndTheFlag) {
  TDisk_Property property{"vendor", "serial", "product", "revision", 1, "Usb"};
  property.clear();
  EXPECT_TRUE(property.Vendor.empty());
  EXPECT_TRUE(property.SerialNumber.empty());
  EXPECT_TRUE(property.Product.empty());
  EXPECT_TRUE(property.Revision.empty());
  EXPECT_TRUE(property.BusTypeText.empty());
  EXPECT_EQ(property.Removable, 0);
}

// --- status texts ---

TEST_F(InventoryTest, StatusTextFromTheAttributesWord) {
  const std::vector<std::pair<std::uint64_t, std::string>> cases = {
      {0, "Online Read-Write "}, {1, "Offline Read-Write "}, {2, "Online Read-Only "}, {3, "Offline Read-Only "},
      {4, ""},  {5, "Offline Read-Write "}, {1ull << 63, ""}, {(1ull << 63) | 2, "Online Read-Only "}};
  for (const auto& [word, text] : cases) {
    disks.disks[3].attributes = word;
    EXPECT_EQ(GetDiskStatusText("3"), text) << word;
  }
  EXPECT_EQ(port.calls.front().path, "\\\\.\\PhysicalDrive3");
}

TEST_F(InventoryTest, StatusTextIsEmptyWhenTheAttributesCannotBeRead) {
  disks.disks[3].attributesFail = true;
  EXPECT_EQ(GetDiskStatusText("3"), "");
  EXPECT_EQ(GetDiskStatusText("4"), "") << "no such disk";
}

// --- the chooser's rows ---

TEST_F(InventoryTest, DisksThatDoNotOpenHaveNoRow) {
  disks.disks[0].descriptor.product = "First";
  disks.disks[2].descriptor.product = "Third";
  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (DiskListRow{"0", "DISK", "First", "0", "Online Read-Write "}));
  EXPECT_EQ(rows[1], (DiskListRow{"2", "DISK", "Third", "0", "Online Read-Write "}));
}

TEST_F(InventoryTest, OnlyDiskNumbers0To15AreProbed) {
  for (int n = 0; n < 20; ++n) disks.disks[n].length = kMb;
  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_EQ(rows.back().number, "15");
  std::size_t probes = 0;
  for (const PortCall& call : port.calls) {
    if (call.kind == PortCall::Kind::Open && call.attributes == FILE_ATTRIBUTE_NORMAL) ++probes;
  }
  EXPECT_EQ(probes, 16u);
}

TEST_F(InventoryTest, SizeInMegabytesDropsTheRemainder) {
  disks.disks[0].length = 3 * kMb + 1048575;
  disks.disks[1].length = kMb - 1;
  disks.disks[2].lengthFails = true;
  disks.disks[2].length = 5 * kMb;
  disks.disks[3].length = -(3 * kMb + 5);
  disks.disks[4].length = INT64_MAX;
  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].sizeMb, "3");
  EXPECT_EQ(rows[1].sizeMb, "0");
  EXPECT_EQ(rows[2].sizeMb, "0") << "a failed length request";
  EXPECT_EQ(rows[3].sizeMb, "-3") << "signed division towards zero";
  EXPECT_EQ(rows[4].sizeMb, "8796093022207");
}

TEST_F(InventoryTest, ADiskWithoutDescriptorHasAnEmptyNameAfterANamedOne) {
  disks.disks[0].descriptor.product = "Named";
  disks.disks[1].descriptorFails = true;
  disks.disks[2].descriptor.product = "";
  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "Named");
  EXPECT_EQ(rows[1].name, "");
  EXPECT_EQ(rows[2].name, "");
}

TEST_F(InventoryTest, EachListedDiskIsOpenedThreeTimesOneRequestEach) {
  disks.disks[7].length = 8 * kMb;
  disks.disks[7].attributes = 3;
  disks.disks[7].descriptor.product = "Seven";
  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (DiskListRow{"7", "DISK", "Seven", "8", "Offline Read-Only "}));

  std::vector<std::string> listed;
  for (const PortCall& call : port.calls) {
    if (call.kind == PortCall::Kind::Open && call.succeeded) {
      listed.push_back("open " + call.path + " " + std::to_string(call.attributes));
    } else if (call.kind == PortCall::Kind::Control) {
      listed.push_back("request " + std::to_string(call.code));
    } else if (call.kind == PortCall::Kind::Close) {
      listed.push_back("close");
    }
  }
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "open \\\\.\\physicaldrive7 128", "request " + std::to_string(IOCTL_DISK_GET_LENGTH_INFO),
                        "close", "open \\\\.\\PhysicalDrive7 0",
                        "request " + std::to_string(IOCTL_STORAGE_QUERY_PROPERTY), "close",
                        "open \\\\.\\PhysicalDrive7 0", "request " + std::to_string(IOCTL_DISK_GET_DISK_ATTRIBUTES),
                        "close"}));
  for (const PortCall& call : port.calls) {
    if (call.kind == PortCall::Kind::Open) {
      EXPECT_EQ(call.access, GENERIC_READ) << call.path;
    }
  }
  EXPECT_EQ(disks.openHandles(), 0u);
}

// --- through the disk stack, over image files ---

TEST(DiskInventoryOnImages, ListsThePresentImagesWithNameSizeAndState) {
  test::TempDir dir;
  std::string zero = dir.file("zero.img");
  std::string two = dir.file("two.img");
  test::MakeSparseFile(zero, 3 * kMb + 1048575);
  test::MakeSparseFile(two, 64 * kMb);
  EmulatedPort stack{DiskMap{DiskSpec{zero, 0}, DiskSpec{dir.file("missing.img"), 0}, DiskSpec{two, 0}}};
  ScopedPort installed(stack);
  ASSERT_TRUE(SetDiskAttributes("\\\\.\\PhysicalDrive2", DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE));

  std::vector<DiskListRow> rows = DiskListRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (DiskListRow{"0", "DISK", "zero.img", "3", "Online Read-Write "}));
  EXPECT_EQ(rows[1], (DiskListRow{"2", "DISK", "two.img", "64", "Offline Read-Write "}));

  TDisk_Property property;
  ASSERT_TRUE(GetDiskProperty("\\\\.\\PhysicalDrive0", property));
  EXPECT_EQ(property.Vendor, "Kestrin");
  EXPECT_EQ(property.Product, "zero.img");
  EXPECT_EQ(property.Revision, "0.1");
  EXPECT_EQ(property.SerialNumber, "");
  EXPECT_EQ(property.Removable, 0);
  EXPECT_EQ(property.BusTypeText, "unknown");
  EXPECT_FALSE(GetDiskProperty("\\\\.\\PhysicalDrive1", property));
}

}  // namespace
}  // namespace kestrin
