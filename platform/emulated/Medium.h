#pragma once
// A medium behind one disk number: an image file or a block device. It is
// a SectorDevice for the codec, plus what the port needs around a request:
// locking against other processes, the read-only state, a name the user
// recognises and the descriptive strings of the storage descriptor.

#include <cstdint>
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
  // True when the medium cannot be written by this process.
  virtual bool isReadOnly() const = 0;
  // Holds an advisory lock for the length of one request, so two Kestrin
  // processes never see a half-written table. Returns an error code.
  virtual std::uint32_t lock(LockMode mode) = 0;
  virtual void unlock() = 0;
  // Called after a successful table write or on an update request; a block
  // device asks the kernel to re-read its partitions here.
  virtual void tableChanged() {}
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

// Releases a medium's lock when it goes out of scope.
class MediumLock {
 public:
  MediumLock(Medium& medium, LockMode mode) : m_medium(medium), m_error(medium.lock(mode)) {}
  ~MediumLock() {
    if (m_error == 0) m_medium.unlock();
  }
  MediumLock(const MediumLock&) = delete;
  MediumLock& operator=(const MediumLock&) = delete;
  std::uint32_t error() const { return m_error; }

 private:
  Medium& m_medium;
  std::uint32_t m_error;
};

}  // namespace kestrin
