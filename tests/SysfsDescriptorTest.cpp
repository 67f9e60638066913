// The storage descriptor strings and bus type of block devices, read from
// sysfs trees built in a temporary folder as the kernel lays them out for
// each kind of disk.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeSysfs.h"
#include "SysfsDescriptor.h"
#include "TestSupport.h"

namespace kestrin {
namespace {

using test::FakeSysfs;
using test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kSataDisk = "pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sda";

// A unit serial number VPD page (0x80) as the kernel exposes it: 4 header
// bytes, the length in bytes 2-3, then the serial, padded as drives do.
std::string vpdPage80(const std::string& serial) {
  std::string page{'\0', '\x80', '\0', static_cast<char>(serial.size())};
  return page + serial;
}

// A sysfs tree of the test's own, in a temporary folder.
class SysfsDescriptor : public ::testing::Test {
 protected:
  TempDir dir;
  FakeSysfs sys{dir.path() / "sys"};
};

TEST_F(SysfsDescriptor, DescribesASataDiskFromItsScsiAttributesAndTheVpdSerial) {
  fs::path disk = sys.addDisk(kSataDisk, 976773168, "8:0");
  sys.write(disk / "device" / "vendor", "ATA     \n");
  sys.write(disk / "device" / "model", "Samsung SSD 860 \n");
  sys.write(disk / "device" / "rev", "4B6Q\n");
  sys.write(disk / "device" / "vpd_pg80", vpdPage80("      S3Z1NB0K123456"));
  sys.write(disk / "device" / "wwid", "t10.ATA     Samsung SSD 860 EVO 500GB               S3Z1NB0K123456\n");
  sys.write("devices/pci0000:00/0000:00:1f.2/ata3/link3/ata_link/link3/sata_spd", "6.0 Gbps\n");

  // Reached as BlockMedium reaches it, through the device number link.
  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "dev" / "block" / "8:0");

  EXPECT_EQ(about.vendor, "ATA");
  EXPECT_EQ(about.product, "Samsung SSD 860");
  EXPECT_EQ(about.revision, "4B6Q");
  EXPECT_EQ(about.serial, "S3Z1NB0K123456");
  EXPECT_FALSE(about.removable);
  EXPECT_EQ(about.busType, kBusTypeSata);
}

TEST_F(SysfsDescriptor, DescribesAnNvmeDiskFromItsController) {
  fs::path disk = sys.addDisk("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", 1953525168);
  sys.write(disk / "device" / "model", "Samsung SSD 970 EVO Plus 1TB            \n");
  sys.write(disk / "device" / "serial", "S4EWNX0N123456B     \n");
  sys.write(disk / "device" / "firmware_rev", "2B2QEXM7\n");
  sys.write(disk / "wwid", "eui.0025385b01234567\n");

  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "block" / "nvme0n1");

  EXPECT_EQ(about.vendor, "");
  EXPECT_EQ(about.product, "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(about.revision, "2B2QEXM7");
  EXPECT_EQ(about.serial, "S4EWNX0N123456B");
  EXPECT_EQ(about.busType, kBusTypeNvme);
}

TEST_F(SysfsDescriptor, DescribesAUsbStickAsRemovable) {
  fs::path disk =
      sys.addDisk("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdc", 60062500);
  sys.write(disk / "removable", "1\n");
  sys.write(disk / "device" / "vendor", "SanDisk \n");
  sys.write(disk / "device" / "model", "Ultra           \n");
  sys.write(disk / "device" / "rev", "1.00\n");

  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "block" / "sdc");

  EXPECT_EQ(about.vendor, "SanDisk");
  EXPECT_EQ(about.product, "Ultra");
  EXPECT_TRUE(about.removable);
  EXPECT_EQ(about.busType, kBusTypeUsb);
  EXPECT_EQ(about.serial, "");
}

TEST_F(SysfsDescriptor, VirtioDiskDropsThePciVendorNumberAndTakesTheSerialOfTheDisk) {
  fs::path disk = sys.addDisk("pci0000:00/0000:00:02.0/virtio1/block/vda", 536870912);
  sys.write(disk / "device" / "vendor", "0x1af4\n");
  sys.write(disk / "serial", "16366324116654329\n");

  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "block" / "vda");

  EXPECT_EQ(about.vendor, "");
  EXPECT_EQ(about.product, "vda");
  EXPECT_EQ(about.serial, "16366324116654329");
  EXPECT_EQ(about.busType, kBusTypeUnknown);
}

