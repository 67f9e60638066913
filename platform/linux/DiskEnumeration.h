#pragma once
// The machine's whole disks, as the disk stack serves them when no --disk
// option is given: \\.\PhysicalDrive0 is the first of them, and so on.
//
// The disks are the entries of <sysfs>/block, in the order of
// KernelNameLess, leaving out:
// - partitions (an entry with a "partition" attribute);
// - RAM disks (ram*) and compressed RAM swap (zram*);
// - loop devices without a backing file (loop/backing_file empty);
// - device-mapper volumes (dm-*): they are built from other disks (LVM,
//   dm-crypt, multipath) and the kernel does not partition them;
// - optical drives (sr*) and floppy drives (fd*);
// - hidden devices (hidden = 1, the per-path devices of NVMe multipath);
// - drives without a medium (size 0: an empty card reader or a removable
//   drive with no disk in it). A removable drive with a medium is listed.
// The list is taken once, when the program starts; a disk attached later
// gets no number until the next start.

#include <filesystem>
#include <string>
#include <vector>

#include "DiskMap.h"

namespace kestrin {

// The order of disks: kernel names alphabetically, except that runs of
// digits compare by value (loop2 before loop10, nvme0n2 before nvme0n10)
// and the drive letters of sd, hd, vd and xvd disks compare in the order
// the kernel hands them out (sdz before sdaa). So: loop0, md0, nvme0n1,
// sda, sdb, ..., sdz, sdaa, vda.
bool KernelNameLess(const std::string& a, const std::string& b);

// Kernel names of the whole disks under `sysfsRoot`, in disk number order.
// An unreadable or missing sysfs gives no disks.
std::vector<std::string> WholeDiskNames(const std::filesystem::path& sysfsRoot = "/sys");

// The disk map of the whole disks: the device node of each under `devRoot`
// ("/dev/sda"; a "!" of the kernel name stands for a directory: cciss!c0d0 is
// /dev/cciss/c0d0), with the sector size left to the device.
DiskMap DefaultDiskMap(const std::filesystem::path& sysfsRoot = "/sys",
                       const std::filesystem::path& devRoot = "/dev");

}  // namespace kestrin
