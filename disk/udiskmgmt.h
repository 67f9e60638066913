#pragma once
// The editing operations, the length reader, FirstWord and the catalogue
// lookups.
//
// Every entry operation opens the disk, reads the layout, changes one slot
// or one header field, writes the whole layout back and closes the disk
// (EditDriveLayout). On a failed request it shows one message through the
// message sink and returns false. A type GUID text that does not convert
// raises ConversionError after the layout was read and before anything is
// written. An entry number outside 1 .. 64 is refused with a message and
// false before the disk is opened.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "LayoutBuffer.h"
#include "Port.h"

namespace kestrin {

// --- readers and text helpers ---

// IOCTL_DISK_GET_LENGTH_INFO on an open handle; 0 when the request fails.
std::int64_t GetDiskLength(DiskHandle handle);
// Opens `path` read-only and returns its length, 0 when it cannot be read.
std::int64_t GetDiskLengthByPath(std::string path);
// The text before the first blank, or the whole text when it has none.
std::string FirstWord(const std::string& text);

// --- catalogue lookups ---

// Every description of the type byte, each preceded by one blank, in
// catalogue order; empty when there is none or the catalogue cannot be read.
std::string TypeDescriptionByByte(std::uint8_t type);
// The same for a type GUID in braces, compared without regard to ASCII case.
std::string TypeDescriptionByGuid(const std::string& guidText);

// --- the shared read-modify-write sequence ---

enum class UpdateRequest { Send, Skip };
using LayoutChange = std::function<void(LayoutBuffer&)>;

// What an operation requires of the layout it has read before it may change
// it. `style` is the partition style the operation is made for; `lastEntry`
// the highest entry number it may address in a layout of `count` slots (see
// LayoutRequirement::entryLimit), 0 for an operation on the header only.
struct LayoutRequirement {
  enum class Entries { WithinCount, CreateMbr, CreateGpt };
  std::uint32_t style = kStyleMbr;
  unsigned entry = 0;
  Entries entries = Entries::WithinCount;
};

// The refusal of `layout` for `requirement`: "MBR only" / "GPT only" for a
// layout of another style, "not a valid part number" for an entry the layout
// has no slot for (an MBR create may fill the four primary slots of an empty
// table; a GPT create any of the 64 slots). Empty when the layout is fit.
std::string LayoutRefusal(const LayoutBuffer& layout, const LayoutRequirement& requirement);

// Opens read-write, dismounts, reads the layout into a zeroed buffer, applies
// `change`, writes the whole buffer, sends the update request (unless
// skipped) and closes. True only when the write succeeded. Errors raised by
// `change` close the disk and pass on with nothing written. With a
// `requirement`, a layout read that does not meet it is refused once the
// change has run: its message is shown, nothing is written and the result
// is false.
bool EditDriveLayout(const std::string& path, const LayoutChange& change, UpdateRequest update = UpdateRequest::Send,
                     const std::optional<LayoutRequirement>& requirement = std::nullopt);

// --- MBR entry operations ---
bool CreatePartitionMBR(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        bool bootIndicator, std::uint8_t type);
bool DeletePartitionMBR(std::string path, std::uint8_t entry);
bool SetPartitionTypeMBR(std::string path, std::uint8_t entry, std::uint8_t type);
bool SetPartitionBootMBR(std::string path, std::uint8_t entry, bool bootIndicator);
bool SetDiskIdMBR(std::string path, std::uint32_t signature);
bool SetPartitionNumberOneMBR(std::string path, std::uint8_t entry);

// --- GPT entry operations ---
bool CreatePartitionGPT(std::string path, std::uint8_t entry, std::int64_t startingOffset, std::int64_t length,
                        const std::string& typeGuidText);
bool DeletePartitionGPT(std::string path, std::uint8_t entry);
bool SetPartitionTypeGPT(std::string path, std::uint8_t entry, const std::string& typeGuidText);
bool SetPartitionAttributesGPT(std::string path, std::uint8_t entry, std::uint64_t attributes);

// --- whole-disk operations ---

inline constexpr std::uint32_t kCreateDiskMbrSignature = 0x01020304;
inline constexpr std::uint32_t kCreateDiskGptMaxPartitionCount = 128;

// Gives the disk a fresh empty layout of `style` (0 MBR, 1 GPT, 2 RAW).
// Shows "IOCTL_DISK_CREATE_DISK failed:" + text and returns false on failure.
bool CreateDisk(std::string path, std::uint8_t style);
// Removes the layout; throws KestrinError
// "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:" + text on failure.
void DeleteDriveLayout(std::string path);
// Sets the attribute bits selected by `mask`, not persistently. False
// without a message on any failure.
bool SetDiskAttributes(std::string path, std::uint64_t attributes, std::uint64_t mask);

}  // namespace kestrin
