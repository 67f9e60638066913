#pragma once
// A fixture for running operations through Kestrin's own disk stack: an
// image file in a temporary folder, the EmulatedPort serving it as
// \\.\PhysicalDrive0 (behind a RecordingPort, so the requests can be
// checked too), a recorded message sink, and data markers to check that an
// operation left the data on the disk alone. The peers make the tables and
// read them back (PeerImages, PeerReaders).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "EditingFixture.h"
#include "EmulatedPort.h"
#include "PeerImages.h"
#include "PeerReaders.h"
#include "TestSupport.h"
#include "lib.h"

// Kept in a namespace of their own: other tests define names like these.
namespace kestrin::test::editing {

inline const std::string kImagePath = "\\\\.\\PhysicalDrive0";
inline constexpr std::uint64_t kImageSize = 64ull << 20;
inline constexpr std::uint64_t kSector = 512;

class ImageFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"sfdisk", "sgdisk", "parted", "partx"}) {
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    MakeSparseFile(image, kImageSize);
  }

  // Writes a recognisable 4 KiB pattern at `offset`, to check afterwards
  // that an operation left the data on the disk alone.
  void writeMarker(std::uint64_t offset) {
    std::vector<std::uint8_t> marker(4096);
    for (std::size_t i = 0; i < marker.size(); ++i) marker[i] = static_cast<std::uint8_t>((offset >> 12) + i * 13);
    WriteFileRange(image, offset, marker);
    m_markers[offset] = marker;
  }
  ::testing::AssertionResult markersIntact() const {
    for (const auto& [offset, marker] : m_markers) {
      if (ReadFileRange(image, offset, marker.size()) != marker) {
        return ::testing::AssertionFailure() << "data at byte " << offset << " changed";
      }
    }
    return ::testing::AssertionSuccess();
  }

  bool hasGptSignatureAt(std::uint64_t offset) const {
    std::vector<std::uint8_t> bytes = ReadFileRange(image, offset, 8);
    return std::string(bytes.begin(), bytes.end()) == "EFI PART";
  }

  // The whole image, read in one piece.
  std::vector<std::uint8_t> imageBytes() const { return ReadFileRange(image, 0, kImageSize); }

  // The layout as Kestrin's own reader sees it now.
  LayoutBuffer currentLayout() {
    LayoutBuffer layout;
    layout.clear();
    GetDriveLayout(kImagePath, layout);
    return layout;
  }

  TempDir dir;
  std::string image = dir.file("disk.img");
  EmulatedPort stack{DiskMap{DiskSpec{image, 0}}};
  RecordingPort port{&stack};
  ScopedPort installedPort{port};
  MessageRecorder messages;
  ScopedMessageSink installedSink{messages};

 private:
  std::map<std::uint64_t, std::vector<std::uint8_t>> m_markers;
};

// Runs `operation` once and returns how long it took, in microseconds.
template <typename Operation>
double MicrosecondsOf(Operation&& operation) {
  auto start = std::chrono::steady_clock::now();
  operation();
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(end - start).count();
}

}  // namespace kestrin::test::editing
