#include "Port.h"

#include <stdexcept>

namespace kestrin {

namespace {
DevicePort* g_port = nullptr;
}

bool DevicePort::ReadDisk(DiskHandle, std::uint64_t, void*, std::uint32_t, std::uint32_t*) { return false; }
bool DevicePort::WriteDisk(DiskHandle, std::uint64_t, const void*, std::uint32_t, std::uint32_t*) { return false; }
bool DevicePort::FlushDisk(DiskHandle) { return false; }

DevicePort* installPort(DevicePort* port) {
  DevicePort* previous = g_port;
  g_port = port;
  return previous;
}

DevicePort& port() {
  if (g_port == nullptr) {
    throw std::logic_error("no device port installed");
  }
  return *g_port;
}

}  // namespace kestrin
