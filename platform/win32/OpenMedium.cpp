#include "OpenMedium.h"

#include "ImageMedium.h"

namespace kestrin {

// On Windows the stack serves image files only; the machine's own disks are
// the system port's (SystemPort.cpp).
std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error) {
  return ImageMedium::open(spec.path, writable, spec.sectorSize, error);
}

}  // namespace kestrin
