#pragma once
// What the peer tools (sfdisk, sgdisk, parted, partx, fdisk) say about a
// disk, read into one shape so that tests can hold it against what Kestrin
// reads and writes. Each reader runs its tool once, on an image file or a
// loop device, and never changes the disk.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Guid.h"
#include "LayoutBuffer.h"

namespace kestrin::test {

// One partition as a peer lists it.
struct PeerPartition {
  // MBR: 1 to 4 for the primaries, 5 and up for the logical drives in chain
  // order; GPT: the position in the entry array.
  int number = 0;
  // First unit and length, in the units of the table (PeerTable::unit).
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  // A GPT type GUID in upper case without braces; an MBR type byte in
  // lower-case hexadecimal without a prefix ("83", "c"); sgdisk -p lists its
  // own type codes ("8300"). parted shows no type.
  std::string type;
  // A GPT entry GUID in upper case; partx gives MBR partitions an id of the
  // disk's signature and the number ("deadbeef-01").
  std::string uuid;
  std::string name;              // GPT
  bool bootable = false;         // MBR
  std::string kind;              // parted on MBR: "primary", "extended" or "logical"
  std::uint64_t attributes = 0;  // sgdisk -i, partx: the GPT attribute bits

  // The MBR type byte of `type`; 0 where the peer shows no type.
  std::uint8_t mbrType() const;
};

// A disk as a peer lists it.
struct PeerTable {
  bool ok = false;     // the tool succeeded and found a partition table
  std::string output;  // what it wrote to standard output
  std::string error;   // what it wrote to standard error
  // "dos" or "gpt" (sfdisk, sgdisk -p); "msdos", "gpt" or "unknown" (parted).
  std::string label;
  // The disk identifier: "0x11223344" for MBR, an upper-case GUID for GPT.
  std::string id;
  std::uint64_t unit = 512;       // bytes per unit of start and size
  std::uint64_t firstUsable = 0;  // GPT, in sectors
  std::uint64_t lastUsable = 0;
  std::uint32_t entryCount = 0;  // sgdisk -p: how many entries the GPT array holds
  std::vector<PeerPartition> partitions;

  // Everything the tool wrote, for failure messages.
  std::string text() const { return output + error; }
  // The MBR disk signature of `id`; 0 where the peer shows none.
  std::uint32_t mbrId() const;
  // The partition numbers, in the order listed.
  std::vector<int> numbers() const;
  // Each partition's {start, size} by number.
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> byNumber() const;
  // The partition numbered `number`. A missing one comes back numbered 0,
  // with texts that name it and a start and size that no disk has, so that a
  // check of any of these fails.
  PeerPartition partition(int number) const;
};

// `sfdisk --dump DEVICE`: the header (label, id, usable range, sector size)
// and every partition line with its fields.
PeerTable SfdiskDump(const std::string& device);
// `sfdisk --json DEVICE`: label, id and the partitions.
PeerTable SfdiskJson(const std::string& device);
// True when `sfdisk --verify DEVICE` finds nothing wrong; `report` gets its output.
bool SfdiskVerifies(const std::string& device, std::string* report = nullptr);

// `sgdisk -p DEVICE`: the disk GUID, the array size, the usable range and the
// partitions (with sgdisk's type codes). The label is "gpt" unless sgdisk
// fails or reports that no GPT is present; a disk without any table reads
// as the empty GPT sgdisk would make of it.
PeerTable SgdiskPrint(const std::string& device);
// `sgdisk -i N DEVICE`: one entry with its attribute bits; nullopt when
// sgdisk fails or the entry is unused.
std::optional<PeerPartition> SgdiskInfo(const std::string& device, int number);
// True when `sgdisk -v DEVICE` reports no problem; `report` gets its output.
bool SgdiskVerifies(const std::string& device, std::string* report = nullptr);

// `parted -s DEVICE unit B print`: start and size in bytes, the MBR kind and
// boot flag, the GPT name.
PeerTable PartedPrint(const std::string& device);

// `partx --raw DEVICE` (its --show listing): start and size in 512-byte units
// whatever the sector size (as the kernel counts), type, uuid and name, the
// MBR boot flag and the GPT attribute bits.
PeerTable PartxShow(const std::string& device);

// `fdisk -b SECTORSIZE -l IMAGE`, for the sector sizes that sfdisk cannot be
// told on an image file.
PeerTable FdiskList(const std::string& image, std::uint32_t sectorSize);

// sfdisk --verify and sgdisk -v as a test's condition: a failure carries
// the tool's report.
::testing::AssertionResult SfdiskAccepts(const std::string& device);
::testing::AssertionResult SgdiskAccepts(const std::string& device);

// The text form the peers print a GUID in (upper case, no braces), made
// here rather than by the code under test.
std::string PeerGuidText(const Guid& guid);

// The peer listings that ExpectPeersSeeLayout holds a layout against.
enum class Peer { SfdiskDump, SfdiskJson, Sgdisk, Parted, Partx, Fdisk };

// Holds `layout`, which Kestrin read from or wrote to `device` (of
// `sectorSize`-byte sectors), against what each of `peers` lists there.
// Every peer must list the same partitions, with the same numbers, places
// and sizes; and what it shows of each: the GPT type, unique GUID and name,
// the MBR type (or parted's kind) and boot flag. sfdisk --dump also gives
// the GPT disk GUID and usable area (and sgdisk -i each entry's attribute
// bits), sgdisk -p the size of the entry array.
// With `decoded` the layout must also be as the MBR decoder makes it: the
// disk signature, four slots per logical drive, each partition in the slot
// of its number with its partition number and (a primary) hidden sectors,
// every other slot empty but the links of the EBR chain, and each link
// pointing at the next logical drive's EBR.
void ExpectPeersSeeLayout(const LayoutBuffer& layout, const std::string& device, std::uint32_t sectorSize,
                          const std::vector<Peer>& peers, bool decoded = false);

}  // namespace kestrin::test