TEST_F(SysfsDescriptor, LoopDeviceIsNamedAfterItsBackingFile) {
  fs::path disk = sys.addDisk("virtual/block/loop3", 131072);
  sys.write(disk / "loop" / "backing_file", "/srv/images/disk one.img\n");

  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "block" / "loop3");

  EXPECT_EQ(about.product, "disk one.img");
  EXPECT_EQ(about.busType, kBusTypeFileBackedVirtual);
}

TEST_F(SysfsDescriptor, SdCardTakesItsNameAndSerialFromTheCard) {
  fs::path disk = sys.addDisk("platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa/block/mmcblk1", 62333952);
  sys.write(disk / "device" / "type", "SD\n");
  sys.write(disk / "device" / "name", "SC32G\n");
  sys.write(disk / "device" / "serial", "0x1234abcd\n");

  MediumDescription about = DescribeBlockDevice(sys.root(), sys.root() / "block" / "mmcblk1");

  EXPECT_EQ(about.product, "SC32G");
  EXPECT_EQ(about.serial, "0x1234abcd");
  EXPECT_EQ(about.busType, kBusTypeSd);
}

TEST_F(SysfsDescriptor, BusTypeFollowsWhereTheDiskSitsInTheDeviceTree) {
  struct Case {
    const char* devicePath;
    std::uint8_t busType;
  };
  const std::vector<Case> cases{
      // A USB bridge to SATA is USB, though a SCSI host sits below it.
      {"pci0000:00/0000:00:14.0/usb4/4-2/4-2:1.0/host7/target7:0:0/7:0:0:0/block/sdd", kBusTypeUsb},
      {"pci0000:00/0000:00:06.0/0000:01:00.0/nvme/nvme1/nvme1n1", kBusTypeNvme},
      {"virtual/nvme-subsystem/nvme-subsys0/nvme0n1", kBusTypeNvme},
      {"pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", kBusTypeSata},
      {"pci0000:00/0000:00:03.0/0000:02:00.0/host0/port-0:0/end_device-0:0/target0:0:0/0:0:0:0/block/sdb",
       kBusTypeSas},
      {"platform/host5/session1/target5:0:0/5:0:0:0/block/sde", kBusTypeIscsi},
      {"pci0000:00/0000:00:07.0/host3/rport-3:0-0/target3:0:0/3:0:0:0/block/sdf", kBusTypeFibre},
      {"pci0000:00/0000:00:08.0/fw1/fw1.0/host8/target8:0:0/8:0:0:0/block/sdg", kBusType1394},
      // virtio-scsi: a SCSI host on a virtio device.
      {"pci0000:00/0000:00:05.0/virtio3/host0/target0:0:0/0:0:0:0/block/sdh", kBusTypeScsi},
      {"virtual/block/md0", kBusTypeRaid},
      {"virtual/block/zram0", kBusTypeUnknown},
  };
  // The root's own path must not count: this one holds "usb1" and "host2".
  FakeSysfs sys(dir.path() / "usb1" / "host2" / "sys");
  for (const Case& c : cases) {
    fs::path disk = sys.addDisk(c.devicePath, 1000);
    EXPECT_EQ(BusTypeOfDisk(sys.root(), disk), c.busType) << c.devicePath;
  }
  fs::path virtio = sys.addDisk("pci0000:00/0000:00:02.0/virtio1/block/vdb", 1000);
  EXPECT_EQ(BusTypeOfDisk(sys.root(), virtio), kBusTypeUnknown);
}

TEST_F(SysfsDescriptor, ParallelAtaLinkWithoutSataSpeedIsAta) {
  fs::path disk = sys.addDisk("pci0000:00/0000:00:01.1/ata2/host1/target1:0:0/1:0:0:0/block/sdb", 1000);
  sys.write("devices/pci0000:00/0000:00:01.1/ata2/link2/ata_link/link2/sata_spd", "<unknown>\n");
  EXPECT_EQ(BusTypeOfDisk(sys.root(), disk), kBusTypeAta);
}

}  // namespace
}  // namespace kestrin
