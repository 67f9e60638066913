// The catalogue walk over fuzzed XML with fuzzed keys, and the two lookups
// of the embedded catalogue with fuzzed keys. Input: one byte giving the
// key's length (modulo 64), the key, then the XML text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Catalogue.h"
#include "FuzzRequire.h"

using namespace kestrin;
using namespace kestrin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t keyLength = std::min<std::size_t>(data[0] % 64, size - 1);
  std::string_view key(reinterpret_cast<const char*>(data + 1), keyLength);
  const std::uint8_t* xml = data + 1 + keyLength;
  std::size_t xmlSize = size - 1 - keyLength;

  std::string found = DescribeFromCatalogue(xml, xmlSize, key);
  require(found.empty() || found[0] == ' ', "every description found starts with a blank");

  std::string byGuid = TypeDescriptionByGuid(std::string(key));
  require(byGuid.empty() || byGuid[0] == ' ', "every description found starts with a blank");
  std::string byByte = TypeDescriptionByByte(data[0]);
  require(byByte.empty() || byByte[0] == ' ', "every description found starts with a blank");
  return 0;
}
