#pragma once
// The descriptive strings of a disk (from the storage device descriptor) and
// its online and read-only state as text. Part of the unit `lib`; nothing
// here shows a message or raises.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "RequestRecords.h"

namespace kestrin {

// The descriptive strings of one disk. The decoded texts hold printable
// ASCII only, so they read the same in any text encoding.
struct TDisk_Property {
  std::string Vendor;
  std::string SerialNumber;
  std::string Product;
  std::string Revision;
  std::uint8_t Removable = 0;  // 0 or 1: the medium is removable
  std::string BusTypeText;

  // Empties every text and sets Removable to 0.
  void clear();
};

// Reads the storage device descriptor of `path` (opened read-only) into
// `property`. Returns false, leaving `property` as it was, when the disk
// cannot be opened or the query fails.
bool GetDiskProperty(std::string path, TDisk_Property& property);

// Decodes the string at byte `position` of `descriptor`: a string written as
// hexadecimal digit pairs is turned into the characters it spells, any other
// string of printable characters is taken as it is, and anything else gives
// the empty text. Surrounding tabs, carriage returns and spaces are trimmed,
// unless the text holds nothing else. Position 0, or a position outside
// `descriptor`, gives the empty text; no walk goes past the end of
// `descriptor`.
std::string DecodeDescriptorString(std::span<const std::uint8_t> descriptor, std::uint32_t position);

// "Scsi", "Atapi", "Ata", "1394", "Ssa", "Fibre", "Usb", "RAID", "iSCSI",
// "Sas", "Sata" for 1 .. 11; "unknown" for any other value.
std::string BusTypeToText(std::uint8_t busType);

// The online and read-only state of disk `diskNumber` (decimal text, not a
// path), each text ending in one blank: "Online Read-Write ",
// "Offline Read-Write ", "Online Read-Only ", "Offline Read-Only ". Empty
// when the attributes cannot be read, or when the word is not 0 but has
// neither of the two bits.
std::string GetDiskStatusText(const std::string& diskNumber);

}  // namespace kestrin
