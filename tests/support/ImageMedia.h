#pragma once
// Image files as media for the codec tests: opened through the disk stack's
// own ImageMedium, or read whole into memory.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "ImageMedium.h"
#include "MemoryMedium.h"
#include "Port.h"
#include "TestSupport.h"

namespace kestrin::test {

// The image file as a medium of `sectorSize` (0: the one its table was
// written for); nullptr, and a failed check, when it does not open.
inline std::unique_ptr<ImageMedium> OpenImage(const std::string& path, std::uint32_t sectorSize,
                                              bool writable = false) {
  std::uint32_t error = 0;
  std::unique_ptr<ImageMedium> medium = ImageMedium::open(path, writable, sectorSize, error);
  EXPECT_EQ(error, ERROR_SUCCESS) << path;
  EXPECT_NE(medium, nullptr) << path;
  return medium;
}

// The whole image file in memory, as a medium of `sectorSize`.
inline MemoryMedium LoadImage(const std::string& path, std::uint32_t sectorSize) {
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  MemoryMedium medium(bytes.size(), sectorSize);
  medium.bytes = std::move(bytes);
  return medium;
}

}  // namespace kestrin::test
