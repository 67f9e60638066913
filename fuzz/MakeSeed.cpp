// Writes seed inputs for the fuzz targets (used by make-seeds.sh):
//
//   make-seed image IMAGE SECTORSIZE        the FuzzImage form of a disk
//                                           image: every sector that is
//                                           not all zero, with its LBA
//   make-seed descriptor POSITION VENDOR PRODUCT REVISION SERIAL
//                                           a storage device descriptor as
//                                           the system lays it out, after
//                                           a 4-byte position to decode
//
// The result goes to standard output. Plain C++ with no Kestrin code, so
// that the seeds do not depend on what they are meant to test.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

void putLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void setLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Reads only the parts of the file that hold data (a partitioned sparse
// image of terabytes has a few kilobytes of them).
int image(const std::string& path, std::uint32_t sectorSize) {
  int fd = ::open(path.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::cerr << "cannot read " << path << "\n";
    return 1;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  std::vector<std::uint8_t> out;
  out.push_back(sectorSize == 4096 ? 1 : 0);
  putLe(out, size / sectorSize, 8);
  std::vector<std::uint8_t> sector(sectorSize);
  off_t at = 0;
  while (true) {
    off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0) break;
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0) hole = static_cast<off_t>(size);
    for (std::uint64_t lba = static_cast<std::uint64_t>(data) / sectorSize;
         lba * sectorSize < static_cast<std::uint64_t>(hole) && (lba + 1) * sectorSize <= size; ++lba) {
      if (::pread(fd, sector.data(), sectorSize, static_cast<off_t>(lba * sectorSize)) != sectorSize) break;
      bool empty = true;
      for (std::uint8_t c : sector) empty &= c == 0;
      if (empty) continue;
      putLe(out, lba, 8);
      out.insert(out.end(), sector.begin(), sector.end());
    }
    at = hole;
  }
  ::close(fd);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int descriptor(std::uint32_t position, const std::vector<std::string>& strings) {
  constexpr std::size_t kHeader = 40;
  std::vector<std::uint8_t> d(kHeader, 0);
  const std::size_t fields[] = {12, 16, 20, 24};
  for (std::size_t i = 0; i < strings.size() && i < 4; ++i) {
    if (strings[i].empty()) continue;
    setLe32(d, fields[i], static_cast<std::uint32_t>(d.size()));
    d.insert(d.end(), strings[i].begin(), strings[i].end());
    d.push_back(0);
  }
  setLe32(d, 0, kHeader);
  setLe32(d, 4, static_cast<std::uint32_t>(d.size()));
  d[28] = 7;  // USB
  std::vector<std::uint8_t> out;
  putLe(out, position, 4);
  out.insert(out.end(), d.begin(), d.end());
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "image") return image(args[1], static_cast<std::uint32_t>(std::stoul(args[2])));
  if (args.size() == 6 && args[0] == "descriptor") {
    return descriptor(static_cast<std::uint32_t>(std::stoul(args[1])), {args[2], args[3], args[4], args[5]});
  }
  std::cerr << "usage: make-seed image IMAGE SECTORSIZE | descriptor POSITION VENDOR PRODUCT REVISION SERIAL\n";
  return 2;
}
