#pragma once
// A disk image file as a medium on Windows, through the system's file calls:
// CreateFileW, positioned ReadFile and WriteFile, FlushFileBuffers, and
// LockFileEx for the stack's lock. The sector size is given, or detected
// from the image (4096 when it holds a GPT written for 4096-byte sectors,
// else 512), as on every platform.

#include <memory>
#include <string>

#include "Medium.h"

namespace kestrin {

class ImageFileMedium : public Medium {
 public:
  // Opens the image at `path` (UTF-8), read-write when `writable` and the
  // file allows it, else read-only. `sectorSize` 0 means detect. Returns
  // nullptr and sets `error` when the file cannot be opened; a directory
  // gives ERROR_DIRECTORY, a path of the system's device namespace
  // ("\\.\...") ERROR_BAD_DEVICE: whole disks are the system port's.
  static std::unique_ptr<ImageFileMedium> open(const std::string& path, bool writable, std::uint32_t sectorSize,
                                               std::uint32_t& error);
  // Closes the file; its lock goes with the handle.
  ~ImageFileMedium() override;

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_sectorCount; }
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;
  bool isReadOnly() const override { return m_readOnly; }
  // A byte-range lock: shared for a handle that reads, exclusive for one
  // that writes, on one byte past any data, so that it binds Kestrin's
  // processes only (as the advisory lock on Linux). A lock held elsewhere
  // is asked for again every few milliseconds until `wait` has passed,
  // then ERROR_BUSY.
  std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) override;
  std::string displayName() const override { return m_name; }

 private:
  ImageFileMedium(void* file, bool writable, bool readOnly, std::uint32_t sectorSize, std::uint64_t sectorCount,
                  std::string name);

  void* m_file;     // the system's HANDLE
  bool m_writable;  // opened for writing
  bool m_readOnly;  // the file cannot be written by this process
  std::uint32_t m_sectorSize;
  std::uint64_t m_sectorCount;
  std::string m_name;
};

// The stack's error code for a system error code from the file calls: the
// codes the stack names pass through, the others become the nearest of
// them (a missing folder is a missing image, anything unknown an I/O error).
std::uint32_t ErrorFromSystem(std::uint32_t systemError);

}  // namespace kestrin
