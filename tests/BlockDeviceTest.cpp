// The disk stack over block devices: loop devices that each test attaches
// to an image of its own (and detaches again, also when it fails), mapped
// with a DiskMap entry as `--disk /dev/loopN` would be. The layouts are
// made and checked by the peers (sfdisk, sgdisk, partx); the kernel's own
// partition list is read from sysfs. Tests skip where no loop device can be
// attached (not root, no loop support).

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include "BlockMedium.h"
#include "DiskList.h"
#include "DiskProperties.h"
#include "EmulatedPort.h"
#include "FakeSysfs.h"
#include "ImageMedium.h"
#include "LoopDiskFixture.h"
#include "OpenMedium.h"
#include "OpenedDisk.h"
#include "PartitionedLoopDevice.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "TestSupport.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin {
namespace {

using test::HeldPartition;
using test::KernelPartitionList;
using test::LoopAccess;
using test::OpenedDisk;
using test::PartitionedLoopDevice;
using test::PartxShow;
using test::RunResult;
using test::SgdiskVerifies;
using test::TempDir;
namespace fs = std::filesystem;

using PartitionList = std::map<int, std::pair<std::uint64_t, std::uint64_t>>;

constexpr std::int64_t kMiB = 1 << 20;
const std::string kDisk0 = "\\\\.\\PhysicalDrive0";
const Guid kLinuxData = StringToGuid("{0FC63DAF-8483-4772-8E79-3D69D8477DE4}");

// The table on a device as partx reads it (libblkid, not the kernel and not
// Kestrin): number -> {start, sectors} in 512-byte units.
PartitionList partxList(const std::string& device) { return PartxShow(device).byNumber(); }

// A 64 MiB GPT disk with three 8 MiB partitions at 1, 9 and 17 MiB, made by sfdisk.
std::string threePartitionGptImage(const TempDir& dir) {
  std::string image = dir.file("gpt.img");
  EXPECT_EQ(test::MakeSfdiskImage(image, 64 * kMiB, "label: gpt\nstart=2048, size=8M\nsize=8M\nsize=8M\n"), "");
  return image;
}

std::string mbrImageWithLogicals(const TempDir& dir) {
  std::string image = dir.file("mbr.img");
  EXPECT_EQ(test::MakeSfdiskImage(image, 64 * kMiB,
                                  "label: dos\nstart=2048, size=8M, type=83\nsize=8M, type=7\ntype=5\n"
                                  "size=4M, type=83\nsize=4M, type=82\n"),
            "");
  return image;
}

// A loop device of the test's own, served as disk 0, over one of the two
// images above.
class BlockDevicePort : public test::LoopDiskFixture {
 protected:
  bool attachGpt() { return attach(image = threePartitionGptImage(dir)); }
  bool attachMbr() { return attach(image = mbrImageWithLogicals(dir)); }
  // Asks the port to bring the kernel's partition list in line with the disk.
  std::uint32_t updateProperties();

