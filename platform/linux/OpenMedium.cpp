#include "OpenMedium.h"

#include <sys/stat.h>

#include <cerrno>

#include "BlockMedium.h"
#include "ImageMedium.h"
#include "SectorFile.h"

namespace kestrin {

std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error) {
  return OpenMedium(spec, writable, error, "/sys");
}

std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error,
                                   const std::filesystem::path& sysfsRoot) {
  // Only a regular file or a block device is a disk. Anything else is
  // refused before it is opened: opening a FIFO waits for a writer, and a
  // character device or socket holds no sectors.
  struct stat st {};
  if (::stat(spec.path.c_str(), &st) != 0) {
    error = ErrorFromErrno(errno);
    return nullptr;
  }
  if (S_ISBLK(st.st_mode)) return BlockMedium::open(spec.path, writable, error, sysfsRoot);
  if (S_ISREG(st.st_mode)) return ImageMedium::open(spec.path, writable, spec.sectorSize, error);
  error = S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_BAD_DEVICE;
  return nullptr;
}

}  // namespace kestrin
