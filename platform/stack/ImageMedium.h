#pragma once
// A disk image file as a medium. Each platform opens, reads, writes and
// locks it with its own file calls (platform/linux: open, pread and pwrite,
// fdatasync, flock; platform/win32: CreateFileW, positioned ReadFile and
// WriteFile, FlushFileBuffers, LockFileEx). The sector size is given, or
// detected from the image (4096 when it holds a GPT written for 4096-byte
// sectors, else 512).

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "Medium.h"

namespace kestrin {

class ImageMedium : public Medium {
 public:
  // Opens the image at `path` (UTF-8), read-write when `writable` and the
  // file allows it, else read-only. `sectorSize` 0 means detect. Returns
  // nullptr and sets `error` when the file cannot be opened; a directory
  // gives ERROR_DIRECTORY, anything else that is no regular file (a FIFO, a
  // device; on Windows a path of the system's device namespace, "\\.\...",
  // since whole disks are the system port's) ERROR_BAD_DEVICE.
  static std::unique_ptr<ImageMedium> open(const std::string& path, bool writable, std::uint32_t sectorSize,
                                           std::uint32_t& error);
  // Closes the file; its lock goes with it.
  ~ImageMedium() override;
  ImageMedium(const ImageMedium&) = delete;
  ImageMedium& operator=(const ImageMedium&) = delete;

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;
  bool isReadOnly() const override { return m_readOnly; }
  // Shared for a handle that reads, exclusive for one that writes, so that
  // it binds Kestrin's processes only: an flock on Linux; on Windows a
  // byte-range lock on one byte past any data, asked for again every few
  // milliseconds while another process holds it. ERROR_BUSY after `wait`.
  std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) override;
  std::string displayName() const override { return m_name; }

 private:
  ImageMedium(std::intptr_t file, bool writable, bool readOnly, std::uint32_t sectorSize, std::uint64_t sectorCount,
              std::string name)
      : m_file(file),
        m_writable(writable),
        m_readOnly(readOnly),
        m_sectorSize(sectorSize),
        m_sectorCount(sectorCount),
        m_name(std::move(name)) {}

  std::intptr_t m_file;  // the file descriptor, or the system's HANDLE on Windows
  bool m_writable;       // opened for writing
  bool m_readOnly;       // the file cannot be written by this process
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
  std::string m_name;
};

}  // namespace kestrin
