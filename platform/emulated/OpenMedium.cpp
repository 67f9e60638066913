#include "OpenMedium.h"

#include <sys/stat.h>

#include <cerrno>

#include "BlockMedium.h"
#include "ImageMedium.h"

namespace kestrin {

std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error,
                                   const std::filesystem::path& sysfsRoot) {
  struct stat st {};
  if (::stat(spec.path.c_str(), &st) != 0) {
    error = ErrorFromErrno(errno);
    return nullptr;
  }
  if (S_ISBLK(st.st_mode)) return BlockMedium::open(spec.path, writable, error, sysfsRoot);
  return ImageMedium::open(spec.path, writable, spec.sectorSize, error);
}

}  // namespace kestrin
