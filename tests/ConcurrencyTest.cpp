// Processes on one disk. A writer that rewrites the layout in a loop through
// the port, switching between two layouts, and a reader that reads it
// through the port at the same time: the port holds the medium's lock from
// open to close (shared for reading, exclusive for writing), so every read
// must be exactly one of the two layouts, never a table caught half-way,
// never an error. And two writers whose read-modify-writes overlap.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedPort.h"
#include "LayoutBuffer.h"
#include "OpenedDisk.h"
#include "PeerImages.h"
#include "TestSupport.h"

namespace kestrin::test {
namespace {

constexpr auto kRunTime = std::chrono::milliseconds(1500);

// One layout request through a fresh open of the port, as every reader and
// operation makes it. Returns the error code (0 on success).
std::uint32_t readLayout(EmulatedPort& port, LayoutBuffer& out) {
  out.clear();
  return OpenedDisk(port, GENERIC_READ, 0).readLayout(out);
}

std::uint32_t writeLayout(EmulatedPort& port, const LayoutBuffer& layout) {
  return OpenedDisk(port, GENERIC_READ | GENERIC_WRITE).writeLayout(layout);
}

bool sameLayout(const LayoutBuffer& a, const LayoutBuffer& b) {
  return std::memcmp(a.data(), b.data(), kLayoutBufferSize) == 0;
}

struct ReaderTally {
  std::size_t reads = 0;
  std::size_t first = 0;
  std::size_t second = 0;
  std::size_t errors = 0;
  std::size_t torn = 0;
};

class Concurrency : public ::testing::Test {
 protected:
  // Layout A is what the peer made; layout B is A changed by `change`.
  // Both are written once through the port and read back, so that each is
  // known in the form a read returns.
  void prepare(const std::function<void(LayoutBuffer&)>& change) {
    EmulatedPort port{DiskMap{DiskSpec{m_image, 512}}};
    ASSERT_EQ(readLayout(port, m_first), ERROR_SUCCESS);
    LayoutBuffer second = m_first;
    change(second);
    ASSERT_EQ(writeLayout(port, second), ERROR_SUCCESS);
    ASSERT_EQ(readLayout(port, m_second), ERROR_SUCCESS);
    ASSERT_FALSE(sameLayout(m_first, m_second));
    ASSERT_EQ(writeLayout(port, m_first), ERROR_SUCCESS);
    LayoutBuffer again;
    ASSERT_EQ(readLayout(port, again), ERROR_SUCCESS);
    ASSERT_TRUE(sameLayout(again, m_first)) << "the first layout does not survive a rewrite";
  }

  // Forks the writer, reads until it is done, and returns what was read.
  // The writer's exit status is the number of failed writes (capped), and
  // it reports how many it made through a pipe.
  ReaderTally runBoth(std::size_t& writes) {
    ReaderTally tally;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
      ADD_FAILURE() << "pipe failed";
      return tally;
    }
    pid_t writer = ::fork();
    if (writer < 0) {
      ADD_FAILURE() << "fork failed";
      return tally;
    }
    if (writer == 0) {
      ::close(pipeEnds[0]);
      EmulatedPort port{DiskMap{DiskSpec{m_image, 512}}};
      std::size_t made = 0;
      int failures = 0;
      auto end = std::chrono::steady_clock::now() + kRunTime;
      while (std::chrono::steady_clock::now() < end) {
        if (writeLayout(port, made % 2 == 0 ? m_second : m_first) != ERROR_SUCCESS) ++failures;
        ++made;
      }
      [[maybe_unused]] ssize_t sent = ::write(pipeEnds[1], &made, sizeof made);
      ::_exit(failures > 100 ? 100 : failures);
    }
    ::close(pipeEnds[1]);
    EmulatedPort port{DiskMap{DiskSpec{m_image, 512}}};
    LayoutBuffer read;
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
      ++tally.reads;
      if (readLayout(port, read) != ERROR_SUCCESS) {
        ++tally.errors;
      } else if (sameLayout(read, m_first)) {
        ++tally.first;
      } else if (sameLayout(read, m_second)) {
        ++tally.second;
      } else {
        ++tally.torn;
      }
    }
    writes = 0;
    if (::read(pipeEnds[0], &writes, sizeof writes) != sizeof writes) writes = 0;
    ::close(pipeEnds[0]);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writes failed in the writer";
    return tally;
  }

