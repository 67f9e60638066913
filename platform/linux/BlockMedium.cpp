#include "BlockMedium.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "LayoutCodec.h"
#include "MbrSectors.h"
#include "OverlayDevice.h"
#include "PartitionSync.h"
#include "Port.h"
#include "SectorFile.h"
#include "SysfsDescriptor.h"
#include "SysfsFiles.h"

namespace fs = std::filesystem;

namespace kestrin {

namespace {

// Sector sizes the codecs can work with: powers of two from 512 to 64 KiB.
bool isPlausibleSectorSize(int size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

// True when an exclusive open of the block device node `node` fails because
// the device is busy: mounted, or held open exclusively by another program.
bool exclusiveOpenIsRefused(const fs::path& node) {
  int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == EBUSY;
}

// True when the partition whose sysfs directory is `partition` is in use.
// Its node is the kernel's name under /dev; where no such node is there, a
// private one is made for the test (only for the real sysfs, whose device
// numbers are the machine's).
bool partitionInUse(const fs::path& partition, bool realSysfs) {
  unsigned majorNumber = 0;
  unsigned minorNumber = 0;
  if (std::sscanf(ReadSysfsText(partition / "dev").c_str(), "%u:%u", &majorNumber, &minorNumber) != 2) return false;
  const dev_t number = makedev(majorNumber, minorNumber);
  const fs::path node = fs::path("/dev") / partition.filename();
  struct stat st {};
  if (::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == number)
    return exclusiveOpenIsRefused(node);
  if (!realSysfs) return false;
  std::error_code error;
  std::string folder = (fs::temp_directory_path(error) / "kestrin-XXXXXX").string();
  if (error || ::mkdtemp(folder.data()) == nullptr) return false;
  const fs::path made = fs::path(folder) / "partition";
  bool busy = ::mknod(made.c_str(), S_IFBLK | 0600, number) == 0 && exclusiveOpenIsRefused(made);
  fs::remove_all(folder, error);
  return busy;
}

// The sysfs directory of partition `number` of the disk at `disk`.
fs::path partitionDirectory(const fs::path& disk, int number) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(disk, error)) {
    if (ReadSysfsNumber(entry.path() / "partition") == static_cast<std::uint64_t>(number)) return entry.path();
  }
  return {};
}

// A drive without a medium (an empty card reader) is not ready, as on the
// system; the other errors are those of any file.
std::uint32_t openError(int err) { return err == ENOMEDIUM ? ERROR_NOT_READY : ErrorFromErrno(err); }

}  // namespace

