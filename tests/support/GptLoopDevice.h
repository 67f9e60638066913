#pragma once
// A loop device over a test's own image file, for the peers (sgdisk,
// sfdisk) that reach a sector size other than 512 only through a block
// device. The device is detached when the object goes out of scope, also
// when the test fails half-way. Attaching needs root and a free loop
// device; a test skips with failure() when it cannot have one.

#include <cstdint>
#include <string>

namespace kestrin::test {

class GptLoopDevice {
 public:
  GptLoopDevice(const std::string& image, std::uint32_t sectorSize);
  ~GptLoopDevice();
  GptLoopDevice(const GptLoopDevice&) = delete;
  GptLoopDevice& operator=(const GptLoopDevice&) = delete;

  bool attached() const { return !m_path.empty(); }
  // The device, "/dev/loopN".
  const std::string& path() const { return m_path; }
  // Why attaching failed.
  const std::string& failure() const { return m_failure; }
  // Detaches now, so that the image file holds everything written through
  // the device before the test reads it directly.
  void detach();

 private:
  std::string m_path;
  std::string m_failure;
};

}  // namespace kestrin::test
