#pragma once
// The symbolic type names offered to the user and their codes: an MBR type
// byte as decimal text, or a GPT type GUID in braces. A fixed table, matched
// case-sensitively, independent of the catalogue.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrin {

// Assigns to `code` the code text of `name` for a disk of partition style
// `style` (0 MBR, 1 GPT) and returns true. When the name is not one of that
// style's names, or the style is neither, `code` is left as it was and the
// result is false.
bool TypeNameToCode(std::uint32_t style, const std::string& name, std::string& code);

// The names a dialog's type list is filled with, and the index preselected.
struct TypeNameList {
  std::vector<std::string> items;
  int preselected = 0;
};

// Create Partition: the MBR list for style 0, the GPT list for any other.
TypeNameList CreatePartitionTypeList(std::uint32_t style);
// Change Partition Type (MBR) and (GPT).
TypeNameList ChangeTypeListMbr();
TypeNameList ChangeTypeListGpt();

}  // namespace kestrin
