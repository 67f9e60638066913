#pragma once
// The rows of the disk chooser as data: one per disk number 0 .. 15 that can
// be opened, in ascending order.

#include <string>
#include <vector>

namespace kestrin {

struct ChooserRow {
  std::string number;  // "#": the disk number in decimal
  std::string type;    // "Type": always "DISK"
  std::string name;    // "Name": the product string
  std::string sizeMb;  // "Size( MB)": bytes / 1048576
  std::string status;  // "Attributes": online and read-only state
};

std::vector<ChooserRow> ChooserRows();

}  // namespace kestrin
