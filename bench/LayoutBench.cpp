// Benchmarks of the reading side: a layout read of a GPT with 64 used
// entries through the port (open, request, close), the same read on a small
// and on a 16 TiB sparse image (the read must not grow with the disk), and
// the full view content of 64 rows (catalogue lookups over rows read once).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "EmulatedPort.h"
#include "ImageMedium.h"
#include "LayoutCodec.h"
#include "LayoutView.h"
#include "NewGuid.h"
#include "lib.h"

namespace {

using namespace kestrin;

// A sparse image with an empty GPT and 64 basic-data entries of 4 KiB each,
// written by Kestrin's own codec.
std::string makeGptImage(const std::string& name, std::uint64_t size) {
  std::string path = (std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "-" + name)).string();
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot create image");
  ::close(fd);
  std::uint32_t error = 0;
  auto medium = ImageMedium::open(path, true, 512, error);
  if (!medium) throw std::runtime_error("cannot open image");
  if (WriteEmptyGpt(*medium, NewGuid(), 128) != 0) throw std::runtime_error("cannot write GPT");
  LayoutBuffer layout;
  if (DecodeLayout(*medium, layout) != 0) throw std::runtime_error("cannot read GPT");
  layout.setPartitionCount(64);
  Guid basicData = StringToGuid("{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");
  for (int e = 1; e <= 64; ++e) {
    LayoutSlot slot = layout.slot(e);
    slot.setStyle(kStyleGpt);
    slot.setStartingOffset(static_cast<std::int64_t>(16 + e) * 4096);
    slot.setPartitionLength(4096);
    slot.setPartitionNumber(static_cast<std::uint32_t>(e));
    slot.setGptPartitionType(basicData);
    slot.setGptPartitionId(NewGuid());
  }
  if (EncodeLayout(*medium, layout, layout.size()) != 0) throw std::runtime_error("cannot write entries");
  return path;
}

void readLayout(benchmark::State& state, std::uint64_t size) {
  std::string path = makeGptImage("kestrin-bench-" + std::to_string(size) + ".img", size);
  EmulatedPort port({DiskSpec{path, 0}});
  ScopedPort installed(port);
  LayoutBuffer layout;
  for (auto _ : state) {
    GetDriveLayout("\\\\.\\PhysicalDrive0", layout);
    benchmark::DoNotOptimize(layout.data());
  }
  if (layout.partitionCount() != 64) state.SkipWithError("expected 64 entries");
  std::filesystem::remove(path);
}

void BM_ReadGpt64Entries_1MiB(benchmark::State& state) { readLayout(state, 1ull << 20); }
// ext4 files stop just short of 16 TiB, so the largest image is 16 TiB less
// one MiB: as far as the read is concerned, a 16 TiB disk.
void BM_ReadGpt64Entries_16TiB(benchmark::State& state) { readLayout(state, (16ull << 40) - (1ull << 20)); }

void BM_ViewContent64Rows(benchmark::State& state) {
  std::string path = makeGptImage("kestrin-bench-view.img", 1ull << 20);
  EmulatedPort port({DiskSpec{path, 0}});
  ScopedPort installed(port);
  LayoutBuffer layout;
  GetDriveLayout("\\\\.\\PhysicalDrive0", layout);
  for (auto _ : state) {
    auto rows = LayoutRows(layout);
    benchmark::DoNotOptimize(rows.data());
  }
  std::filesystem::remove(path);
}

}  // namespace

BENCHMARK(BM_ReadGpt64Entries_1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadGpt64Entries_16TiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewContent64Rows)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
