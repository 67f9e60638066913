#pragma once
// The walk behind the two catalogue lookups, over any catalogue text, so the
// behaviour on texts other than the embedded one can be checked.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrin {

// Parses `text` (an XML document whose declaration names its encoding) and
// walks the rows: the first `node` child of the document element and each
// sibling after it. Returns " " + Desc for every row whose Cell equals `key`
// when both are lowered in ASCII (A to Z only, no trimming), in document
// order. Returns the empty text when nothing matches or the text does not
// parse.
std::string DescribeFromCatalogue(const void* text, std::size_t size, std::string_view key);

}  // namespace kestrin
