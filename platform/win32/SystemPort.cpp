#include "SystemPort.h"

#include "Win32Port.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& /*args*/, std::string& error) {
  error.clear();
  return std::make_unique<Win32Port>(NativeSystem());
}

}  // namespace kestrin
