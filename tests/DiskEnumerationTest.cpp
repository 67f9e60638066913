// The default disk map: the machine's whole disks in a stable order, taken
// from sysfs trees built in a temporary folder (never the machine's own).

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "DiskEnumeration.h"
#include "FakeSysfs.h"
#include "TestSupport.h"

namespace kestrin {
namespace {

using test::FakeSysfs;
using test::TempDir;
namespace fs = std::filesystem;

std::string scsiDisk(int host, const std::string& name) {
  std::string h = std::to_string(host);
  return "pci0000:00/0000:00:1f.2/ata" + h + "/host" + h + "/target" + h + ":0:0/" + h + ":0:0:0/block/" + name;
}

// A sysfs tree of the test's own, in a temporary folder.
class DiskEnumeration : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sys{dir.path() / "sys"};
};

TEST_F(DiskEnumeration, NumbersTheDisksInKernelNameOrder) {
  // Added out of order; the directory order of the fake tree is arbitrary anyway.
  const std::vector<std::string> scsi{"sdaa", "sdb", "sdz", "sda"};
  for (std::size_t i = 0; i < scsi.size(); ++i) sys.addDisk(scsiDisk(static_cast<int>(i), scsi[i]), 1 << 20);
  for (const char* name : {"nvme0n10", "nvme0n2", "nvme0n1"}) {
    sys.addDisk(std::string("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/") + name, 1 << 20);
  }
  sys.addDisk("pci0000:00/0000:00:02.0/virtio1/block/vda", 1 << 20);
  for (const char* name : {"loop10", "loop2"}) {
    fs::path disk = sys.addDisk(std::string("virtual/block/") + name, 1 << 20);
    sys.write(disk / "loop" / "backing_file", std::string("/srv/") + name + ".img\n");
  }
  sys.addDisk("virtual/block/md0", 1 << 20);
  sys.addDisk("platform/fe320000.mmc/mmc_host/mmc0/mmc0:0001/block/mmcblk0", 1 << 20);

  std::vector<std::string> expected{"loop2", "loop10", "md0",  "mmcblk0", "nvme0n1", "nvme0n2", "nvme0n10",
                                    "sda",   "sdb",    "sdz",  "sdaa",    "vda"};
  EXPECT_EQ(WholeDiskNames(sys.root()), expected);
}

TEST_F(DiskEnumeration, LeavesOutPartitionsRamDisksDeviceMapperOpticalAndUnbackedLoops) {
  fs::path sda = sys.addDisk(scsiDisk(0, "sda"), 1 << 20);
  sys.addPartition(sda, "sda1", 1, 2048, 4096);
  // An entry of block/ that is itself a partition is no whole disk either.
  fs::path odd = sys.addDisk("virtual/block/odd1", 4096);
  sys.write(odd / "partition", "1\n");
  sys.addDisk("virtual/block/ram0", 8192);
  sys.addDisk("virtual/block/zram0", 8192);
  sys.addDisk("virtual/block/dm-0", 8192);
  sys.addDisk(scsiDisk(1, "sr0"), 8192);
  sys.addDisk("platform/floppy.0/block/fd0", 2880);
  fs::path unbacked = sys.addDisk("virtual/block/loop0", 8192);
  sys.write(unbacked / "loop" / "backing_file", "");
  sys.addDisk("virtual/block/loop1", 0);  // detached: no loop folder, no size
  fs::path backed = sys.addDisk("virtual/block/loop7", 8192);
  sys.write(backed / "loop" / "backing_file", "/tmp/disk.img\n");

  std::vector<std::string> expected{"loop7", "sda"};
  EXPECT_EQ(WholeDiskNames(sys.root()), expected);
}

TEST_F(DiskEnumeration, LeavesOutDrivesWithoutMediumAndHiddenMultipathDevices) {
  fs::path reader = sys.addDisk("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host4/target4:0:0/4:0:0:0/block/sdc", 0);
  sys.write(reader / "removable", "1\n");
  fs::path stick = sys.addDisk("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/host5/target5:0:0/5:0:0:0/block/sdd", 60062500);
  sys.write(stick / "removable", "1\n");
  fs::path path = sys.addDisk("virtual/nvme-subsystem/nvme-subsys0/nvme0c0n1", 1 << 20);
  sys.write(path / "hidden", "1\n");
  sys.addDisk("virtual/nvme-subsystem/nvme-subsys0/nvme0n1", 1 << 20);

  std::vector<std::string> expected{"nvme0n1", "sdd"};
  EXPECT_EQ(WholeDiskNames(sys.root()), expected);
}

TEST_F(DiskEnumeration, DefaultDiskMapPointsAtTheDeviceNodes) {
  sys.addDisk("pci0000:00/0000:00:05.0/cciss0/c0d0/block/cciss!c0d0", 1 << 20);
  sys.addDisk(scsiDisk(0, "sdb"), 1 << 20);
  fs::path nodes = dir.path() / "nodes";

  DiskMap map = DefaultDiskMap(sys.root(), nodes);

  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].path, (nodes / "cciss" / "c0d0").string());
  EXPECT_EQ(map[1].path, (nodes / "sdb").string());
  // The sector size is the device's own.
  EXPECT_EQ(map[0].sectorSize, 0u);
}

TEST_F(DiskEnumeration, NoSysfsMeansNoDisks) {
  EXPECT_TRUE(WholeDiskNames(dir.path() / "missing").empty());
  EXPECT_TRUE(DefaultDiskMap(dir.path() / "missing", dir.path()).empty());
}

TEST(KernelNameLess, IsAStrictOrderThatSortsNumbersByValueAndDriveLettersAsHandedOut) {
  std::vector<std::string> sorted{"hda",  "loop0", "loop1", "loop9",   "loop10", "loop100", "md0",
                                  "md127", "mmcblk0", "nvme0n1", "nvme0n9", "nvme0n10", "nvme1n1", "sda",
                                  "sdb",   "sdz",     "sdaa",    "sdaz",    "sdba",     "sdzz",    "sdaaa",
                                  "vda",   "xvda",    "xvdb"};
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_FALSE(KernelNameLess(sorted[i], sorted[i])) << sorted[i];
    for (std::size_t j = i + 1; j < sorted.size(); ++j) {
      EXPECT_TRUE(KernelNameLess(sorted[i], sorted[j])) << sorted[i] << " < " << sorted[j];
      EXPECT_FALSE(KernelNameLess(sorted[j], sorted[i])) << sorted[j] << " !< " << sorted[i];
    }
  }
  std::vector<std::string> shuffled = sorted;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  std::sort(shuffled.begin(), shuffled.end(), KernelNameLess);
  EXPECT_EQ(shuffled, sorted);
}

}  // namespace
}  // namespace kestrin