  std::string image;
};

constexpr std::uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

std::uint32_t BlockDevicePort::updateProperties() {
  return OpenedDisk(*port, GENERIC_READ).request(IOCTL_DISK_UPDATE_PROPERTIES);
}

// The slot of the entry the decoder numbered `number`, or 0.
int entryOfNumber(const LayoutBuffer& layout, std::uint32_t number) {
  for (int entry = 1; entry <= static_cast<int>(layout.partitionCount()); ++entry) {
    if (layout.slot(entry).partitionNumber() == number) return entry;
  }
  return 0;
}

// Rewrites the disk of threePartitionGptImage through the port's own requests: deletes #2, grows #3 to 16 MiB and adds
// #4 at 40 MiB, then asks for the property update.
void rewriteThreePartitionGpt(EmulatedPort& port) {
  OpenedDisk disk(port, kReadWrite);
  ASSERT_TRUE(disk.valid());
  ASSERT_EQ(disk.request(FSCTL_DISMOUNT_VOLUME), ERROR_SUCCESS);
  LayoutBuffer layout;
  ASSERT_EQ(disk.readLayout(layout), ERROR_SUCCESS);
  ASSERT_EQ(layout.partitionStyle(), kStyleGpt);
  ASSERT_EQ(layout.partitionCount(), 3u);
  int second = entryOfNumber(layout, 2);
  int third = entryOfNumber(layout, 3);
  ASSERT_NE(second, 0);
  ASSERT_NE(third, 0);
  layout.slot(second).setGptPartitionType(Guid{});
  layout.slot(second).setRewritePartition(true);
  layout.slot(third).setPartitionLength(16 * kMiB);
  layout.slot(third).setRewritePartition(true);
  LayoutSlot added = layout.slot(4);
  added.setStyle(kStyleGpt);
  added.setStartingOffset(40 * kMiB);
  added.setPartitionLength(4 * kMiB);
  added.setPartitionNumber(4);
  added.setGptPartitionType(kLinuxData);
  added.setRewritePartition(true);
  layout.setPartitionCount(4);
  ASSERT_EQ(disk.writeLayout(layout), ERROR_SUCCESS);
  ASSERT_EQ(disk.request(IOCTL_DISK_UPDATE_PROPERTIES), ERROR_SUCCESS);
}

// The kernel list after rewriteThreePartitionGpt, in 512-byte units.
const PartitionList kRewrittenList{{1, {2048, 16384}}, {3, {34816, 32768}}, {4, {81920, 8192}}};

int kernelReadOnlyFlag(const PartitionedLoopDevice& loop) {
  int readOnly = -1;
  ::ioctl(loop.fd(), BLKROGET, &readOnly);
  return readOnly;
}

TEST(BlockMedium, TakesTheSectorSizeAndLengthFromTheKernel) {
  TempDir dir;
  std::string image = dir.file("disk.img");
  test::MakeSparseFile(image, 48 * kMiB);
  for (std::uint32_t sectorSize : {512u, 4096u}) {
    PartitionedLoopDevice loop(image, sectorSize);
    if (!loop.attached()) GTEST_SKIP() << loop.failure();
    std::uint32_t error = ERROR_SUCCESS;
    // The --sector-size of a map entry is for images; a device has its own.
    std::unique_ptr<Medium> medium = OpenMedium(DiskSpec{loop.path(), 1024}, false, error);
    ASSERT_NE(medium, nullptr) << error;
    ASSERT_NE(dynamic_cast<BlockMedium*>(medium.get()), nullptr);
    EXPECT_EQ(medium->sectorSize(), sectorSize);
    EXPECT_EQ(medium->lengthBytes(), static_cast<std::uint64_t>(48 * kMiB));
    EXPECT_EQ(medium->sectorCount(), static_cast<std::uint64_t>(48 * kMiB) / sectorSize);
    EXPECT_FALSE(medium->isReadOnly());
    const PhysicalSectors physical = medium->physicalSectors();
    EXPECT_EQ(std::to_string(physical.size) + "\n" + std::to_string(physical.alignmentOffset) + "\n",
              test::Run({"blockdev", "--getpbsz", "--getalignoff", loop.path()}).out);

    EmulatedPort port(DiskMap{DiskSpec{loop.path(), 0}});
    ScopedPort installed(port);
    EXPECT_EQ(GetDiskLengthByPath(kDisk0), 48 * kMiB);
  }
  // The image file itself stays an image.
  std::uint32_t error = ERROR_SUCCESS;
  std::unique_ptr<Medium> file = OpenMedium(DiskSpec{image, 0}, false, error);
  ASSERT_NE(file, nullptr);
  EXPECT_NE(dynamic_cast<ImageMedium*>(file.get()), nullptr);
}

TEST_F(BlockDevicePort, ReadsAnMbrLayoutWithLogicalDrivesThroughTheDevice) {
  image = mbrImageWithLogicals(dir);
  test::PeerTable dump = test::SfdiskDump(image);
  ASSERT_TRUE(dump.ok) << dump.text();
  if (!attach(image)) GTEST_SKIP() << loop->failure();

  LayoutBuffer layout;
  ASSERT_TRUE(GetDriveLayout(kDisk0, layout));

  EXPECT_EQ(layout.partitionStyle(), kStyleMbr);
  EXPECT_EQ(layout.partitionCount(), 12u);  // four primaries, two EBR groups
  struct Expected {
    int entry;
    int sfdiskNumber;
    std::uint8_t type;
  };
  for (Expected e :
       {Expected{1, 1, 0x83}, Expected{2, 2, 0x07}, Expected{3, 3, 0x05}, Expected{5, 5, 0x83}, Expected{9, 6, 0x82}}) {
    ConstLayoutSlot slot = std::as_const(layout).slot(e.entry);
    EXPECT_EQ(slot.mbrPartitionType(), e.type) << "entry " << e.entry;
    EXPECT_EQ(static_cast<std::uint64_t>(slot.startingOffset() / 512), dump.partition(e.sfdiskNumber).start) << e.entry;
    EXPECT_EQ(static_cast<std::uint64_t>(slot.partitionLength() / 512), dump.partition(e.sfdiskNumber).size) << e.entry;
  }
}

TEST_F(BlockDevicePort, ReadsAGptLayoutOfA4096ByteSectorDevice) {
  image = dir.file("4k.img");
  test::MakeSparseFile(image, 64 * kMiB);
  if (!attach(image, 4096)) GTEST_SKIP() << loop->failure();
  ASSERT_EQ(test::PartitionWithSgdisk(loop->path(), {"-n", "1:256:+2M", "-n", "2:0:+4M", "-t", "2:0700"}), "");
  PartitionList table = partxList(loop->path());
  ASSERT_EQ(table.size(), 2u);

  LayoutBuffer layout;
  ASSERT_TRUE(GetDriveLayout(kDisk0, layout));

  EXPECT_EQ(layout.partitionStyle(), kStyleGpt);
  ASSERT_EQ(layout.partitionCount(), 2u);
  for (int entry = 1; entry <= 2; ++entry) {
    ConstLayoutSlot slot = std::as_const(layout).slot(entry);
    auto [start, sectors] = table.at(static_cast<int>(slot.partitionNumber()));
    EXPECT_EQ(slot.startingOffset(), static_cast<std::int64_t>(start * 512)) << entry;
    EXPECT_EQ(slot.partitionLength(), static_cast<std::int64_t>(sectors * 512)) << entry;
  }
  EXPECT_EQ(layout.slot(1).startingOffset(), 256 * 4096);
  EXPECT_EQ(GuidToString(layout.slot(2).gptPartitionType()), "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
}

TEST_F(BlockDevicePort, WrittenGptLayoutBecomesTheKernelsPartitionListAndReachesTheImage) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();

  rewriteThreePartitionGpt(*port);

  EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()), kRewrittenList);
  EXPECT_EQ(partxList(loop->path()), kRewrittenList);
  std::string report;
  EXPECT_TRUE(SgdiskVerifies(loop->path(), &report)) << report;
  // Flushed through the device into the backing file.
  loop->detach();
  EXPECT_EQ(partxList(image), kRewrittenList);
  EXPECT_TRUE(SgdiskVerifies(image, &report)) << report;
}

