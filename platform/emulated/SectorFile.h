#pragma once
// Whole-sector transfers between a file descriptor (an image file or a block
// device) and memory, shared by the media. Both check the range against the
// medium's size first and loop over short transfers; they return a Windows
// error code.

#include <cstdint>
#include <span>

namespace kestrin {

std::uint32_t ReadSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                            std::span<std::uint8_t> out);
std::uint32_t WriteSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                             std::span<const std::uint8_t> data);

}  // namespace kestrin
