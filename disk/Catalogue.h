#pragma once
// The catalogue lookups: the descriptions of an MBR type byte or a GPT type
// GUID, from the type catalogue compiled into the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrin {

// Every description of the type byte, each preceded by one blank, in
// catalogue order; empty when there is none or the catalogue cannot be read.
std::string TypeDescriptionByByte(std::uint8_t type);
// The same for a type GUID in braces, compared without regard to ASCII case.
std::string TypeDescriptionByGuid(const std::string& guidText);

// The walk behind the two lookups, over any catalogue text, so that the
// behaviour on texts other than the embedded one can be checked.
// Parses `text` (an XML document whose declaration names its encoding) and
// walks the rows: the first `node` child of the document element and each
// sibling after it. Returns " " + Desc for every row whose Cell equals `key`
// when both are lowered in ASCII (A to Z only, no trimming), in document
// order. Returns the empty text when nothing matches or the text does not
// parse.
std::string DescribeFromCatalogue(const void* text, std::size_t size, std::string_view key);

}  // namespace kestrin
