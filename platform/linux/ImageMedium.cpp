#include "ImageMedium.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "LayoutCodec.h"
#include "Port.h"
#include "SectorFile.h"

namespace kestrin {

namespace {

// Reads as much of [offset, offset + size) as the file holds; the rest stays zero.
std::vector<std::uint8_t> readHead(int fd, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

int descriptorOf(std::intptr_t file) { return static_cast<int>(file); }

std::string baseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::unique_ptr<ImageMedium> ImageMedium::open(const std::string& path, bool writable, std::uint32_t sectorSize,
                                               std::uint32_t& error) {
  // Whether the disk is read-only depends on the file, not on how this
  // handle opens it: a read-only open of a writable image is a writable disk.
  bool readOnly = false;
  int fd = OpenWithoutWaiting(path, writable ? O_RDWR : O_RDONLY);
  if (fd < 0 && writable && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // An image the user cannot write is a read-only disk, not a missing one.
    fd = OpenWithoutWaiting(path, O_RDONLY);
    readOnly = true;
  }
  if (fd < 0) {
    error = ErrorFromErrno(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_BAD_DEVICE;
    ::close(fd);
    return nullptr;
  }
  if (!writable && ::access(path.c_str(), W_OK) != 0) readOnly = true;
  if (sectorSize == 0) sectorSize = DetectSectorSize(readHead(fd, 8192));
  auto count = static_cast<std::uint64_t>(st.st_size) / sectorSize;
  error = ERROR_SUCCESS;
  return std::unique_ptr<ImageMedium>(new ImageMedium(fd, writable, readOnly, sectorSize, count, baseName(path)));
}

ImageMedium::~ImageMedium() { ::close(descriptorOf(m_file)); }

std::uint32_t ImageMedium::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  return ReadSectorsAt(descriptorOf(m_file), m_sectorSize, m_sectorCount, lba, out);
}

std::uint32_t ImageMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  if (m_readOnly) return ERROR_WRITE_PROTECT;
  return WriteSectorsAt(descriptorOf(m_file), m_sectorSize, m_sectorCount, lba, data);
}

std::uint32_t ImageMedium::flush() {
  if (m_readOnly) return ERROR_SUCCESS;
  return ::fdatasync(descriptorOf(m_file)) == 0 ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

std::uint32_t ImageMedium::lock(LockMode mode, std::chrono::milliseconds wait) {
  return LockFile(descriptorOf(m_file), mode, wait);
}

}  // namespace kestrin
