#pragma once
// What the media of Linux share around the system calls: errno as a
// Windows error code, opening without waiting, the lock, and whole-sector
// transfers between a file descriptor (an image file or a block device) and
// memory, which check the range against the medium's size first and loop
// over short transfers.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "Medium.h"

namespace kestrin {

// The Windows error code for an errno value.
std::uint32_t ErrorFromErrno(int err);

// Opens `path` with `flags` (O_CLOEXEC added) without ever waiting: a FIFO
// or a device that appeared in the path's place after it was checked would
// otherwise block the open. Blocking transfers are restored once it is open.
// Returns the descriptor, or -1 with errno set.
int OpenWithoutWaiting(const std::string& path, int flags);

// Takes an flock on `fd`, waiting at most `wait` for it. Returns
// ERROR_SUCCESS, ERROR_BUSY when another open file holds a conflicting lock
// that long, or ERROR_LOCK_VIOLATION when the file takes no locks.
std::uint32_t LockFile(int fd, LockMode mode, std::chrono::milliseconds wait);

std::uint32_t ReadSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                            std::span<std::uint8_t> out);
std::uint32_t WriteSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                             std::span<const std::uint8_t> data);

}  // namespace kestrin
