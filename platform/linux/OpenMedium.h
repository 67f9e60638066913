#pragma once
// The medium opener of the disk stack: a block device becomes a BlockMedium,
// anything else an ImageMedium.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "DiskMap.h"
#include "Medium.h"

namespace kestrin {

// Opens the medium of `spec`, read-write when `writable`. A block device is
// opened with its kernel sector size (the entry's sector size applies to
// images only) and described from sysfs under `sysfsRoot`. Returns nullptr
// and sets `error` (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...) when the
// medium cannot be opened.
std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error,
                                   const std::filesystem::path& sysfsRoot = "/sys");

}  // namespace kestrin