  void expectOnlyWholeLayouts(const std::string& what) {
    std::size_t writes = 0;
    ReaderTally tally = runBoth(writes);
    std::cout << "[ concurrency ] " << what << ": " << writes << " layout writes, " << tally.reads << " reads ("
              << tally.first << " first layout, " << tally.second << " second, " << tally.torn << " torn, "
              << tally.errors << " errors)\n";
    EXPECT_EQ(tally.torn, 0u);
    EXPECT_EQ(tally.errors, 0u);
    // Both processes really ran at the same time: the reader saw both.
    EXPECT_GT(writes, 10u);
    EXPECT_GT(tally.first, 0u);
    EXPECT_GT(tally.second, 0u);
  }

  TempDir m_dir;
  std::string m_image = m_dir.file("disk.img");
  LayoutBuffer m_first;
  LayoutBuffer m_second;
};

TEST_F(Concurrency, ReaderSeesOneOfTwoMbrLayoutsWithLogicalDrivesWhileAnotherProcessRewritesThem) {
  if (!HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
  ASSERT_EQ(MakeSfdiskImage(m_image, 16 << 20,
                            "label: dos\nlabel-id: 0x0C0C0C0C\n"
                            "start=2048, size=4096, type=83\n"
                            "start=6144, size=16384, type=5\n"
                            "start=8192, size=2048, type=83\n"
                            "start=12288, size=2048, type=7\n"
                            "start=16384, size=2048, type=82\n"),
            "");
  // The second layout changes sector 0 (signature, a type, a new primary)
  // and two EBRs (the last logical drive goes, the middle one is retyped),
  // so a read between the writes of one rewrite would show a mixture.
  prepare([](LayoutBuffer& layout) {
    layout.setMbrSignature(0x0D0D0D0D);
    layout.slot(1).setMbrPartitionType(0x0C);
    LayoutSlot created = layout.slot(3);
    created.setStyle(kStyleMbr);
    created.setStartingOffset(24576ll * 512);
    created.setPartitionLength(4096ll * 512);
    created.setMbrPartitionType(0x07);
    created.setMbrRecognizedPartition(true);
    created.setRewritePartition(true);
    layout.slot(9).setMbrPartitionType(0x0B);
    layout.slot(13).setMbrPartitionType(0);
  });
  if (HasFatalFailure()) return;
  expectOnlyWholeLayouts("MBR with logical drives");
}

TEST_F(Concurrency, ReaderSeesOneOfTwoGptLayoutsWhileAnotherProcessRewritesThem) {
  if (!HaveTool("sgdisk")) GTEST_SKIP() << "sgdisk is not installed";
  ASSERT_EQ(
      MakeSgdiskImage(m_image, 16 << 20, {"-o", "-n", "1:2048:+2M", "-n", "2:0:+2M", "-t", "2:8200", "-n", "3:0:+2M"}),
      "");
  // Every part of both copies changes: a new entry, a removed one, a
  // retyped one; the array and header of each copy are rewritten.
  prepare([](LayoutBuffer& layout) {
    LayoutSlot created = layout.slot(4);
    std::copy(layout.slot(1).bytes().begin(), layout.slot(1).bytes().end(), created.bytes().begin());
    created.setStartingOffset(8ll << 20);
    created.setPartitionLength(2ll << 20);
    created.setPartitionNumber(4);
    created.setGptPartitionId(
        Guid{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}});
    layout.setPartitionCount(4);
    layout.slot(2).setGptPartitionType(Guid{});
    layout.slot(3).setGptAttributes(0x8000000000000000ull);
  });
  if (HasFatalFailure()) return;
  expectOnlyWholeLayouts("GPT");
}

