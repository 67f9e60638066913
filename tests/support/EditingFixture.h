#pragma once
// A fixture for the editing operations: a RecordingPort answering from an
// in-memory layout, a message sink that records what would be shown, and
// helpers to seed layouts and to read back the one layout an operation
// wrote.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "LayoutBuffer.h"
#include "MessageRecorder.h"
#include "Messages.h"
#include "Port.h"
#include "RecordingPort.h"

// Kept in a namespace of their own: other tests define names like these.
namespace kestrin::test::editing {

// The disk path the operations are pointed at; the in-memory port accepts any.
inline const std::string kEditPath = "\\\\.\\PhysicalDrive1";

// The requests of an entry operation: read and write with the property
// update after it, without it (Set as Partition Number 1), and a read that
// goes no further.
using Sequence = std::vector<std::uint32_t>;
inline const Sequence kWithUpdate = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
                                     IOCTL_DISK_SET_DRIVE_LAYOUT_EX, IOCTL_DISK_UPDATE_PROPERTIES};
inline const Sequence kWithoutUpdate = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
                                        IOCTL_DISK_SET_DRIVE_LAYOUT_EX};
inline const Sequence kReadOnly = {FSCTL_DISMOUNT_VOLUME, IOCTL_DISK_GET_DRIVE_LAYOUT_EX};

// Fills every byte of a slot with a pattern that differs from slot to slot
// and from byte to byte and is never 0, so that a test can tell which bytes
// an operation wrote.
inline void fillSlotPattern(LayoutSlot slot, int seed) {
  auto bytes = slot.bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(1 + (seed * 37 + i * 7) % 251);
}

// A layout of `style` with `count` slots, each a plausible used entry over a
// patterned background (service flag, ids, names and padding all non-zero).
inline LayoutBuffer seededLayout(std::uint32_t style, std::uint32_t count) {
  LayoutBuffer layout;
  layout.setPartitionStyle(style);
  layout.setPartitionCount(count);
  layout.setMbrSignature(0xCAFEF00D);
  for (std::uint32_t entry = 1; entry <= count && entry <= kLayoutSlotCount; ++entry) {
    LayoutSlot slot = layout.slot(static_cast<int>(entry));
    fillSlotPattern(slot, static_cast<int>(entry));
    slot.setStyle(style);
    slot.setStartingOffset(static_cast<std::int64_t>(entry) << 20);
    slot.setPartitionLength(static_cast<std::int64_t>(entry) << 24);
    slot.setPartitionNumber(entry);
    slot.setRewritePartition(entry % 2 == 1);
  }
  return layout;
}

// The layout as an operation reads it: header and the first `count` slots,
// the rest zero, as after the zero-fill and the read.
inline LayoutBuffer asRead(const LayoutBuffer& stored) {
  LayoutBuffer read;
  std::uint32_t count = stored.partitionCount();
  for (std::size_t i = 0; i < kLayoutHeaderSize + kLayoutSlotSize * count && i < kLayoutBufferSize; ++i) {
    read.bytes()[i] = stored.bytes()[i];
  }
  return read;
}

// Compares two layouts byte by byte and names the first difference by
// header offset or by entry number and offset within the slot.
inline ::testing::AssertionResult SameLayout(const LayoutBuffer& expected, const LayoutBuffer& actual) {
  for (std::size_t i = 0; i < kLayoutBufferSize; ++i) {
    if (expected.bytes()[i] == actual.bytes()[i]) continue;
    std::string where = i < kLayoutHeaderSize
                            ? "header byte " + std::to_string(i)
                            : "entry " + std::to_string((i - kLayoutHeaderSize) / kLayoutSlotSize + 1) + " byte " +
                                  std::to_string((i - kLayoutHeaderSize) % kLayoutSlotSize);
    return ::testing::AssertionFailure() << "layouts differ at " << where << ": expected " << int(expected.bytes()[i])
                                         << ", got " << int(actual.bytes()[i]);
  }
  return ::testing::AssertionSuccess();
}

// A port whose last error, like the system's, does not survive later calls:
// a close or a successful request overwrites it. A message built from the
// error after the close would then carry the wrong text.
class ForgetfulPort : public DevicePort {
 public:
  explicit ForgetfulPort(RecordingPort& inner) : m_inner(inner) {}
  DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) override {
    DiskHandle handle = m_inner.OpenDisk(path, access, attributes);
    m_last = handle == kInvalidHandle ? m_inner.LastError() : ERROR_LOCK_VIOLATION;
    return handle;
  }
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override {
    bool ok = m_inner.DiskControl(handle, code, input, inputSize, output, outputSize, bytesReturned);
    m_last = ok ? ERROR_LOCK_VIOLATION : m_inner.LastError();
    return ok;
  }
  void CloseDisk(DiskHandle handle) override {
    m_inner.CloseDisk(handle);
    m_last = ERROR_IO_DEVICE;
  }
  std::uint32_t LastError() const override { return m_last; }
  std::string ErrorMessage(std::uint32_t code) const override { return m_inner.ErrorMessage(code); }

 private:
  RecordingPort& m_inner;
  std::uint32_t m_last = 0;
};

class EditingFixture : public ::testing::Test {
 protected:
  // The layout that the single write request carried. Fails the test unless
  // exactly one write of the whole 9264-byte buffer was sent.
  LayoutBuffer writtenLayout() const {
    LayoutBuffer written;
    std::vector<PortCall> writes = port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX);
    EXPECT_EQ(writes.size(), 1u);
    if (writes.size() != 1) return written;
    EXPECT_EQ(writes[0].input.size(), kLayoutBufferSize);
    if (writes[0].input.size() != kLayoutBufferSize) return written;
    for (std::size_t i = 0; i < kLayoutBufferSize; ++i) written.bytes()[i] = writes[0].input[i];
    return written;
  }

  // True when the last call was the only close and every call went to the
  // handle that the only open returned.
  ::testing::AssertionResult closedOnceAtTheEnd() const {
    if (port.openCount() != 1 || port.closeCount() != 1) {
      return ::testing::AssertionFailure() << port.openCount() << " opens, " << port.closeCount() << " closes";
    }
    if (port.calls.back().kind != PortCall::Kind::Close) {
      return ::testing::AssertionFailure() << "the close is not the last call";
    }
    DiskHandle handle = port.calls.front().handle;
    for (const PortCall& call : port.calls) {
      if (call.kind != PortCall::Kind::Open && call.handle != handle) {
        return ::testing::AssertionFailure() << "a call went to handle " << call.handle << ", not " << handle;
      }
    }
    return ::testing::AssertionSuccess();
  }

  // Runs each operation on a fresh record of calls and messages: each must
  // fail, show `message` alone and send no write.
  void expectEachRefused(const std::vector<std::function<bool()>>& operations, const std::string& message) {
    for (std::size_t i = 0; i < operations.size(); ++i) {
      SCOPED_TRACE("operation " + std::to_string(i + 1));
      port.calls.clear();
      messages.shown.clear();
      EXPECT_FALSE(operations[i]());
      EXPECT_EQ(messages.shown, std::vector<std::string>{message});
      EXPECT_TRUE(port.requests(IOCTL_DISK_SET_DRIVE_LAYOUT_EX).empty());
    }
  }

  RecordingPort port;
  MessageRecorder messages;
  ScopedPort installedPort{port};
  ScopedMessageSink installedSink{messages};
};

}  // namespace kestrin::test::editing
