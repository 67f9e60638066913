// The two dump readers apply takes, over fuzzed text: this program's JSON
// and an sfdisk dump. A text either reads as a document or is refused with
// a reason; a document read goes through the JSON form and back unchanged,
// and its layout for a disk is built or refused with the partitions named,
// never anything else.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzRequire.h"
#include "LayoutDump.h"

using namespace kestrin;
using namespace kestrin::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<LayoutDocument> document = cli::ReadDump(text, error);
  if (!document) {
    require(!error.empty(), "a refused text is refused with a reason");
    return 0;
  }
  std::string again;
  std::optional<LayoutDocument> back = cli::ReadDump(cli::DumpJson(*document).dump(), again);
  require(back.has_value(), "the JSON form of a document reads back");
  require(back->partitions == document->partitions && back->hybrid == document->hybrid &&
              back->style == document->style && back->signature == document->signature &&
              back->diskGuid == document->diskGuid,
          "the JSON form of a document reads back unchanged");
  std::vector<std::string> problems;
  const LayoutBuffer none;
  for (std::uint32_t sectorSize : {512u, 4096u}) {
    std::optional<LayoutBuffer> layout = LayoutForDisk(*document, sectorSize, 1u << 20, none, 0x1234, problems);
    require(layout.has_value() != !problems.empty(), "a layout is built, or refused with its problems named");
  }
  return 0;
}