TEST_F(BlockDevicePort, UpdatesTheKernelPartitionByPartitionWhileAPartitionIsInUse) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  ASSERT_EQ(updateProperties(), ERROR_SUCCESS);
  PartitionList before{{1, {2048, 16384}}, {2, {18432, 16384}}, {3, {34816, 16384}}};
  ASSERT_EQ(KernelPartitionList(loop->sysfsDirectory()), before);

  HeldPartition held(*loop, 1, dir.path());
  ASSERT_TRUE(held.open());
  // With partition 1 open the kernel refuses to re-read the table.
  ASSERT_NE(::ioctl(loop->fd(), BLKRRPART), 0);
  ASSERT_EQ(errno, EBUSY);

  rewriteThreePartitionGpt(*port);

  EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()), kRewrittenList);
  EXPECT_EQ(partxList(loop->path()), kRewrittenList);
}

// A partition a program merely holds open is not seen by the exclusive
// open, but the kernel will not let it go: a write that removes or moves it
// is put back, and the disk and the kernel's list stay as they were.
TEST_F(BlockDevicePort, PutsBackATableWhoseRemovedPartitionTheKernelKeepsInUse) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  ASSERT_EQ(updateProperties(), ERROR_SUCCESS);
  HeldPartition held(*loop, 2, dir.path());
  ASSERT_TRUE(held.open());
  const PartitionList before = KernelPartitionList(loop->sysfsDirectory());
  const std::vector<std::uint8_t> tables = test::ReadFileRange(loop->path(), 0, kMiB);
  for (const std::int64_t start : {std::int64_t{0}, 40 * kMiB}) {  // removed, moved
    OpenedDisk disk(*port, kReadWrite);
    LayoutBuffer layout;
    ASSERT_EQ(disk.readLayout(layout), ERROR_SUCCESS);
    if (start == 0) {
      layout.slot(2).setGptPartitionType(Guid{});
    } else {
      layout.slot(2).setStartingOffset(start);
    }
    EXPECT_EQ(disk.writeLayout(layout), ERROR_DEVICE_IN_USE);
    EXPECT_EQ(disk.request(IOCTL_DISK_UPDATE_PROPERTIES), ERROR_SUCCESS);
    EXPECT_TRUE(test::ReadFileRange(loop->path(), 0, kMiB) == tables) << start;
    EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()), before) << start;
  }
  std::string report;
  EXPECT_TRUE(SgdiskVerifies(loop->path(), &report)) << report;
}

