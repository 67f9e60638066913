#pragma once
// Reading the small text attributes of sysfs. Every reader takes the
// attribute's full path, so that tests can point them at a tree of their
// own instead of "/sys".

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrin {

// The attribute's text without leading and trailing white space (sysfs
// ends values in a line break, SCSI pads vendor and model with blanks), or
// the empty text when the attribute cannot be read.
std::string ReadSysfsText(const std::filesystem::path& attribute);

// The attribute as an unsigned decimal number, or nullopt when it cannot be
// read or is no number.
std::optional<std::uint64_t> ReadSysfsNumber(const std::filesystem::path& attribute);

// The attribute's raw bytes, at most `limit` of them (binary attributes
// such as SCSI VPD pages).
std::string ReadSysfsBytes(const std::filesystem::path& attribute, std::size_t limit);

// The sysfs directory of block device `device` (canonical), found through
// <sysfsRoot>/dev/block/<major>:<minor>; empty when there is none.
std::filesystem::path SysfsDeviceDirectory(const std::filesystem::path& sysfsRoot, dev_t device);

}  // namespace kestrin
