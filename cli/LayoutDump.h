#pragma once
// The dump: a layout as JSON (schema 1) that `dump` prints and `apply`
// reads back, beside the sfdisk dump `apply` also takes.
//
//   {"schema": 1, "style": "gpt", "sectorSize": 512, "sectors": 204800,
//    "diskGuid": "...", "firstUsable": 2048, "lastUsable": 204766, "tableLength": 128,
//    "partitions": [{"number": 1, "start": 2048, "size": 20480, "type": "0FC63DAF-...",
//                    "uuid": "...", "name": "root", "attributes": "0x0000000000000001"}],
//    "hybrid": [{"index": 2, "type": "83", "start": 2048, "size": 20480, "bootable": false}]}
//
// An MBR dump has "signature" ("0x11223344") instead of the GPT's disk
// fields, and its partitions "bootable" and "logical" instead of "uuid",
// "name" and "attributes"; positions are sectors of "sectorSize" bytes.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "LayoutDocument.h"

namespace kestrin::cli {

nlohmann::ordered_json DumpJson(const LayoutDocument& document);

// Reads a dump: this program's JSON or an sfdisk dump. nullopt with `error`
// saying what is wrong, and where (a line, a field), when the text is
// neither.
std::optional<LayoutDocument> ReadDump(const std::string& text, std::string& error);

}  // namespace kestrin::cli