// A mounted partition cannot be removed, moved or shrunk under the kernel's
// feet: such a write is refused with the in-use error before anything is
// written, while changes that leave it where it is go through.
TEST_F(BlockDevicePort, RefusesToRemoveMoveOrShrinkAMountedPartitionAndAllowsWhatLeavesItAlone) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  ASSERT_EQ(updateProperties(), ERROR_SUCCESS);
  HeldPartition mounted(*loop, 2, dir.path(), test::PartitionUse::Mounted);
  if (!mounted.open()) GTEST_SKIP() << "cannot mount a partition here";
  const PartitionList before = KernelPartitionList(loop->sysfsDirectory());
  auto tables = [&] {
    std::vector<std::uint8_t> bytes = test::ReadFileRange(loop->path(), 0, kMiB);
    std::vector<std::uint8_t> tail = test::ReadFileRange(loop->path(), 63 * kMiB, kMiB);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  // Partition 2 is entry 2 of the layout: 8 MiB at 9 MiB. A change either
  // edits the layout read from the disk, which is then written back, or is
  // a request of its own.
  struct Change {
    const char* what;
    std::function<void(LayoutBuffer&)> edit;
    bool allowed;
    std::uint32_t request = 0;
  };
  const Change changes[] = {
      {"delete it", [](LayoutBuffer& l) { l.slot(2).setGptPartitionType(Guid{}); }, false},
      {"move it", [](LayoutBuffer& l) { l.slot(2).setStartingOffset(40 * kMiB); }, false},
      {"shrink it", [](LayoutBuffer& l) { l.slot(2).setPartitionLength(4 * kMiB); }, false},
      {"a fresh table", nullptr, false, IOCTL_DISK_CREATE_DISK},
      {"no table", nullptr, false, IOCTL_DISK_DELETE_DRIVE_LAYOUT},
      {"its attributes", [](LayoutBuffer& l) { l.slot(2).setGptAttributes(4); }, true},
      {"its type", [](LayoutBuffer& l) { l.slot(2).setGptPartitionType(kLinuxData); }, true},
      {"another partition deleted", [](LayoutBuffer& l) { l.slot(1).setGptPartitionType(Guid{}); }, true},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    const std::vector<std::uint8_t> was = tables();
    OpenedDisk disk(*port, kReadWrite);
    LayoutBuffer layout;
    ASSERT_EQ(disk.readLayout(layout), ERROR_SUCCESS);
    std::uint32_t result = 0;
    if (change.edit) {
      change.edit(layout);
      result = disk.writeLayout(layout);
    } else if (change.request == IOCTL_DISK_CREATE_DISK) {
      std::array<std::uint8_t, 24> record{};  // a fresh MBR
      record[0] = kStyleMbr;
      result = disk.request(change.request, record.data(), record.size());
    } else {
      result = disk.request(change.request);
    }
    if (change.allowed) {
      EXPECT_EQ(result, ERROR_SUCCESS);
    } else {
      EXPECT_EQ(result, ERROR_DEVICE_IN_USE);
      EXPECT_TRUE(tables() == was) << "a refused write changed the disk";
    }
    EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()).at(2), before.at(2));
  }
  std::string report;
  EXPECT_TRUE(SgdiskVerifies(loop->path(), &report)) << report;
}

