// Kestrin's own disk stack as a port: which paths open which image, what a
// failed open leaves behind, the length, the attributes, the write
// protection of read-only disks and the storage descriptor.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "EmulatedPort.h"
#include "Errors.h"
#include "ImageMedia.h"
#include "LayoutBuffer.h"
#include "OpenMedium.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "RecordingMedium.h"
#include "RequestRecords.h"
#include "TableCheck.h"
#include "TestSupport.h"
#include "lib.h"

namespace kestrin {
namespace {

constexpr std::uint32_t kAllCodes[] = {IOCTL_DISK_GET_DRIVE_LAYOUT_EX, IOCTL_DISK_SET_DRIVE_LAYOUT_EX,
                                       IOCTL_DISK_UPDATE_PROPERTIES,   FSCTL_DISMOUNT_VOLUME,
                                       IOCTL_DISK_DELETE_DRIVE_LAYOUT, IOCTL_DISK_CREATE_DISK,
                                       IOCTL_DISK_SET_DISK_ATTRIBUTES, IOCTL_DISK_GET_DISK_ATTRIBUTES,
                                       IOCTL_DISK_GET_LENGTH_INFO,     IOCTL_STORAGE_QUERY_PROPERTY};

std::string drive(int n) { return "\\\\.\\PhysicalDrive" + std::to_string(n); }

class EmulatedPortTest : public ::testing::Test {
 protected:
  // Sends one request and returns 0 on success, else the error code.
  std::uint32_t send(EmulatedPort& port, DiskHandle handle, std::uint32_t code, std::span<const std::uint8_t> in = {},
                     std::span<std::uint8_t> out = {}) {
    std::uint32_t returned = 0;
    bool ok = port.DiskControl(handle, code, in.empty() ? nullptr : in.data(), static_cast<std::uint32_t>(in.size()),
                               out.empty() ? nullptr : out.data(), static_cast<std::uint32_t>(out.size()), &returned);
    return ok ? ERROR_SUCCESS : port.LastError();
  }

  std::int64_t lengthOf(EmulatedPort& port, DiskHandle handle) {
    std::array<std::uint8_t, 8> info{};
    EXPECT_EQ(send(port, handle, IOCTL_DISK_GET_LENGTH_INFO, {}, info), ERROR_SUCCESS);
    return readLeI64(info, 0);
  }

  std::uint64_t attributesOf(EmulatedPort& port, DiskHandle handle) {
    std::array<std::uint8_t, 16> record{};
    EXPECT_EQ(send(port, handle, IOCTL_DISK_GET_DISK_ATTRIBUTES, {}, record), ERROR_SUCCESS);
    return readLe64(record, 8);
  }

  std::uint32_t setAttributes(EmulatedPort& port, DiskHandle handle, std::uint64_t values, std::uint64_t mask) {
    std::array<std::uint8_t, 40> record{};
    writeLe32(record, 0, 40);
    writeLe64(record, 8, values);
    writeLe64(record, 16, mask);
    return send(port, handle, IOCTL_DISK_SET_DISK_ATTRIBUTES, record);
  }

  std::uint32_t createMbr(EmulatedPort& port, DiskHandle handle, std::uint32_t signature) {
    std::array<std::uint8_t, 24> record{};
    writeLe32(record, 0, kStyleMbr);
    writeLe32(record, 4, signature);
    return send(port, handle, IOCTL_DISK_CREATE_DISK, record);
  }

  std::string image(const std::string& name, std::uint64_t size) {
    std::string path = dir.file(name);
    test::MakeSparseFile(path, size);
    return path;
  }

