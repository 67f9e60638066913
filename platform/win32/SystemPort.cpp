#include "SystemPort.h"

// The system's own headers need the types of windows.h before them.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>

#include "EmulatedPort.h"
#include "Utf16.h"
#include "Win32Port.h"

namespace kestrin {

std::unique_ptr<DevicePort> MakeSystemPort(std::vector<std::string>& args, std::string& error) {
  // Without any --disk option, the machine's own disks through the system.
  return PortForDiskOptions(args, error, [] { return std::make_unique<Win32Port>(NativeSystem()); });
}

std::vector<std::string> FilesOfDisk(const std::string& path) { return {path}; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return {argv + 1, argv + argc};
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    const auto* word = reinterpret_cast<const char16_t*>(words[i]);
    args.push_back(Utf16ToUtf8(std::u16string_view(word, std::wcslen(words[i]))));
  }
  ::LocalFree(words);
  return args;
}

}  // namespace kestrin