TEST_F(BlockDevicePort, MbrLogicalDrivesAreNumberedFromFiveInTheKernel) {
  if (!attachMbr()) GTEST_SKIP() << loop->failure();

  // Deleting the first logical drive: the second one becomes number 5.
  ASSERT_TRUE(DeletePartitionMBR(kDisk0, 5)) << messages.first();

  PartitionList table = partxList(loop->path());
  PartitionList kernel = KernelPartitionList(loop->sysfsDirectory());
  ASSERT_EQ(table.size(), 4u);
  ASSERT_EQ(kernel.size(), 4u);
  for (int number : {1, 2, 5}) EXPECT_EQ(kernel[number], table[number]) << "partition " << number;
  EXPECT_EQ(table[5].second, 8192u);  // the 4 MiB swap drive
  // The kernel shows the extended partition as its first kilobyte only.
  EXPECT_EQ(kernel[3], (std::pair<std::uint64_t, std::uint64_t>{table[3].first, 2}));
}

TEST_F(BlockDevicePort, BringingTheDiskOnlineAgainRereadsItsTable) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  ASSERT_EQ(updateProperties(), ERROR_SUCCESS);
  ASSERT_EQ(KernelPartitionList(loop->sysfsDirectory()).size(), 3u);
  // Partition 2 removed behind the kernel's back.
  RunResult removed = test::Run({"sfdisk", "--no-reread", "--no-tell-kernel", "--delete", loop->path(), "2"});
  ASSERT_EQ(removed.exitCode, 0) << removed.err;
  ASSERT_EQ(KernelPartitionList(loop->sysfsDirectory()).size(), 3u);

  ASSERT_TRUE(SetDiskAttributes(kDisk0, DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE));
  // Going offline is the stack's own state and changes nothing in the kernel.
  EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()).size(), 3u);
  GetDiskAttributesRecord attributes;
  ASSERT_TRUE(GetDiskAttributes(kDisk0, attributes));
  EXPECT_EQ(attributes.attributes() & DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE);
  EXPECT_EQ(kernelReadOnlyFlag(*loop), 0);

  ASSERT_TRUE(SetDiskAttributes(kDisk0, 0, DISK_ATTRIBUTE_OFFLINE));

  PartitionList expected{{1, {2048, 16384}}, {3, {34816, 16384}}};
  EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()), expected);
  EXPECT_EQ(partxList(loop->path()), expected);
}

TEST_F(BlockDevicePort, ReadOnlyIsTheKernelFlagSetAndClearedThroughDiskAttributes) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();

  ASSERT_TRUE(SetDiskAttributes(kDisk0, DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY));
  EXPECT_EQ(kernelReadOnlyFlag(*loop), 1);
  GetDiskAttributesRecord attributes;
  ASSERT_TRUE(GetDiskAttributes(kDisk0, attributes));
  EXPECT_EQ(attributes.attributes(), DISK_ATTRIBUTE_READ_ONLY);
  {
    // Another process's stack sees the same flag.
    EmulatedPort other(DiskMap{DiskSpec{loop->path(), 0}});
    ScopedPort otherInstalled(other);
    GetDiskAttributesRecord seen;
    ASSERT_TRUE(GetDiskAttributes(kDisk0, seen));
    EXPECT_EQ(seen.attributes(), DISK_ATTRIBUTE_READ_ONLY);
  }
  std::vector<std::uint8_t> before = test::ReadFileRange(image, 0, 64 * 1024);
  EXPECT_FALSE(DeletePartitionGPT(kDisk0, 1));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0], "IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:The disk is write-protected");
  EXPECT_EQ(test::ReadFileRange(image, 0, 64 * 1024), before);

  ASSERT_TRUE(SetDiskAttributes(kDisk0, 0, DISK_ATTRIBUTE_READ_ONLY));
  EXPECT_EQ(kernelReadOnlyFlag(*loop), 0);
  ASSERT_TRUE(GetDiskAttributes(kDisk0, attributes));
  EXPECT_EQ(attributes.attributes(), 0u);
  EXPECT_TRUE(DeletePartitionGPT(kDisk0, 1));
  EXPECT_EQ(partxList(loop->path()).count(1), 0u);
}

