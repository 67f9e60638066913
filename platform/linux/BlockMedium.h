#pragma once
// A block device as a medium: a whole disk of the machine, or a loop device.
//
// The sector size is the kernel's logical sector size (BLKSSZGET) and the
// length the device's size (BLKGETSIZE64). The device is opened read-write
// only for a writing request, never exclusively (O_EXCL), so that mounted
// partitions and other programs do not stand in the way, and every write is
// made stable (fsync) before the request reports success. The read-only
// state is the kernel's flag (BLKROGET, BLKROSET). After a table change the
// kernel's partition list is brought in line with the new table (see
// PartitionSync.h).

#include <filesystem>
#include <memory>
#include <string>

#include "DiskMap.h"
#include "Medium.h"

namespace kestrin {

class BlockMedium : public Medium {
 public:
  // Opens the block device at `path`, read-write when `writable` (a
  // write-protected medium opens read-only and reads as read-only). Fails,
  // returning nullptr and setting `error`, when the device cannot be opened
  // with the access asked for (ERROR_ACCESS_DENIED without the rights the
  // device node demands, ERROR_FILE_NOT_FOUND when it is missing,
  // ERROR_NOT_READY for a drive without a medium) or is no block device
  // (ERROR_NOT_SUPPORTED). `sysfsRoot` is where sysfs is
  // mounted; the device's sysfs directory is found through
  // <sysfsRoot>/dev/block/<major>:<minor>.
  static std::unique_ptr<BlockMedium> open(const std::string& path, bool writable, std::uint32_t& error,
                                           const std::filesystem::path& sysfsRoot = "/sys");
  ~BlockMedium() override;
  BlockMedium(const BlockMedium&) = delete;
  BlockMedium& operator=(const BlockMedium&) = delete;

  std::uint32_t sectorSize() const override { return m_sectorSize; }
  std::uint64_t sectorCount() const override { return m_lengthBytes / m_sectorSize; }
  std::uint64_t lengthBytes() const override { return m_lengthBytes; }
  // The kernel's physical block size and alignment offset (BLKPBSZGET,
  // BLKALIGNOFF).
  PhysicalSectors physicalSectors() const override;
  std::uint32_t readSectors(std::uint64_t lba, std::span<std::uint8_t> out) override;
  std::uint32_t writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) override;
  std::uint32_t flush() override;
  // The kernel's read-only flag of the device, or a write-protected medium
  // (also true when the flag cannot be read, so that nothing is written to
  // a disk in doubt).
  bool isReadOnly() const override;
  // An advisory lock on the device node (flock), which is also what keeps
  // udev from probing the disk while its table is rewritten.
  std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) override;
  // Brings the kernel's partition list in line with the table now on the
  // disk (decoded afresh). Does nothing for a partition opened as a disk.
  // ERROR_DEVICE_IN_USE when the kernel refused a change as busy (a
  // partition held open, which the exclusive open does not see).
  std::uint32_t tableChanged() override;
  // Refuses, as refuseChangesToBusyPartitions, a write that would remove,
  // move or shrink a partition in use; after the write, puts the table
  // sectors back, and the kernel's list with them, when the kernel refuses
  // the new table's partitions as busy.
  std::uint32_t writeTable(const std::function<std::uint32_t(SectorDevice&)>& write) override;
  // Refuses a write that would remove, move or shrink a partition of the
  // kernel's list that is mounted or held open exclusively.
  std::uint32_t refuseChangesToBusyPartitions(const std::function<std::uint32_t(SectorDevice&)>& write) override;
  std::string displayName() const override;
  MediumDescription description() const override;
  // Sets the kernel's read-only flag (BLKROSET); it lasts until it is
  // cleared or the device goes away. Needs CAP_SYS_ADMIN, else
  // ERROR_ACCESS_DENIED.
  std::uint32_t setReadOnly(bool readOnly) override;

  // The device's sysfs directory (canonical), empty when it was not found.
  const std::filesystem::path& sysfsDirectory() const { return m_sysfsDirectory; }

 private:
  // The check of refuseChangesToBusyPartitions against the disk as `after`
  // holds it once the write is made.
  std::uint32_t refuseChangesLeaving(SectorReader& after);

  BlockMedium(int fd, bool writeProtected, std::uint32_t sectorSize, std::uint64_t lengthBytes,
              std::filesystem::path sysfsRoot, std::filesystem::path sysfsDirectory, std::string path);

  int m_fd;
  bool m_writeProtected;  // the device refused to open for writing (EROFS)
  std::uint32_t m_sectorSize;
  std::uint64_t m_lengthBytes;
  std::filesystem::path m_sysfsRoot;
  std::filesystem::path m_sysfsDirectory;
  std::string m_path;
};

// The Linux medium opener (OpenMedium.h) with sysfs mounted at `sysfsRoot`:
// a block device becomes a BlockMedium opened with its kernel sector size
// (the entry's sector size applies to images only) and described from
// sysfs; a regular file an ImageMedium; anything else is refused.
std::unique_ptr<Medium> OpenMedium(const DiskSpec& spec, bool writable, std::uint32_t& error,
                                   const std::filesystem::path& sysfsRoot);

}  // namespace kestrin
