#pragma once
// The JSON forms of `show` and `disks`: the raw values of the layout and of
// the disk chooser's rows, for scripts.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "DiskList.h"
#include "LayoutBuffer.h"

namespace kestrin::cli {

// One disk's layout: its number and path, the style (name and code), the
// slot count, the status text the window shows, the disk signature (MBR) or
// disk GUID (GPT), and one object per slot with the slot's raw fields
// (offset, length, number, type byte or GUID, boot flag or attributes, GPT
// name and entry GUID) beside the type text the window shows. Each row also
// carries the number the kernel gives its partition ("partition": MBR
// primaries by slot, logical drives from 5 in chain order, GPT entries by
// their position in the array; null for an empty slot or a link between
// EBRs) and, when `blockDevice` names the disk's device node, the
// partition's node ("device": /dev/sdb1, /dev/loop0p1).
nlohmann::ordered_json LayoutJson(int disk, const std::string& path, const LayoutBuffer& layout,
                                  const std::string& blockDevice = "");

// The chooser's rows, with the numbers as numbers.
nlohmann::ordered_json DiskListJson(const std::vector<DiskListRow>& rows);

}  // namespace kestrin::cli