TEST_F(BlockDevicePort, ReadOnlyLoopDeviceRefusesWrites) {
  image = threePartitionGptImage(dir);
  if (!attach(image, 512, LoopAccess::ReadOnly)) GTEST_SKIP() << loop->failure();

  GetDiskAttributesRecord attributes;
  ASSERT_TRUE(GetDiskAttributes(kDisk0, attributes));
  EXPECT_EQ(attributes.attributes() & DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY);
  EXPECT_FALSE(DeletePartitionGPT(kDisk0, 2));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0], "IOCTL_DISK_SET_DRIVE_LAYOUT_EX failed:The disk is write-protected");
  EXPECT_EQ(partxList(loop->path()).size(), 3u);
}

TEST_F(BlockDevicePort, OpensTheDeviceEvenWhileAnotherProgramHoldsItExclusively) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  int exclusive = ::open(loop->path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(exclusive, 0) << std::strerror(errno);

  EXPECT_TRUE(SetPartitionAttributesGPT(kDisk0, 1, 0x8000000000000000ull)) << messages.first();
  ::close(exclusive);
  LayoutBuffer layout;
  ASSERT_TRUE(GetDriveLayout(kDisk0, layout));
  EXPECT_EQ(layout.slot(1).gptAttributes(), 0x8000000000000000ull);
}

TEST_F(BlockDevicePort, OpeningWithoutTheRightsTheDeviceDemandsIsAccessDenied) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();
  struct stat node {};
  ASSERT_EQ(::stat(loop->path().c_str(), &node), 0);
  if ((node.st_mode & (S_IROTH | S_IWOTH)) != 0) GTEST_SKIP() << loop->path() << " is open to everyone here";

  // The child gives up root for "nobody" and reports what the port said.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    EmulatedPort childPort(DiskMap{DiskSpec{loop->path(), 0}});
    int code = 0;
    for (std::uint32_t access : {GENERIC_READ, kReadWrite}) {
      DiskHandle handle = childPort.OpenDisk(kDisk0, access, 0);
      if (handle != kInvalidHandle) code |= 1;
      if (childPort.LastError() != ERROR_ACCESS_DENIED) code |= 2;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 10) << "could not drop privileges";
  EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "the open succeeded";
  EXPECT_EQ(WEXITSTATUS(status) & 2, 0) << "the error was not ERROR_ACCESS_DENIED";
}

