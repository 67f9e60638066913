#pragma once
// A medium behind one disk number: an image file (later also a block
// device). It is a SectorDevice for the codec, plus what the port needs
// around a request: locking against other processes, the read-only state
// and a name the user recognises.

#include <cstdint>
#include <memory>
#include <string>

#include "SectorDevice.h"

namespace kestrin {

enum class LockMode { Shared, Exclusive };

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
