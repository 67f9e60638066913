#pragma once
// How the disk stack opens the medium of a disk number. Each platform
// defines it (with its media library, kestrin_media): on Linux an image file
// or a block device, on Windows an image file.

#include <cstdint>
#include <memory>

#include "DiskMap.h"
#include "Medium.h"

namespace kestrin {

// Opens the medium of `spec`, read-write when `writable`. Returns nullptr and
// sets `error` (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DIRECTORY,
// ERROR_BAD_DEVICE, ...) when the medium cannot be opened.
std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error);

}  // namespace kestrin