std::unique_ptr<BlockMedium> BlockMedium::open(const std::string& path, bool writable, std::uint32_t& error,
                                               const fs::path& sysfsRoot) {
  // Never O_EXCL: the kernel would refuse a disk with a mounted partition,
  // and Kestrin shares the disk with every other program, as the system's
  // own disk requests do.
  int fd = OpenWithoutWaiting(path, writable ? O_RDWR : O_RDONLY);
  bool writeProtected = false;
  if (fd < 0 && writable && errno == EROFS) {
    // A write-protected medium (the switch of an SD card) refuses to open
    // for writing. It opens as a disk all the same, as on the system, and
    // every write is then refused with ERROR_WRITE_PROTECT.
    fd = OpenWithoutWaiting(path, O_RDONLY);
    writeProtected = true;
  }
  if (fd < 0) {
    error = openError(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
    ::close(fd);
    error = ERROR_BAD_DEVICE;
    return nullptr;
  }
  int sectorSize = 0;
  std::uint64_t length = 0;
  if (::ioctl(fd, BLKSSZGET, &sectorSize) != 0 || ::ioctl(fd, BLKGETSIZE64, &length) != 0) {
    error = openError(errno);
    ::close(fd);
    return nullptr;
  }
  if (!isPlausibleSectorSize(sectorSize)) {
    ::close(fd);
    error = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  error = ERROR_SUCCESS;
  return std::unique_ptr<BlockMedium>(new BlockMedium(fd, writeProtected, static_cast<std::uint32_t>(sectorSize),
                                                      length, sysfsRoot, SysfsDeviceDirectory(sysfsRoot, st.st_rdev),
                                                      path));
}

PhysicalSectors BlockMedium::physicalSectors() const {
  // BLKALIGNOFF is -1 when the device's own partitioning left it with no
  // aligned start; the grid of the physical sectors is then unknown.
  unsigned int size = 0;
  int offset = 0;
  if (::ioctl(m_fd, BLKPBSZGET, &size) != 0 || size < m_sectorSize) size = m_sectorSize;
  if (::ioctl(m_fd, BLKALIGNOFF, &offset) != 0 || offset < 0) offset = 0;
  return {size, static_cast<std::uint32_t>(offset)};
}

BlockMedium::BlockMedium(int fd, bool writeProtected, std::uint32_t sectorSize, std::uint64_t lengthBytes,
                         fs::path sysfsRoot, fs::path sysfsDirectory, std::string path)
    : m_fd(fd),
      m_writeProtected(writeProtected),
      m_sectorSize(sectorSize),
      m_lengthBytes(lengthBytes),
      m_sysfsRoot(std::move(sysfsRoot)),
      m_sysfsDirectory(std::move(sysfsDirectory)),
      m_path(std::move(path)) {}

BlockMedium::~BlockMedium() { ::close(m_fd); }

std::uint32_t BlockMedium::readSectors(std::uint64_t lba, std::span<std::uint8_t> out) {
  return ReadSectorsAt(m_fd, m_sectorSize, sectorCount(), lba, out);
}

std::uint32_t BlockMedium::writeSectors(std::uint64_t lba, std::span<const std::uint8_t> data) {
  return WriteSectorsAt(m_fd, m_sectorSize, sectorCount(), lba, data);
}

std::uint32_t BlockMedium::flush() {
  // fsync on a block device writes its cached sectors and flushes the
  // drive's own write cache.
  while (::fsync(m_fd) != 0) {
    if (errno != EINTR) return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

bool BlockMedium::isReadOnly() const {
  if (m_writeProtected) return true;
  int readOnly = 1;
  if (::ioctl(m_fd, BLKROGET, &readOnly) != 0) return true;
  return readOnly != 0;
}

std::uint32_t BlockMedium::setReadOnly(bool readOnly) {
  int value = readOnly ? 1 : 0;
  if (::ioctl(m_fd, BLKROSET, &value) != 0) return ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

std::uint32_t BlockMedium::lock(LockMode mode, std::chrono::milliseconds wait) { return LockFile(m_fd, mode, wait); }

std::uint32_t BlockMedium::tableChanged() {
  if (m_sysfsDirectory.empty()) return ERROR_SUCCESS;
  std::error_code error;
  // A partition opened as a disk has no partitions of its own to update.
  if (fs::exists(m_sysfsDirectory / "partition", error)) return ERROR_SUCCESS;
  LayoutBuffer layout;
  std::vector<KernelPartition> wanted;
  // A table that cannot be read leaves the kernel with whatever its own
  // re-read finds; nothing is removed on the strength of a failed read.
  if (DecodeWholeLayout(*this, layout) != ERROR_SUCCESS) {
    ::ioctl(m_fd, BLKRRPART);
    return ERROR_SUCCESS;
  }
  const PartitionSyncReport report =
      SyncKernelPartitions(m_fd, m_sysfsDirectory, KernelPartitionsOfLayout(layout, m_sectorSize));
  // Other refusals (a device that takes no partitions) leave the kernel as
  // it can be; a busy partition means it still holds what the table lost.
  const bool busy =
      std::find(report.refusedErrnos.begin(), report.refusedErrnos.end(), EBUSY) != report.refusedErrnos.end();
  return busy ? ERROR_DEVICE_IN_USE : ERROR_SUCCESS;
}

std::uint32_t BlockMedium::writeTable(const std::function<std::uint32_t(SectorDevice&)>& write) {
  // The write tried out once: for the partitions in use, and for what the
  // sectors it changes hold now.
  OverlayDevice trial(*this);
  std::vector<SectorWrite> before;
  if (write(trial) == ERROR_SUCCESS) {
    if (std::uint32_t error = refuseChangesLeaving(trial); error != ERROR_SUCCESS) return error;
    for (std::uint64_t lba : trial.writtenSectors()) {
      SectorWrite sector{lba, std::vector<std::uint8_t>(m_sectorSize)};
      if (readSectors(lba, sector.bytes) != ERROR_SUCCESS) return ERROR_READ_FAULT;
      before.push_back(std::move(sector));
    }
  }
  if (std::uint32_t error = write(*this); error != ERROR_SUCCESS) return error;
  if (tableChanged() != ERROR_DEVICE_IN_USE) return ERROR_SUCCESS;
  // Sector 0 leads to everything else: it goes back last.
  std::stable_sort(before.begin(), before.end(),
                   [](const SectorWrite& a, const SectorWrite& b) { return (a.lba == 0) < (b.lba == 0); });
  writeInOrder(*this, before);
  tableChanged();
  return ERROR_DEVICE_IN_USE;
}

std::uint32_t BlockMedium::refuseChangesToBusyPartitions(const std::function<std::uint32_t(SectorDevice&)>& write) {
  // The write is tried out in memory and the table it leaves read back, so
  // the partitions it keeps are known exactly, numbers included. A write
  // that is refused is left to be refused by the real one.
  OverlayDevice after(*this);
  if (write(after) != ERROR_SUCCESS) return ERROR_SUCCESS;
  return refuseChangesLeaving(after);
}

std::uint32_t BlockMedium::refuseChangesLeaving(SectorReader& after) {
  if (m_sysfsDirectory.empty()) return ERROR_SUCCESS;
  std::error_code error;
  if (fs::exists(m_sysfsDirectory / "partition", error)) return ERROR_SUCCESS;
  const std::vector<KernelPartition> current = ReadKernelPartitions(m_sysfsDirectory);
  if (current.empty()) return ERROR_SUCCESS;
  LayoutBuffer layout;
  std::vector<KernelPartition> wanted;
  if (DecodeWholeLayout(after, layout) == ERROR_SUCCESS) wanted = KernelPartitionsOfLayout(layout, m_sectorSize);
  for (const KernelPartition& now : current) {
    auto then =
        std::find_if(wanted.begin(), wanted.end(), [&](const KernelPartition& p) { return p.number == now.number; });
    // A partition that keeps its start and does not shrink can stay in use:
    // the kernel resizes it in place, or leaves it as it is.
    if (then != wanted.end() && then->start == now.start && then->length >= now.length) continue;
    if (partitionInUse(partitionDirectory(m_sysfsDirectory, now.number), m_sysfsRoot == "/sys")) {
      return ERROR_DEVICE_IN_USE;
    }
  }
  return ERROR_SUCCESS;
}

std::string BlockMedium::displayName() const { return description().product; }

MediumDescription BlockMedium::description() const {
  if (m_sysfsDirectory.empty()) return {"", fs::path(m_path).filename().string(), "", "", false, kBusTypeUnknown};
  return DescribeBlockDevice(m_sysfsRoot, m_sysfsDirectory);
}

}  // namespace kestrin
