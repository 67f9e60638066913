#include "SectorFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "Port.h"

namespace kestrin {

std::uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_IO_DEVICE;
  }
}

namespace {

std::uint32_t checkRange(std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba, std::size_t bytes) {
  if (bytes % sectorSize != 0) return ERROR_INVALID_PARAMETER;
  std::uint64_t count = bytes / sectorSize;
  if (lba > sectorCount || count > sectorCount - lba) return ERROR_SECTOR_NOT_FOUND;
  return ERROR_SUCCESS;
}

}  // namespace

int OpenWithoutWaiting(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

std::uint32_t LockFile(int fd, LockMode mode, std::chrono::milliseconds wait) {
  const int operation = mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH;
  while (::flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return ERROR_LOCK_VIOLATION;
    // Held by another process. The wait is the kernel's own, so that waiters
    // are served as the holder lets go rather than whenever a poll happens
    // to fall between two of its requests. flock has no time limit, so a
    // helper thread waits on a descriptor of its own for the same open file
    // (a duplicate shares the lock); should the wait outlast `wait`, the
    // helper lets go of the lock it gets afterwards, which the caller then
    // does not believe it holds.
    struct Waiter {
      std::mutex mutex;
      std::condition_variable changed;
      bool done = false;
      bool locked = false;
      bool abandoned = false;
    };
    auto waiter = std::make_shared<Waiter>();
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return ERROR_LOCK_VIOLATION;
    std::thread([waiter, own, operation] {
      int result = 0;
      while ((result = ::flock(own, operation)) != 0 && errno == EINTR) {
      }
      std::lock_guard<std::mutex> guard(waiter->mutex);
      waiter->done = true;
      waiter->locked = result == 0;
      if (waiter->abandoned && waiter->locked) ::flock(own, LOCK_UN);
      ::close(own);
      waiter->changed.notify_all();
    }).detach();
    std::unique_lock<std::mutex> guard(waiter->mutex);
    if (!waiter->changed.wait_for(guard, wait, [&] { return waiter->done; })) {
      waiter->abandoned = true;
      return ERROR_BUSY;
    }
    return waiter->locked ? ERROR_SUCCESS : ERROR_LOCK_VIOLATION;
  }
  return ERROR_SUCCESS;
}

std::uint32_t ReadSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                            std::span<std::uint8_t> out) {
  if (std::uint32_t error = checkRange(sectorSize, sectorCount, lba, out.size()); error != ERROR_SUCCESS) return error;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(lba * sectorSize + done));
    if (n < 0 && errno == EINTR) continue;
    // A drive whose medium was taken out is not ready rather than broken.
    if (n < 0) return errno == ENOMEDIUM ? ERROR_NOT_READY : ERROR_READ_FAULT;
    if (n == 0) return ERROR_SECTOR_NOT_FOUND;
    done += static_cast<std::size_t>(n);
  }
  return ERROR_SUCCESS;
}

std::uint32_t WriteSectorsAt(int fd, std::uint32_t sectorSize, std::uint64_t sectorCount, std::uint64_t lba,
                             std::span<const std::uint8_t> data) {
  if (std::uint32_t error = checkRange(sectorSize, sectorCount, lba, data.size()); error != ERROR_SUCCESS) return error;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(lba * sectorSize + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // A descriptor opened for reading fails with EBADF: no right to write.
      if (errno == EBADF) return ERROR_ACCESS_DENIED;
      if (errno == EPERM || errno == EROFS) return ERROR_WRITE_PROTECT;
      return ErrorFromErrno(errno);
    }
    if (n == 0) return ERROR_WRITE_FAULT;
    done += static_cast<std::size_t>(n);
  }
  return ERROR_SUCCESS;
}

}  // namespace kestrin
