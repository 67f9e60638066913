#include "DiskProperties.h"

#include <array>
#include <optional>

#include "ByteOrder.h"
#include "DiskReaders.h"
#include "Port.h"
#include "ScopedDisk.h"

namespace kestrin {

namespace {

// 0x20 .. 0x7E; 0x7F and every byte from 0x80 up are not printable.
bool IsPrintableChar(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// Tab, carriage return and space; a line feed is not blank.
bool IsBlankChar(std::uint8_t c) { return c == 0x09 || c == 0x0D || c == 0x20; }

// Lower-cases A to Z. The system's ANSI lower-casing also maps letters above
// 0x7F, but none of those can become a hexadecimal digit, which is all the
// result is used for.
std::uint8_t LowerAnsiChar(std::uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c - 'A' + 'a') : c;
}

// The value of a lower-cased hexadecimal digit, or -1.
int hexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the string at `position` as hexadecimal digit pairs, up to its 0
// byte or the end of the bytes. Fails on a blank or a byte that is no digit,
// and on a pair that spells neither 0 nor a printable character. A last,
// unpaired digit is dropped; a pair that spells 0 ends the text (the rest of
// the string must still be valid digits).
std::optional<std::string> readHexString(std::span<const std::uint8_t> bytes, std::size_t position) {
  std::string text;
  bool ended = false;
  int high = -1;
  for (std::size_t i = position; i < bytes.size() && bytes[i] != 0; ++i) {
    std::uint8_t c = LowerAnsiChar(bytes[i]);
    int value = IsBlankChar(c) ? -1 : hexValue(c);
    if (value < 0) return std::nullopt;
    if (high < 0) {
      high = value;
      continue;
    }
    auto decoded = static_cast<std::uint8_t>(high * 16 + value);
    high = -1;
    if (decoded != 0 && !IsPrintableChar(decoded)) return std::nullopt;
    if (decoded == 0) ended = true;
    if (!ended) text.push_back(static_cast<char>(decoded));
  }
  return text;
}

// Copies the string at `position` up to its 0 byte or the end of the bytes;
// empty when any of its bytes is not printable.
std::string readPlainString(std::span<const std::uint8_t> bytes, std::size_t position) {
  std::string text;
  for (std::size_t i = position; i < bytes.size() && bytes[i] != 0; ++i) {
    if (!IsPrintableChar(bytes[i])) return {};
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

// Keeps the bytes from the first to the last that is not blank; a text of
// blanks only is kept whole.
std::string trimBlanks(const std::string& text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlankChar(static_cast<std::uint8_t>(text[first]))) ++first;
  if (first == text.size()) return text;
  std::size_t last = text.size() - 1;
  while (IsBlankChar(static_cast<std::uint8_t>(text[last]))) --last;
  return text.substr(first, last - first + 1);
}

}  // namespace

void TDisk_Property::clear() {
  Vendor.clear();
  SerialNumber.clear();
  Product.clear();
  Revision.clear();
  Removable = 0;
  BusTypeText.clear();
}

std::string DecodeDescriptorString(std::span<const std::uint8_t> descriptor, std::uint32_t position) {
  if (position == 0 || position >= descriptor.size()) return {};
  std::optional<std::string> text = readHexString(descriptor, position);
  if (!text) text = readPlainString(descriptor, position);
  return trimBlanks(*text);
}

std::string BusTypeToText(std::uint8_t busType) {
  static constexpr std::array<const char*, 12> kTexts = {"unknown", "Scsi", "Atapi", "Ata",   "1394", "Ssa",
                                                         "Fibre",   "Usb",  "RAID",  "iSCSI", "Sas",  "Sata"};
  return busType < kTexts.size() ? kTexts[busType] : "unknown";
}

bool GetDiskProperty(std::string path, TDisk_Property& property) {
  DevicePort& p = port();
  DiskHandle handle = p.OpenDisk(path, GENERIC_READ, 0);
  if (handle == kInvalidHandle) return false;
  ScopedDisk disk(p, handle);
  const std::array<std::uint8_t, kStoragePropertyQuerySize> query{};
  // Zeroed, so that whatever the device does not return reads as 0 bytes and
  // ends every string walk inside the buffer.
  std::array<std::uint8_t, kStorageDescriptorBufferSize> descriptor{};
  std::uint32_t returned = 0;
  bool ok = p.DiskControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), static_cast<std::uint32_t>(query.size()),
                          descriptor.data(), static_cast<std::uint32_t>(descriptor.size()), &returned);
  if (!ok) return false;
  std::span<const std::uint8_t> bytes(descriptor);
  std::string vendor = DecodeDescriptorString(bytes, readLe32(bytes, kDescriptorVendorIdOffset));
  std::string product = DecodeDescriptorString(bytes, readLe32(bytes, kDescriptorProductIdOffset));
  std::string revision = DecodeDescriptorString(bytes, readLe32(bytes, kDescriptorProductRevisionOffset));
  std::string serial = DecodeDescriptorString(bytes, readLe32(bytes, kDescriptorSerialNumberOffset));
  property.Vendor = std::move(vendor);
  property.Product = std::move(product);
  property.Revision = std::move(revision);
  property.SerialNumber = std::move(serial);
  property.Removable = readU8(bytes, kDescriptorRemovableMediaOffset);
  property.BusTypeText = BusTypeToText(static_cast<std::uint8_t>(readLe32(bytes, kDescriptorBusTypeOffset) & 0xFF));
  return true;
}

std::string GetDiskStatusText(const std::string& diskNumber) {
  GetDiskAttributesRecord record;
  if (!GetDiskAttributes("\\\\.\\PhysicalDrive" + diskNumber, record)) return {};
  const std::uint64_t word = record.attributes();
  if (word == 0) return "Online Read-Write ";
  const bool offline = (word & DISK_ATTRIBUTE_OFFLINE) != 0;
  const bool readOnly = (word & DISK_ATTRIBUTE_READ_ONLY) != 0;
  if (offline && readOnly) return "Offline Read-Only ";
  if (offline) return "Offline Read-Write ";
  if (readOnly) return "Online Read-Only ";
  return {};
}

}  // namespace kestrin
