#pragma once
// A medium behind one disk number: an image file or a block device. It is
// a SectorDevice for the codec, plus what the port needs around a request:
// locking against other processes, the read-only state, a name the user
// recognises and the descriptive strings of the storage descriptor.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Port.h"
#include "SectorDevice.h"

namespace kestrin {

enum class LockMode { Shared, Exclusive };

// What IOCTL_STORAGE_QUERY_PROPERTY reports of a medium. `busType` is the
// system's STORAGE_BUS_TYPE value (0 unknown, 1 SCSI, 3 ATA, 7 USB, ...).
struct MediumDescription {
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  bool removable = false;
  std::uint8_t busType = 0;
};

class Medium : public SectorDevice {
 public:
  // Length of the disk in bytes (whole sectors).
  virtual std::uint64_t lengthBytes() const { return sectorCount() * sectorSize(); }
  // How the hardware's sectors lie under the logical ones; a medium without
  // hardware of its own has physical sectors of the logical size.
  virtual PhysicalSectors physicalSectors() const { return {sectorSize(), 0}; }
  // True when the medium cannot be written by this process.
  virtual bool isReadOnly() const = 0;
  // Takes the advisory lock of the medium for as long as the medium stays
  // open, waiting at most `wait` for another process to give up a lock that
  // conflicts: shared for a handle that reads, exclusive for one that
  // writes, so that one read-modify-write of the table is atomic against
  // every other Kestrin process (and udev leaves a locked block device
  // alone). Returns ERROR_BUSY when the lock could not be had in time.
  virtual std::uint32_t lock(LockMode mode, std::chrono::milliseconds wait) = 0;
  // Called after a successful table write or on an update request; a block
  // device asks the kernel to re-read its partitions here. Returns
  // ERROR_DEVICE_IN_USE when the kernel keeps a partition the table no
  // longer has where it was, because the partition is in use.
  virtual std::uint32_t tableChanged() { return ERROR_SUCCESS; }
  // Writes a table with `write` and brings the system in line with it. A
  // medium whose partitions the system keeps (a block device) puts the
  // sectors back as they were when the kernel refuses to let a partition in
  // use go, and fails with ERROR_DEVICE_IN_USE: the disk and the kernel are
  // then as before.
  // A write refused by refuseChangesToBusyPartitions writes nothing.
  virtual std::uint32_t writeTable(const std::function<std::uint32_t(SectorDevice&)>& write) {
    if (std::uint32_t error = refuseChangesToBusyPartitions(write); error != ERROR_SUCCESS) return error;
    const std::uint32_t error = write(*this);
    if (error == ERROR_SUCCESS) tableChanged();
    return error;
  }
  // Called before a table write, with the write itself: a medium whose
  // partitions may be in use (a block device) refuses with
  // ERROR_DEVICE_IN_USE a write that would remove, move or shrink a
  // partition that is mounted or held open. Nothing is written here.
  virtual std::uint32_t refuseChangesToBusyPartitions(const std::function<std::uint32_t(SectorDevice&)>& write) {
    static_cast<void>(write);
    return ERROR_SUCCESS;
  }
  // Name shown to the user (the product string of the descriptor).
  virtual std::string displayName() const = 0;
  // The descriptive strings of the storage descriptor. A medium that has no
  // device behind it describes itself as vendor "Kestrin", its name as the
  // product and revision "0.1".
  virtual MediumDescription description() const { return {"Kestrin", displayName(), "0.1", "", false, 0}; }
  // Sets the read-only state that the medium itself keeps (a block device's
  // kernel flag), not persistently; isReadOnly reports it from then on.
  // Returns an error code; ERROR_NOT_SUPPORTED means the medium keeps no
  // such state and the stack holds the bit itself.
  virtual std::uint32_t setReadOnly(bool /*readOnly*/) { return ERROR_NOT_SUPPORTED; }
};

}  // namespace kestrin
