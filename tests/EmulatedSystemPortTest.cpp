// The program's port on Linux: MakeSystemPort takes the disk options out of
// the arguments and answers for the images they name.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EmulatedPort.h"
#include "SystemPort.h"
#include "TestSupport.h"
#include "udiskmgmt.h"

namespace {

TEST(EmulatedSystemPort, TakesTheDiskOptionsAndLeavesTheRest) {
  kestrin::test::TempDir dir;
  const std::string first = dir.file("first.img");
  const std::string second = dir.file("second.img");
  kestrin::test::MakeSparseFile(first, 8 << 20);
  kestrin::test::MakeSparseFile(second, 16 << 20);

  std::vector<std::string> args = {"--disk", first, "list", "--sector-size", "4096", "--disk", second, "-v"};
  std::string error = "stale";
  std::unique_ptr<kestrin::DevicePort> port = kestrin::MakeSystemPort(args, error);
  ASSERT_NE(port, nullptr) << error;
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(args, (std::vector<std::string>{"list", "-v"}));

  const auto* emulated = dynamic_cast<const kestrin::EmulatedPort*>(port.get());
  ASSERT_NE(emulated, nullptr);
  ASSERT_EQ(emulated->disks().size(), 2u);
  EXPECT_EQ(emulated->disks()[1].sectorSize, 4096u);

  kestrin::ScopedPort installed(*port);
  EXPECT_EQ(kestrin::GetDiskLengthByPath("\\\\.\\PhysicalDrive0"), 8 << 20);
  EXPECT_EQ(kestrin::GetDiskLengthByPath("\\\\.\\PhysicalDrive1"), 16 << 20);
  EXPECT_EQ(kestrin::GetDiskLengthByPath("\\\\.\\PhysicalDrive2"), 0);
}

TEST(EmulatedSystemPort, AMalformedOptionGivesNoPortAndSaysWhy) {
  std::vector<std::string> args = {"--sector-size", "1024", "--disk", "x.img"};
  std::string error;
  EXPECT_EQ(kestrin::MakeSystemPort(args, error), nullptr);
  EXPECT_NE(error.find("--sector-size"), std::string::npos) << error;

  args = {"list", "--disk"};
  EXPECT_EQ(kestrin::MakeSystemPort(args, error), nullptr);
  EXPECT_NE(error.find("--disk"), std::string::npos) << error;
}

}  // namespace
