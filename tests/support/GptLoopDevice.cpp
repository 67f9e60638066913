#include "GptLoopDevice.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

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
  // Held open with auto-clear set, so that the device goes away with this
  // process even when the test is killed before its destructor runs.
  m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
  loop_info64 info{};
  if (m_fd >= 0 && ::ioctl(m_fd, LOOP_GET_STATUS64, &info) == 0) {
    info.lo_flags |= LO_FLAGS_AUTOCLEAR;
    ::ioctl(m_fd, LOOP_SET_STATUS64, &info);
  }
}

GptLoopDevice::~GptLoopDevice() { detach(); }

void GptLoopDevice::detach() {
  if (m_path.empty()) return;
  Run({"losetup", "--detach", m_path});
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_path.clear();
}

}  // namespace kestrin::test
