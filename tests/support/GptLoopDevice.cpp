#include "GptLoopDevice.h"

#include "TestSupport.h"

namespace kestrin::test {

GptLoopDevice::GptLoopDevice(const std::string& image, std::uint32_t sectorSize) {
  // No partition scan: the kernel must not create partition devices or
  // hold the table open while the test rewrites the image.
  RunResult r = Run({"losetup", "--find", "--show", "--sector-size", std::to_string(sectorSize), image});
  std::string device = r.out.substr(0, r.out.find('\n'));
  if (r.exitCode != 0 || device.rfind("/dev/loop", 0) != 0) {
    m_failure = "no loop device available: " + r.err;
    return;
  }
  m_path = device;
}

GptLoopDevice::~GptLoopDevice() { detach(); }

void GptLoopDevice::detach() {
  if (m_path.empty()) return;
  Run({"losetup", "--detach", m_path});
  m_path.clear();
}

}  // namespace kestrin::test
