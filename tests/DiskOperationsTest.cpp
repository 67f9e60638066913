// The whole-disk operations over a recording port: the records they send,
// the order of their requests and their three different ways of failing.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "EditingFixture.h"
#include "Errors.h"
#include "ImageFixture.h"
#include "lib.h"
#include "udiskmgmt.h"

namespace kestrin::test {
namespace {

using namespace editing;

using Bytes = std::vector<std::uint8_t>;

class DiskOperations : public EditingFixture {
 protected:
  const PortCall& onlyRequest(std::uint32_t code) const {
    static const PortCall none;
    auto found = std::find_if(port.calls.begin(), port.calls.end(), [code](const PortCall& call) {
      return call.kind == PortCall::Kind::Control && call.code == code;
    });
    EXPECT_EQ(port.requests(code).size(), 1u);
    return found == port.calls.end() ? none : *found;
  }
};

// A fresh MBR's signature is random, never 0, and none another disk
// carries: the other disks' layouts are read first (each opened for
// reading and closed), then the create goes out as on every style.
TEST_F(DiskOperations, CreateDiskMbrSendsANewSignatureNoOtherDiskCarriesThenDismountAndUpdate) {
  port.layout.setPartitionStyle(kStyleMbr);
  port.layout.setMbrSignature(0x01020304);
  std::set<std::uint32_t> signatures{0, 0x01020304};
  for (int disk = 1; disk <= 2; ++disk) {
    port.calls.clear();
    EXPECT_TRUE(CreateDisk("\\\\.\\PhysicalDrive" + std::to_string(disk), 0));
    auto create = std::find_if(port.calls.begin(), port.calls.end(), [](const PortCall& call) {
      return call.kind == PortCall::Kind::Open && call.access == (GENERIC_READ | GENERIC_WRITE);
    });
    ASSERT_NE(create, port.calls.end());
    EXPECT_EQ(create->attributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(create->path, "\\\\.\\PhysicalDrive" + std::to_string(disk));
    for (auto probe = port.calls.begin(); probe != create; ++probe) {
      EXPECT_TRUE(probe->kind != PortCall::Kind::Control || probe->code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
      EXPECT_TRUE(probe->kind != PortCall::Kind::Open || probe->access == GENERIC_READ);
    }
    EXPECT_EQ(port.openCount(), port.closeCount());
    EXPECT_GE(port.requests(IOCTL_DISK_GET_DRIVE_LAYOUT_EX).size(), 16u);
    std::vector<std::uint32_t> codes;
    for (auto call = create; call != port.calls.end(); ++call) {
      if (call->kind == PortCall::Kind::Control) codes.push_back(call->code);
    }
    EXPECT_EQ(codes, (Sequence{IOCTL_DISK_CREATE_DISK, FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_UPDATE_PROPERTIES}));
    Bytes record = onlyRequest(IOCTL_DISK_CREATE_DISK).input;
    ASSERT_EQ(record.size(), 24u);
    EXPECT_TRUE(signatures.insert(readLe32(record, 4)).second) << "a signature already in use";
    std::fill(record.begin() + 4, record.begin() + 8, 0);
    EXPECT_EQ(record, Bytes(24, 0));
    EXPECT_EQ(port.calls.back().kind, PortCall::Kind::Close);
  }
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, CreateDiskGptGivesANewDiskGuidEachTimeAnd128Entries) {
  EXPECT_TRUE(CreateDisk(kEditPath, 1));
  EXPECT_TRUE(CreateDisk(kEditPath, 1));
  std::vector<PortCall> creates = port.requests(IOCTL_DISK_CREATE_DISK);
  ASSERT_EQ(creates.size(), 2u);
  Bytes ids[2];
  for (int i = 0; i < 2; ++i) {
    const Bytes& record = creates[static_cast<std::size_t>(i)].input;
    ASSERT_EQ(record.size(), 24u);
    EXPECT_EQ(readLe32(record, 0), 1u);
    EXPECT_EQ(readLe32(record, 20), 128u);
    ids[i].assign(record.begin() + 4, record.begin() + 20);
    EXPECT_NE(ids[i], Bytes(16, 0));
  }
  EXPECT_NE(ids[0], ids[1]);
}

TEST_F(DiskOperations, CreateDiskRawCarriesOnlyTheStyle) {
  EXPECT_TRUE(CreateDisk(kEditPath, 2));
  Bytes expected(24, 0);
  expected[0] = 2;
  EXPECT_EQ(onlyRequest(IOCTL_DISK_CREATE_DISK).input, expected);
}

TEST_F(DiskOperations, CreateDiskRefusesAnUnknownStyleWithoutOpeningTheDisk) {
  for (std::uint8_t style : {3, 4, 255}) {
    EXPECT_FALSE(CreateDisk(kEditPath, style));
  }
  EXPECT_TRUE(port.calls.empty());
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"Partition style 3 is not MBR (0), GPT (1) or RAW (2)",
                                                      "Partition style 4 is not MBR (0), GPT (1) or RAW (2)",
                                                      "Partition style 255 is not MBR (0), GPT (1) or RAW (2)"}));
}

TEST_F(DiskOperations, CreateDiskIgnoresFailedDismountAndUpdate) {
  port.failRequest(FSCTL_DISMOUNT_VOLUME, ERROR_ACCESS_DENIED);
  port.failRequest(IOCTL_DISK_UPDATE_PROPERTIES, ERROR_NOT_READY);
  EXPECT_TRUE(CreateDisk(kEditPath, 2));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(port.requestCodes().size(), 3u);
}

TEST_F(DiskOperations, FailuresCarryTheErrorOfTheFailedRequestItself) {
  ForgetfulPort forgetful(port);
  ScopedPort installed(forgetful);
  port.failRequest(IOCTL_DISK_CREATE_DISK, ERROR_CRC);
  port.failRequest(IOCTL_DISK_DELETE_DRIVE_LAYOUT, ERROR_NOT_READY);
  EXPECT_FALSE(CreateDisk(kEditPath, 0));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:Test error 23"}));
  EXPECT_EQ(ErrorOf<KestrinError>([] { DeleteDriveLayout(kEditPath); }),
            "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:Test error 21");
}

TEST_F(DiskOperations, DeleteLayoutSendsDismountDeleteUpdateAndShowsNothing) {
  DeleteDriveLayout(kEditPath);
  EXPECT_EQ(port.calls.front().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(port.calls.front().attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(port.requestCodes(),
            (Sequence{FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_DELETE_DRIVE_LAYOUT, IOCTL_DISK_UPDATE_PROPERTIES}));
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, SetDiskAttributesSendsTheZeroedFortyByteRecord) {
  EXPECT_TRUE(SetDiskAttributes(kEditPath, 0x0102030405060708ull, 0x1112131415161718ull));
  EXPECT_EQ(port.calls.front().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(port.calls.front().attributes, 0u);
  EXPECT_EQ(port.requestCodes(), (Sequence{IOCTL_DISK_SET_DISK_ATTRIBUTES}));
  Bytes expected = {40,   0,    0,    0,    0,    0,    0,    0,      // version, persist false, padding
                    8,    7,    6,    5,    4,    3,    2,    1,      // attributes
                    0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11};  // mask
  expected.resize(40, 0);                                             // reserved
  EXPECT_EQ(onlyRequest(IOCTL_DISK_SET_DISK_ATTRIBUTES).input, expected);
  EXPECT_TRUE(closedOnceAtTheEnd());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperations, SetDiskAttributesChangesOnlyTheMaskedBits) {
  port.attributes = DISK_ATTRIBUTE_READ_ONLY;
  EXPECT_TRUE(SetDiskAttributes(kEditPath, DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_OFFLINE | DISK_ATTRIBUTE_READ_ONLY);
  EXPECT_TRUE(SetDiskAttributes(kEditPath, 0, DISK_ATTRIBUTE_OFFLINE));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_READ_ONLY);
  // A zero mask still sends the request, and it changes nothing.
  EXPECT_TRUE(SetDiskAttributes(kEditPath, DISK_ATTRIBUTE_OFFLINE, 0));
  EXPECT_EQ(port.attributes, DISK_ATTRIBUTE_READ_ONLY);
  EXPECT_EQ(port.requests(IOCTL_DISK_SET_DISK_ATTRIBUTES).size(), 3u);
}

// The three whole-disk operations fail each its own way: a create shows a
// message, a delete raises, a change of attributes returns false silently.
// A request the system refuses, or a disk that cannot be opened (whose
// requests then fail with the invalid handle), is reported with that
// request's error and sends no update.
enum class Reports { Shown, Raised, Nothing };
struct DiskOperation {
  const char* name;
  std::function<bool()> call;
  std::uint32_t code;  // the request whose failure is reported
  const char* request;
  Reports reports;
  Sequence afterFailedRequest, afterFailedOpen;
};
const Sequence kDismountAndDelete = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_DELETE_DRIVE_LAYOUT};
const DiskOperation kDiskOperations[] = {
    {"CreateDisk", [] { return CreateDisk(kEditPath, 1); }, IOCTL_DISK_CREATE_DISK, "IOCTL_DISK_CREATE_DISK",
     Reports::Shown, {IOCTL_DISK_CREATE_DISK}, {IOCTL_DISK_CREATE_DISK}},
    {"DeleteDriveLayout", [] { return DeleteDriveLayout(kEditPath), true; }, IOCTL_DISK_DELETE_DRIVE_LAYOUT,
     "IOCTL_DISK_DELETE_DRIVE_LAYOUT", Reports::Raised, kDismountAndDelete, kDismountAndDelete},
    {"SetDiskAttributes", [] { return SetDiskAttributes(kEditPath, 2, 2); }, IOCTL_DISK_SET_DISK_ATTRIBUTES,
     "IOCTL_DISK_SET_DISK_ATTRIBUTES", Reports::Nothing, {IOCTL_DISK_SET_DISK_ATTRIBUTES}, {}},
};
void PrintTo(const DiskOperation& operation, std::ostream* out) { *out << operation.name; }

class DiskOperationFailures : public DiskOperations, public ::testing::WithParamInterface<DiskOperation> {};

TEST_P(DiskOperationFailures, AreReportedWithTheErrorOfTheRefusedRequestOrTheInvalidHandle) {
  const DiskOperation& operation = GetParam();
  for (auto [opened, error] : {std::pair{true, ERROR_WRITE_PROTECT}, std::pair{true, ERROR_ACCESS_DENIED},
                               std::pair{false, ERROR_ACCESS_DENIED}, std::pair{false, ERROR_FILE_NOT_FOUND}}) {
    SCOPED_TRACE((opened ? "request error " : "open error ") + std::to_string(error));
    port = RecordingPort();
    messages.shown.clear();
    opened ? port.failRequest(operation.code, error) : port.failOpen(error);
    std::string raised;
    if (operation.reports == Reports::Raised) {
      raised = ErrorOf<KestrinError>([&] { operation.call(); });
    } else {
      EXPECT_FALSE(operation.call());
    }
    std::string text = std::string(operation.request) + " failed:Test error " +
                       std::to_string(opened ? error : ERROR_INVALID_HANDLE);
    EXPECT_EQ(raised, operation.reports == Reports::Raised ? text : "");
    EXPECT_EQ(messages.shown, operation.reports == Reports::Shown ? std::vector<std::string>{text}
                                                                  : std::vector<std::string>{});
    EXPECT_EQ(port.requestCodes(), opened ? operation.afterFailedRequest : operation.afterFailedOpen);
    EXPECT_TRUE(port.requests(IOCTL_DISK_UPDATE_PROPERTIES).empty());
    if (opened) {
      EXPECT_TRUE(closedOnceAtTheEnd());
    } else if (operation.afterFailedOpen.empty()) {
      EXPECT_EQ(port.closeCount(), 0u);  // stopped at the failed open, with no handle to close
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Each, DiskOperationFailures, ::testing::ValuesIn(kDiskOperations),
                         [](const ::testing::TestParamInfo<DiskOperation>& info) { return info.param.name; });

// --- through Kestrin's disk stack, on images made and checked by the peers ---

class DiskOperationsOnImage : public ImageFixture {
 protected:
  void makeGpt() {
    ASSERT_EQ(
        PartitionWithSfdisk(image, "label: gpt\nstart=2048, size=16384, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"),
        "");
    ASSERT_TRUE(hasGptSignatureAt(kSector));
    ASSERT_TRUE(hasGptSignatureAt(kImageSize - kSector));
  }
  void makeMbr() {
    ASSERT_EQ(PartitionWithSfdisk(image, "label: dos\nlabel-id: 0x11223344\nstart=2048, size=16384, type=83\n"), "");
  }
  bool anyGptHeader() const { return hasGptSignatureAt(kSector) || hasGptSignatureAt(kImageSize - kSector); }
};

TEST_F(DiskOperationsOnImage, FreshMbrReplacesAGptCompletely) {
  makeGpt();
  writeMarker(4 << 20);
  EXPECT_TRUE(CreateDisk(kImagePath, 0));
  PeerTable dump = SfdiskDump(image);
  ASSERT_TRUE(dump.ok) << dump.text();
  EXPECT_EQ(dump.label, "dos");
  EXPECT_NE(dump.mbrId(), 0u) << dump.text();
  EXPECT_TRUE(dump.partitions.empty()) << dump.text();
  EXPECT_EQ(PartedPrint(image).label, "msdos");
  EXPECT_FALSE(anyGptHeader());
  EXPECT_TRUE(markersIntact());
  EXPECT_EQ(currentLayout().partitionStyle(), static_cast<std::uint32_t>(kStyleMbr));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperationsOnImage, FreshGptTwiceGivesTwoDiskGuidsAnd128Entries) {
  makeMbr();
  std::string ids[2];
  for (std::string& id : ids) {
    EXPECT_TRUE(CreateDisk(kImagePath, 1));
    EXPECT_TRUE(SgdiskAccepts(image));
    PeerTable print = SgdiskPrint(image);
    EXPECT_EQ(print.entryCount, 128u) << print.text();
    id = print.id;
    // The stack reports the identifier that the record carried.
    EXPECT_EQ(GuidToString(currentLayout().gptDiskId()), "{" + id + "}");
    EXPECT_EQ(PartxShow(image).numbers(), std::vector<int>{});
  }
  EXPECT_EQ(ids[0].size(), 36u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_EQ(PartedPrint(image).label, "gpt");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DiskOperationsOnImage, RawLeavesNoTableAndKeepsTheData) {
  makeGpt();
  writeMarker(2 << 20);
  writeMarker(30 << 20);
  EXPECT_TRUE(CreateDisk(kImagePath, 2));
  EXPECT_EQ(PartedPrint(image).label, "unknown");
  EXPECT_FALSE(SfdiskDump(image).ok);
  EXPECT_FALSE(anyGptHeader());
  EXPECT_TRUE(markersIntact());
  EXPECT_EQ(currentLayout().partitionStyle(), static_cast<std::uint32_t>(kStyleRaw));
}

TEST_F(DiskOperationsOnImage, DeleteLayoutRemovesAnMbrAndAGpt) {
  makeMbr();
  writeMarker(2 << 20);
  DeleteDriveLayout(kImagePath);
  EXPECT_EQ(PartedPrint(image).label, "unknown");
  EXPECT_TRUE(PartxShow(image).partitions.empty());
  makeGpt();
  DeleteDriveLayout(kImagePath);
  EXPECT_FALSE(anyGptHeader());
  EXPECT_EQ(PartedPrint(image).label, "unknown");
  EXPECT_EQ(currentLayout().partitionStyle(), static_cast<std::uint32_t>(kStyleRaw));
  EXPECT_EQ(currentLayout().partitionCount(), 0u);
  EXPECT_EQ(port.requests(IOCTL_DISK_UPDATE_PROPERTIES).size(), 2u);
}

TEST_F(DiskOperationsOnImage, ReadOnlyDiskRefusesCreateAndDeleteAndStaysAsItWas) {
  makeGpt();
  std::vector<std::uint8_t> before = imageBytes();
  ASSERT_TRUE(SetDiskAttributes(kImagePath, DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY));
  GetDiskAttributesRecord record;
  ASSERT_TRUE(GetDiskAttributes(kImagePath, record));
  EXPECT_EQ(record.attributes() & DISK_ATTRIBUTE_READ_ONLY, DISK_ATTRIBUTE_READ_ONLY);

  EXPECT_FALSE(CreateDisk(kImagePath, 0));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:The disk is write-protected"}));
  EXPECT_EQ(ErrorOf<KestrinError>([] { DeleteDriveLayout(kImagePath); }),
            "IOCTL_DISK_DELETE_DRIVE_LAYOUT failed:The disk is write-protected");
  EXPECT_TRUE(imageBytes() == before);
  EXPECT_EQ(port.openCount(), port.closeCount());
}

TEST_F(DiskOperationsOnImage, OfflineAttributeIsHeldByTheStackAndNotPersistent) {
  // Only the offline bit is looked at: the read-only bit that a reader sees
  // also depends on how the stack opened the image for that reader.
  makeMbr();
  GetDiskAttributesRecord record;
  EXPECT_TRUE(SetDiskAttributes(kImagePath, DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE));
  ASSERT_TRUE(GetDiskAttributes(kImagePath, record));
  EXPECT_EQ(record.attributes() & DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE);
  // A zero mask changes nothing.
  EXPECT_TRUE(SetDiskAttributes(kImagePath, 0, 0));
  ASSERT_TRUE(GetDiskAttributes(kImagePath, record));
  EXPECT_EQ(record.attributes() & DISK_ATTRIBUTE_OFFLINE, DISK_ATTRIBUTE_OFFLINE);
  // A new stack over the same image starts online.
  EmulatedPort fresh{DiskMap{DiskSpec{image, 0}}};
  ScopedPort installed(fresh);
  ASSERT_TRUE(GetDiskAttributes(kImagePath, record));
  EXPECT_EQ(record.attributes() & DISK_ATTRIBUTE_OFFLINE, 0u);
  EXPECT_FALSE(SetDiskAttributes("\\\\.\\PhysicalDrive9", 1, 1));
}

TEST_F(DiskOperationsOnImage, DiskThatDoesNotExistFailsEachOperationItsOwnWay) {
  const std::string missing = "\\\\.\\PhysicalDrive9";
  EXPECT_FALSE(CreateDisk(missing, 1));
  EXPECT_EQ(messages.shown, (std::vector<std::string>{"IOCTL_DISK_CREATE_DISK failed:The disk handle is not valid"}));
  EXPECT_THROW(DeleteDriveLayout(missing), KestrinError);
  EXPECT_FALSE(SetDiskAttributes(missing, 1, 1));
  EXPECT_EQ(messages.shown.size(), 1u);
}

}  // namespace
}  // namespace kestrin::test
