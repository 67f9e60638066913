#include "MbrSectors.h"

#include "ErrorCodes.h"

namespace kestrin {

std::uint32_t readOneSector(SectorReader& medium, std::uint64_t lba, std::vector<std::uint8_t>& out) {
  out.assign(medium.sectorSize(), 0);
  return medium.readSectors(lba, out);
}

std::uint32_t writeInOrder(SectorDevice& medium, const std::vector<SectorWrite>& writes) {
  for (const SectorWrite& write : writes) {
    if (std::uint32_t error = medium.writeSectors(write.lba, write.bytes); error != ERROR_SUCCESS) return error;
    if (std::uint32_t error = medium.flush(); error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
