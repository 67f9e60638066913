#pragma once
// A disk image file as a medium. The sector size is given, or detected from
// the image (4096 when it holds a GPT written for 4096-byte sectors, else
// 512).

#include <memory>
#include <string>

#include "Medium.h"

namespace kestrin {

class ImageMedium : public Medium {
 public:
  // Opens `path`, read-write when `writable` and the file allows it, else
  // read-only. `sectorSize` 0 means detect. Returns nullptr and sets `error`
  // when the file cannot be opened.
  static std::unique_ptr<ImageMedium> open(const std::string& path, bool writable, std::uint32_t sectorSize,
                                           std::uint32_t& error);
  ~ImageMedium() override;

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;
  bool isReadOnly() const override { return m_readOnly; }
  std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) override;
  std::string displayName() const override { return m_name; }

 private:
  ImageMedium(int fd, bool readOnly, std::uint32_t sectorSize, std::uint64_t sectorCount, std::string name);

  int m_fd;
  bool m_readOnly;
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
  std::string m_name;
};

// The Windows error code for an errno value.
std::uint32_t ErrorFromErrno(int err);

}  // namespace kestrin
