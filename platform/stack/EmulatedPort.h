#pragma once
// The port on Linux: Kestrin's own disk stack. Each disk number of the map
// is a medium (an image file or a block device, see OpenMedium); the control
// requests are answered by the codec over that medium. A path that is not
// "\\.\PhysicalDrive<n>" for a number of the map fails to open, and every
// request on the invalid handle fails with ERROR_INVALID_HANDLE.
//
// The offline attribute is held by the stack for the life of the process
// (not persistent). So is the read-only attribute of an image; a block
// device keeps it in the kernel's read-only flag. A read-only disk refuses
// every write with ERROR_WRITE_PROTECT.
//
// A handle holds the medium's lock from open to close: shared when opened
// for reading, exclusive when opened for writing, so that an operation's
// read, change and write of the table are one step for every other Kestrin
// process. A lock that cannot be had within the lock wait (a few seconds)
// leaves the handle open but makes every request on the table fail with
// ERROR_BUSY; nothing is read or written then.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DiskMap.h"
#include "Medium.h"
#include "Port.h"

namespace kestrin {

class EmulatedPort : public DevicePort {
 public:
  using MediumOpener = std::function<std::unique_ptr<Medium>(const DiskSpec&, bool writable, std::uint32_t& error)>;

  explicit EmulatedPort(DiskMap disks, MediumOpener opener = {});

  DiskHandle OpenDisk(const std::string& path, std::uint32_t access, std::uint32_t attributes) override;
  bool DiskControl(DiskHandle handle, std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                   std::uint32_t outputSize, std::uint32_t* bytesReturned) override;
  void CloseDisk(DiskHandle handle) override;
  // Whole sectors of the medium, under the handle's lock. A raw write is
  // checked as a table write is (writable handle, lock, read-only state,
  // partitions in use on a block device) but does not make the kernel
  // re-read the table: the caller sends IOCTL_DISK_UPDATE_PROPERTIES once its
  // last sector is written.
  bool ReadDisk(DiskHandle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                std::uint32_t* bytesRead) override;
  bool WriteDisk(DiskHandle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytesWritten) override;
  bool FlushDisk(DiskHandle handle) override;
  std::uint32_t LastError() const override { return m_lastError; }
  std::string ErrorMessage(std::uint32_t code) const override;

  const DiskMap& disks() const { return m_disks; }

  // How long an open waits for another process's lock on the medium.
  static constexpr std::chrono::milliseconds kDefaultLockWait{5000};
  void setLockWait(std::chrono::milliseconds wait) { m_lockWait = wait; }

 private:
  struct OpenDiskState {
    int disk;
    bool writable;
    std::unique_ptr<Medium> medium;
    std::uint32_t lockError;  // ERROR_SUCCESS when the handle holds its lock
  };

  std::uint32_t request(OpenDiskState& open, std::uint32_t code, const std::uint8_t* input, std::uint32_t inputSize,
                        std::uint8_t* output, std::uint32_t outputSize, std::uint32_t& returned);
  std::uint32_t checkWritable(const OpenDiskState& open) const;
  bool fail(std::uint32_t error);
  // The open disk of `handle` for a raw transfer of `size` bytes at
  // `offset`, or null after recording why not.
  OpenDiskState* rawTransfer(DiskHandle handle, std::uint64_t offset, std::uint32_t size, const void* buffer);

  DiskMap m_disks;
  MediumOpener m_opener;
  std::map<int, std::uint64_t> m_attributes;  // per disk number
  std::map<DiskHandle, OpenDiskState> m_handles;
  DiskHandle m_nextHandle = 1;
  std::uint32_t m_lastError = 0;
  std::chrono::milliseconds m_lockWait = kDefaultLockWait;
};

// Builds a STORAGE_DEVICE_DESCRIPTOR from the descriptive strings of a
// medium (Medium::description) into `output`; strings are reduced to
// printable ASCII, empty ones are left out (position 0).
std::uint32_t BuildStorageDescriptor(const std::string& vendor, const std::string& product, const std::string& revision,
                                     const std::string& serial, bool removable, std::uint8_t busType,
                                     std::uint8_t* output, std::uint32_t outputSize, std::uint32_t& returned);

// The port the --disk options of `args` ask for, taking them out (everything
// else stays, in order): the stack over the disks they name, or, without
// any, the port `machineDisks` makes. Returns null and sets `error` to a
// one-line text when an option is malformed. Each platform's MakeSystemPort
// is this with its own machine disks.
std::unique_ptr<DevicePort> PortForDiskOptions(std::vector<std::string>& args, std::string& error,
                                               const std::function<std::unique_ptr<DevicePort>()>& machineDisks);

}  // namespace kestrin