TEST_F(BlockDevicePort, DiskChooserNamesTheDeviceFromSysfs) {
  if (!attachGpt()) GTEST_SKIP() << loop->failure();

  // The machine's sysfs: a loop device is named after its backing file.
  std::vector<DiskListRow> expected{{"0", "DISK", "gpt.img", "64", "Online Read-Write "}};
  EXPECT_EQ(DiskListRows(), expected);
  TDisk_Property property;
  ASSERT_TRUE(GetDiskProperty(kDisk0, property));
  EXPECT_EQ(property.BusTypeText, "unknown");  // file-backed virtual, beyond the table

  // A sysfs of the test's own that puts a SATA disk behind the same device number.
  struct stat node {};
  ASSERT_EQ(::stat(loop->path().c_str(), &node), 0);
  std::string numbers = std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
  test::FakeSysfs sys(dir.path() / "sys");
  fs::path disk = sys.addDisk("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", 131072, numbers);
  sys.write(disk / "removable", "1\n");
  sys.write(disk / "device" / "vendor", "ATA     \n");
  sys.write(disk / "device" / "model", "WDC WD10EZEX-00B\n");
  sys.write(disk / "device" / "rev", "1A01\n");
  sys.write(disk / "device" / "wwid", "naa.50014ee2b5f8a1c3\n");
  fs::path root = sys.root();
  EmulatedPort fake(DiskMap{DiskSpec{loop->path(), 0}},
                    [root](const DiskSpec& spec, bool writable, std::uint32_t& error) {
                      return OpenMedium(spec, writable, error, root);
                    });
  ScopedPort fakeInstalled(fake);
  ASSERT_TRUE(GetDiskProperty(kDisk0, property));
  EXPECT_EQ(property.Vendor, "ATA");
  EXPECT_EQ(property.Product, "WDC WD10EZEX-00B");
  EXPECT_EQ(property.Revision, "1A01");
  EXPECT_EQ(property.SerialNumber, "naa.50014ee2b5f8a1c3");
  EXPECT_EQ(property.Removable, 1);
  EXPECT_EQ(property.BusTypeText, "Sata");
  ASSERT_EQ(DiskListRows().size(), 1u);
  EXPECT_EQ(DiskListRows()[0].name, "WDC WD10EZEX-00B");

  // An image keeps the stack's own description.
  EmulatedPort images(DiskMap{DiskSpec{image, 0}});
  ScopedPort imageInstalled(images);
  loop->detach();
  ASSERT_TRUE(GetDiskProperty(kDisk0, property));
  EXPECT_EQ(property.Vendor, "Kestrin");
  EXPECT_EQ(property.Product, "gpt.img");
}

// Logical drives (at 36864 and 47104, free space from 55296) created and
// deleted: the kernel holds them as partx reads the device, in chain order; a
// delete that would renumber one in use is refused, and nothing changes.
TEST_F(BlockDevicePort, LogicalDrivesCreatedAndDeletedAppearInTheKernelAsTheTableNumbersThem) {
  if (!attachMbr()) GTEST_SKIP() << loop->failure();
  const struct {
    int entry;
    std::int64_t startMiB;  // a drive of 2 MiB created there; 0: the entry deleted
    PartitionList drives;
  } steps[] = {
      {13, 40, {{5, {36864, 8192}}, {6, {47104, 8192}}, {7, {81920, 4096}}}},
      {17, 28, {{5, {36864, 8192}}, {6, {47104, 8192}}, {7, {81920, 4096}}, {8, {57344, 4096}}}},
      {5, 0, {{5, {47104, 8192}}, {6, {81920, 4096}}, {7, {57344, 4096}}}},
      {13, 0, {{5, {47104, 8192}}, {6, {57344, 4096}}}},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(step.startMiB > 0 ? CreateLogicalDriveMBR(kDisk0, step.entry, step.startMiB * kMiB, 2 * kMiB, 0x83)
                                  : DeletePartitionMBR(kDisk0, step.entry))
        << messages.first();
    for (PartitionList list : {KernelPartitionList(loop->sysfsDirectory()), partxList(loop->path())}) {
      list.erase(list.begin(), list.lower_bound(5));
      EXPECT_EQ(list, step.drives) << step.entry;
    }
  }
  HeldPartition held(*loop, 6, dir.path());
  ASSERT_TRUE(held.open());
  const PartitionList kernel = KernelPartitionList(loop->sysfsDirectory());
  const std::vector<std::uint8_t> tables = test::ReadFileRange(loop->path(), 0, 64 * kMiB);
  EXPECT_FALSE(DeletePartitionMBR(kDisk0, 9));  // partition 6 would become 5
  EXPECT_EQ(KernelPartitionList(loop->sysfsDirectory()), kernel);
  EXPECT_TRUE(test::ReadFileRange(loop->path(), 0, 64 * kMiB) == tables);
}

}  // namespace
}  // namespace kestrin
