#include "Port.h"

#include <stdexcept>

namespace kestrin {

namespace {
DevicePort* g_port = nullptr;
}

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