// Two writers at the same moment: one (a forked process on the port) is held
// between its read and its write while kestrin-cli changes another entry.
// The second writer must wait for the first and then see its change, or be
// refused with nothing written; it must never write over it.
TEST_F(Concurrency, AWriterHeldBetweenItsReadAndItsWriteLosesNoOtherWritersChange) {
  if (!HaveTool("sgdisk")) GTEST_SKIP() << "sgdisk is not installed";
  ASSERT_EQ(MakeSgdiskImage(m_image, 16 << 20, {"-o", "-n", "1:2048:+2M", "-n", "2:0:+2M"}), "");
  const std::string cli = CliProgram();
  constexpr std::uint64_t kHeldChange = 0x1;
  constexpr std::uint64_t kOtherChange = 0x8000000000000000ull;

  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  pid_t held = ::fork();
  ASSERT_GE(held, 0);
  if (held == 0) {
    // The read-modify-write of an entry operation, stopped after the read.
    EmulatedPort port{DiskMap{DiskSpec{m_image, 512}}};
    bool done = false;
    {
      OpenedDisk disk(port, GENERIC_READ | GENERIC_WRITE);
      LayoutBuffer layout;
      const bool read = disk.readLayout(layout) == ERROR_SUCCESS;
      char signal = read ? 'r' : 'f';
      [[maybe_unused]] ssize_t sent = ::write(ready[1], &signal, 1);
      [[maybe_unused]] ssize_t got = ::read(go[0], &signal, 1);
      layout.slot(1).setGptAttributes(kHeldChange);
      done = read && disk.writeLayout(layout) == ERROR_SUCCESS;
    }
    ::_exit(done ? 0 : 1);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, 'r');

  // While the first writer holds the disk, a port that waits only briefly
  // is refused with the busy error, before reading anything.
  {
    EmulatedPort impatient{DiskMap{DiskSpec{m_image, 512}}};
    impatient.setLockWait(std::chrono::milliseconds(100));
    OpenedDisk disk(impatient, GENERIC_READ | GENERIC_WRITE);
    LayoutBuffer layout;
    EXPECT_NE(disk.readLayout(layout), ERROR_SUCCESS);
    EXPECT_EQ(impatient.LastError(), ERROR_BUSY);
  }

  // kestrin-cli changes entry 2 meanwhile; the first writer goes on a
  // moment later.
  std::thread other([&] {
    RunResult run = test::Run({cli, "--disk", m_image, "--yes", "set-attributes", "0", "2", "$8000000000000000"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(held, &status, 0), held);
  other.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EmulatedPort port{DiskMap{DiskSpec{m_image, 512}}};
  LayoutBuffer after;
  ASSERT_EQ(readLayout(port, after), ERROR_SUCCESS);
  EXPECT_EQ(after.slot(1).gptAttributes(), kHeldChange) << "the held writer's change is lost";
  EXPECT_EQ(after.slot(2).gptAttributes(), kOtherChange) << "kestrin-cli's change is lost";
  for (int end : {ready[0], ready[1], go[0], go[1]}) ::close(end);
}

// A command on a disk another program holds waits for it once, as long as
// the README says (five seconds), then says the disk is busy; it waited twice
// when it opened the disk again to name a cause or to write after a failed
// read.
TEST_F(Concurrency, ACommandOnAHeldDiskWaitsOnceAndSaysTheDiskIsBusy) {
  ASSERT_EQ(MakeSfdiskImage(m_image, 16 << 20, "label: dos\n,2MiB,83\n"), "");
  const int holder = ::open(m_image.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  const std::string cli = CliProgram();
  for (const std::vector<std::string>& command : {std::vector<std::string>{"show"}, {"--yes", "create-disk", "0", "gpt"}}) {
    std::vector<std::string> argv{cli, "--disk", m_image};
    argv.insert(argv.end(), command.begin(), command.end());
    const auto start = std::chrono::steady_clock::now();
    RunResult run = test::Run(argv);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exitCode, 1) << command.back();
    EXPECT_NE(run.err.find("The disk is busy"), std::string::npos) << run.err;
    EXPECT_GE(waited, std::chrono::milliseconds(4500)) << command.back();
    EXPECT_LT(waited, std::chrono::milliseconds(8000)) << command.back();
  }
  ::close(holder);
  EXPECT_NE(test::Run({"sfdisk", "--dump", m_image}).out.find("type=83"), std::string::npos);
}

}  // namespace
}  // namespace kestrin::test
