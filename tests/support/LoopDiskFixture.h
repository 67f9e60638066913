#pragma once
// A fixture for the disk stack on a block device: a test's own image
// attached to a loop device (PartitionedLoopDevice) and served as
// \\.\PhysicalDrive0 by an EmulatedPort, which is installed as the port,
// with the messages recorded. Tests skip where no loop device can be had.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "EmulatedPort.h"
#include "MessageRecorder.h"
#include "PartitionedLoopDevice.h"
#include "TestSupport.h"

namespace kestrin::test {

class LoopDiskFixture : public ::testing::Test {
 protected:
  // Attaches `image` and serves the device. False when no loop device could
  // be attached; loop->failure() says why.
  bool attach(const std::string& image, std::uint32_t sectorSize = 512, LoopAccess access = LoopAccess::ReadWrite) {
    loop.emplace(image, sectorSize, access);
    if (!loop->attached()) return false;
    port.emplace(DiskMap{DiskSpec{loop->path(), 0}});
    installed.emplace(*port);
    return true;
  }

  TempDir dir;
  MessageRecorder messages;
  ScopedMessageSink installedSink{messages};
  std::optional<PartitionedLoopDevice> loop;
  std::optional<EmulatedPort> port;
  std::optional<ScopedPort> installed;
};

}  // namespace kestrin::test