  test::TempDir dir;
};

TEST_F(EmulatedPortTest, DevicePathsMatchWithoutRegardToCase) {
  EmulatedPort port{DiskMap{DiskSpec{image("a.img", 1 << 20), 0}, DiskSpec{image("b.img", 2 << 20), 0}}};
  for (const char* path : {"\\\\.\\PhysicalDrive0", "\\\\.\\physicaldrive0", "\\\\.\\PHYSICALDRIVE0"}) {
    DiskHandle handle = port.OpenDisk(path, GENERIC_READ, 0);
    ASSERT_NE(handle, kInvalidHandle) << path;
    EXPECT_EQ(lengthOf(port, handle), 1 << 20) << path;
    port.CloseDisk(handle);
  }
  DiskHandle second = port.OpenDisk("\\\\.\\pHySiCaLdRiVe1", GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(second, kInvalidHandle);
  EXPECT_EQ(lengthOf(port, second), 2 << 20);
  port.CloseDisk(second);
}

TEST_F(EmulatedPortTest, AnUnknownPathFailsAndEveryRequestOnItsHandleFailsWithInvalidHandle) {
  EmulatedPort port{DiskMap{DiskSpec{image("a.img", 1 << 20), 0}}};
  for (const char* path : {"", "\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDriveX", "\\\\?\\PhysicalDrive0",
                           "\\\\.\\PhysicalDrive0 ", "\\\\.\\PhysicalDrive-1", "\\\\.\\CdRom0", "a.img"}) {
    EXPECT_EQ(port.OpenDisk(path, GENERIC_READ, 0), kInvalidHandle) << path;
    EXPECT_EQ(port.LastError(), ERROR_FILE_NOT_FOUND) << path;
  }
  std::vector<std::uint8_t> buffer(kLayoutBufferSize, 0);
  for (std::uint32_t code : kAllCodes) {
    EXPECT_EQ(send(port, kInvalidHandle, code, buffer, buffer), ERROR_INVALID_HANDLE) << code;
  }
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ, 0);
  port.CloseDisk(handle);
  EXPECT_EQ(send(port, handle, IOCTL_DISK_GET_LENGTH_INFO, {}, buffer), ERROR_INVALID_HANDLE) << "a closed handle";
}

TEST_F(EmulatedPortTest, DiskNumbersBeyondTheMapOrMissingImagesDoNotOpen) {
  EmulatedPort port{DiskMap{DiskSpec{image("a.img", 1 << 20), 0}, DiskSpec{dir.file("gone.img"), 0}}};
  EXPECT_EQ(port.OpenDisk(drive(2), GENERIC_READ, 0), kInvalidHandle);
  EXPECT_EQ(port.LastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port.OpenDisk(drive(1), GENERIC_READ | GENERIC_WRITE, 0), kInvalidHandle);
  EXPECT_EQ(port.LastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(port.OpenDisk(drive(0), GENERIC_READ, 0), kInvalidHandle);
}

TEST_F(EmulatedPortTest, LengthIsTheImageInWholeSectors) {
  EmulatedPort port{DiskMap{DiskSpec{image("a.img", (10 << 20) + 100), 0}}};
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ, 0);
  EXPECT_EQ(lengthOf(port, handle), 10 << 20);
  std::array<std::uint8_t, 4> small{};
  EXPECT_EQ(send(port, handle, IOCTL_DISK_GET_LENGTH_INFO, {}, small), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(EmulatedPortTest, AttributesAreSetThroughTheMaskAndKeptPerDisk) {
  EmulatedPort port{DiskMap{DiskSpec{image("a.img", 1 << 20), 0}, DiskSpec{image("b.img", 1 << 20), 0}}};
  DiskHandle writer = port.OpenDisk(drive(0), GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_EQ(attributesOf(port, writer), 0u);
  EXPECT_EQ(setAttributes(port, writer, 3, 1), ERROR_SUCCESS);
  EXPECT_EQ(attributesOf(port, writer), 1u) << "only the masked bit changes";
  EXPECT_EQ(setAttributes(port, writer, ~0ull, ~0ull), ERROR_SUCCESS);
  EXPECT_EQ(attributesOf(port, writer), 3u) << "only the offline and read-only bits exist";
  EXPECT_EQ(setAttributes(port, writer, 0, 2), ERROR_SUCCESS);
  port.CloseDisk(writer);

  DiskHandle reader = port.OpenDisk(drive(0), GENERIC_READ, 0);
  EXPECT_EQ(attributesOf(port, reader), 1u) << "kept after the handle is closed";
  EXPECT_EQ(setAttributes(port, reader, 0, 1), ERROR_ACCESS_DENIED) << "setting needs write access";
  DiskHandle other = port.OpenDisk(drive(1), GENERIC_READ, 0);
  EXPECT_EQ(attributesOf(port, other), 0u) << "another disk is not affected";

  std::array<std::uint8_t, 40> badVersion{};
  writeLe32(badVersion, 0, 36);
  DiskHandle again = port.OpenDisk(drive(0), GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_EQ(send(port, again, IOCTL_DISK_SET_DISK_ATTRIBUTES, badVersion), ERROR_INVALID_PARAMETER);
}

TEST_F(EmulatedPortTest, TheReadOnlyAttributeRefusesWritesUntilCleared) {
  std::string path = image("a.img", 8 << 20);
  EmulatedPort port{DiskMap{DiskSpec{path, 0}}};
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_EQ(setAttributes(port, handle, DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY), ERROR_SUCCESS);
  EXPECT_EQ(createMbr(port, handle, 0x12345678), ERROR_WRITE_PROTECT);
  EXPECT_EQ(send(port, handle, IOCTL_DISK_DELETE_DRIVE_LAYOUT), ERROR_WRITE_PROTECT);
  EXPECT_EQ(test::ReadFileBytes(path), std::vector<std::uint8_t>(8 << 20, 0)) << "nothing written";

  ASSERT_EQ(setAttributes(port, handle, 0, DISK_ATTRIBUTE_READ_ONLY), ERROR_SUCCESS);
  EXPECT_EQ(createMbr(port, handle, 0x12345678), ERROR_SUCCESS);
  port.CloseDisk(handle);
  test::PeerTable dump = test::SfdiskDump(path);
  EXPECT_EQ(dump.id, "0x12345678") << dump.text();
}

TEST_F(EmulatedPortTest, WritesNeedAHandleOpenedForWriting) {
  std::string path = image("a.img", 8 << 20);
  EmulatedPort port{DiskMap{DiskSpec{path, 0}}};
  DiskHandle reader = port.OpenDisk(drive(0), GENERIC_READ, 0);
  LayoutBuffer layout;
  EXPECT_EQ(send(port, reader, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout.bytes()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(createMbr(port, reader, 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(send(port, reader, IOCTL_DISK_DELETE_DRIVE_LAYOUT), ERROR_ACCESS_DENIED);
  EXPECT_EQ(attributesOf(port, reader), 0u) << "a read-only handle does not make the disk read-only";
}

// Makes a file that even the superuser cannot open for writing, and gives
// it back on destruction so that the temporary folder can be removed.
class UnwritableFile {
 public:
  explicit UnwritableFile(const std::string& path) : m_path(path) {
    ::chmod(path.c_str(), 0444);
    if (::access(path.c_str(), W_OK) != 0) {
      m_ok = true;
      return;
    }
    m_immutable = test::Run({"chattr", "+i", path}).exitCode == 0;
    m_ok = m_immutable && ::access(path.c_str(), W_OK) != 0;
  }
  ~UnwritableFile() {
    if (m_immutable) test::Run({"chattr", "-i", m_path});
    ::chmod(m_path.c_str(), 0644);
  }
  bool ok() const { return m_ok; }

 private:
  std::string m_path;
  bool m_immutable = false;
  bool m_ok = false;
};

TEST_F(EmulatedPortTest, AnImageThatCannotBeWrittenIsAReadOnlyDisk) {
  std::string path = image("ro.img", 8 << 20);
  ASSERT_EQ(test::PartitionWithSfdisk(path, "label: dos\nstart=2048, size=2048, type=83\n"), "");
  std::vector<std::uint8_t> before = test::ReadFileBytes(path);
  UnwritableFile unwritable(path);
  if (!unwritable.ok()) GTEST_SKIP() << "cannot make a file unwritable here";

  EmulatedPort port{DiskMap{DiskSpec{path, 0}}};
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(handle, kInvalidHandle) << "opens, read-only";
  EXPECT_EQ(attributesOf(port, handle) & DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY);
  LayoutBuffer layout;
  ASSERT_EQ(send(port, handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, {}, layout.bytes()), ERROR_SUCCESS);
  EXPECT_EQ(layout.slot(1).mbrPartitionType(), 0x83) << "reads still work";
  layout.slot(1).setMbrPartitionType(0x07);
  EXPECT_EQ(send(port, handle, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, layout.bytes()), ERROR_WRITE_PROTECT);
  EXPECT_EQ(createMbr(port, handle, 1), ERROR_WRITE_PROTECT);
  EXPECT_EQ(send(port, handle, IOCTL_DISK_DELETE_DRIVE_LAYOUT), ERROR_WRITE_PROTECT);
  port.CloseDisk(handle);
  EXPECT_EQ(test::ReadFileBytes(path), before);
}

TEST_F(EmulatedPortTest, MoreThan64EntriesDoNotFitTheLayoutRecord) {
  std::string path = image("many.img", 4 << 20);
  ASSERT_EQ(test::PartitionWithSgdisk(path, test::SgdiskPartitionsInARow(65, "+16")), "");
  EmulatedPort port{DiskMap{DiskSpec{path, 0}}};
  ScopedPort installed(port);
  LayoutBuffer layout;
  EXPECT_EQ(test::ErrorOf<KestrinError>([&] { GetDriveLayout(drive(0), layout); }),
            "IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed:The layout does not fit the buffer passed");
}

TEST_F(EmulatedPortTest, DescriptorNamesTheImageFile) {
  EmulatedPort port{DiskMap{DiskSpec{image("My Disk.img", 1 << 20), 0}}};
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ, 0);
  std::array<std::uint8_t, 12> query{};
  std::vector<std::uint8_t> descriptor(4096, 0);
  ASSERT_EQ(send(port, handle, IOCTL_STORAGE_QUERY_PROPERTY, query, descriptor), ERROR_SUCCESS);
  auto text = [&descriptor](std::size_t field) {
    std::uint32_t at = readLe32(descriptor, field);
    return at == 0 ? std::string() : std::string(reinterpret_cast<const char*>(descriptor.data() + at));
  };
  EXPECT_EQ(text(12), "Kestrin");
  EXPECT_EQ(text(16), "My Disk.img");
  EXPECT_EQ(text(20), "0.1");
  EXPECT_EQ(text(24), "");
  EXPECT_EQ(descriptor[10], 0) << "not removable";

  writeLe32(query, 0, 1);  // another property than the device descriptor
  EXPECT_EQ(send(port, handle, IOCTL_STORAGE_QUERY_PROPERTY, query, descriptor), ERROR_NOT_SUPPORTED);
}

// The access alignment a medium reports reaches the caller, and verify
// judges the starts of an sfdisk table by it: a start off the physical
// sectors is named as such, one on them but off 1 MiB as that.
TEST_F(EmulatedPortTest, ReportsHowThePhysicalSectorsLieAndVerifyJudgesStartsByThem) {
  const std::string path = dir.file("starts.img");
  ASSERT_EQ(test::MakeSfdiskImage(path, 8 << 20,
                                  "label: dos\nstart=63,size=1985,type=83\nstart=2048,size=8,type=83\n"
                                  "start=2056,size=4096,type=83\n"),
            "");
  const char* const kOneMiB = "not on a 1 MiB boundary";
  struct Case {
    PhysicalSectors medium;
    const char* expected[3];  // the warning about partitions 1 to 3; nullptr: none
  } const cases[] = {
      {{512, 0}, {kOneMiB, nullptr, kOneMiB}},
      {{4096, 0}, {"not on a physical sector (4096 bytes)", nullptr, kOneMiB}},
      // 63 * 512 = 7 * 4096 + 3584: the drive's sectors begin where the old
      // partitioning scheme put the first partition.
      {{4096, 3584},
       {kOneMiB, "not on a physical sector (4096 bytes, the first at byte 3584)",
        "not on a physical sector (4096 bytes, the first at byte 3584)"}},
  };
  for (const Case& c : cases) {
    test::MediumJournal journal(512);
    EmulatedPort port{DiskMap{DiskSpec{path, 0}},
                      [&](const DiskSpec& spec, bool writable, std::uint32_t& error) -> std::unique_ptr<Medium> {
                        std::unique_ptr<Medium> inner = OpenMedium(spec, writable, error);
                        if (!inner) return inner;
                        auto shifted = std::make_unique<test::RecordingMedium>(std::move(inner), journal);
                        shifted->physical = c.medium;
                        return shifted;
                      }};
    DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ, 0);
    std::array<std::uint8_t, kStoragePropertyQuerySize> query{};
    writeLe32(query, 0, kStorageAccessAlignmentProperty);
    std::array<std::uint8_t, kAccessAlignmentSize> record{};
    ASSERT_EQ(send(port, handle, IOCTL_STORAGE_QUERY_PROPERTY, query, record), ERROR_SUCCESS);
    port.CloseDisk(handle);
    EXPECT_EQ(readLe32(record, kAlignmentLogicalSectorOffset), 512u);
    const PhysicalSectors reported{readLe32(record, kAlignmentPhysicalSectorOffset),
                                   readLe32(record, kAlignmentSectorOffsetOffset)};
    EXPECT_EQ(reported.size, c.medium.size);
    EXPECT_EQ(reported.alignmentOffset, c.medium.alignmentOffset);

    std::unique_ptr<ImageMedium> disk = test::OpenImage(path, 512);
    check::Report report;
    ASSERT_EQ(check::VerifyDisk(*disk, report, reported), ERROR_SUCCESS);
    EXPECT_FALSE(report.hasProblems());
    for (int partition = 1; partition <= 3; ++partition) {
      std::string warnings;
      for (const check::Finding& f : report.findings) {
        if (f.entry == partition && f.rule == "misaligned") warnings += f.text;
      }
      const char* expected = c.expected[partition - 1];
      if (expected == nullptr) {
        EXPECT_EQ(warnings, "") << c.medium.size << "/" << c.medium.alignmentOffset;
      } else {
        EXPECT_NE(warnings.find(expected), std::string::npos)
            << c.medium.size << "/" << c.medium.alignmentOffset << " partition " << partition << ": " << warnings;
      }
    }
  }
}

}  // namespace
}  // namespace kestrin

namespace kestrin {
namespace {

// The raw calls: whole sectors at a sector offset, inside the disk, written
// only through a handle opened for writing, and the geometry they go by.
TEST_F(EmulatedPortTest, RawCallsMoveWholeSectorsOfTheImageUnderTheHandlesRules) {
  const std::string path = image("a.img", 1 << 20);
  EmulatedPort port{DiskMap{DiskSpec{path, 4096}}};
  std::vector<std::uint8_t> pattern(8192);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7 + 1);
  struct Case {
    const char* what;
    bool writer;  // through a handle opened for writing (one at a time: it holds the lock)
    bool write;
    std::uint64_t offset;
    std::uint32_t size;
    std::uint32_t error;
  };
  const std::vector<Case> cases{
      {"write two sectors", true, true, 8192, 8192, ERROR_SUCCESS},
      {"write off a sector boundary", true, true, 512, 4096, ERROR_INVALID_PARAMETER},
      {"write part of a sector", true, true, 0, 512, ERROR_INVALID_PARAMETER},
      {"write past the end", true, true, (1 << 20) - 4096, 8192, ERROR_SECTOR_NOT_FOUND},
      {"write through a read handle", false, true, 0, 4096, ERROR_ACCESS_DENIED},
      {"read past the end", false, false, 1 << 20, 4096, ERROR_SECTOR_NOT_FOUND},
      {"read what was written", false, false, 8192, 8192, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    DiskHandle handle = port.OpenDisk(drive(0), c.writer ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0);
    std::vector<std::uint8_t> buffer = c.write ? pattern : std::vector<std::uint8_t>(8192);
    std::uint32_t done = 99;
    const bool ok = c.write ? port.WriteDisk(handle, c.offset, buffer.data(), c.size, &done)
                            : port.ReadDisk(handle, c.offset, buffer.data(), c.size, &done);
    EXPECT_EQ(ok ? ERROR_SUCCESS : port.LastError(), c.error) << c.what;
    EXPECT_EQ(done, ok ? c.size : 0u) << c.what;
    if (ok && !c.write) {
      EXPECT_EQ(buffer, pattern) << c.what;
    }
    if (c.writer) {
      EXPECT_TRUE(port.FlushDisk(handle)) << c.what;
    }
    port.CloseDisk(handle);
  }
  EXPECT_FALSE(port.ReadDisk(9999, 0, pattern.data(), 4096, nullptr));
  EXPECT_EQ(port.LastError(), ERROR_INVALID_HANDLE);
  // The geometry the raw calls go by, and only the two sectors written changed.
  DiskHandle handle = port.OpenDisk(drive(0), GENERIC_READ, 0);
  std::array<std::uint8_t, kGeometryExSize> geometry{};
  ASSERT_EQ(send(port, handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, {}, geometry), ERROR_SUCCESS);
  EXPECT_EQ(readLe32(geometry, kGeometryBytesPerSectorOffset), 4096u);
  EXPECT_EQ(readLe64(geometry, kGeometryDiskSizeOffset), 1u << 20);
  std::vector<std::uint8_t> file = test::ReadFileBytes(path);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 8192, file.begin() + 16384), pattern);
  file.erase(file.begin() + 8192, file.begin() + 16384);
  EXPECT_EQ(std::count(file.begin(), file.end(), 0), static_cast<std::ptrdiff_t>(file.size()));
}

}  // namespace
}  // namespace kestrin
