#include "TypeArgument.h"

#include <algorithm>
#include <cctype>

#include "Convert.h"
#include "Guid.h"
#include "PartitionStyle.h"
#include "TypeNames.h"

namespace kestrin::cli {

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::toupper(x) == std::toupper(y);
         });
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::optional<std::string> TypeArgumentText(std::uint32_t style, const std::string& argument, std::string& error) {
  // The type-change lists hold every name of their style.
  const TypeNameList names = style == kStyleMbr ? ChangeTypeListMbr() : ChangeTypeListGpt();
  for (const std::string& name : names.items) {
    if (sameIgnoringCase(name, argument)) return name;
  }
  if (style == kStyleMbr) {
    std::optional<std::int32_t> code = TryStrToInt(argument);
    if (code && *code >= 0 && *code <= 0xFF) return std::to_string(*code);
    error = "'" + argument + "' is no MBR type: give a type byte (0x83, 131) or one of " + joined(names.items);
    return std::nullopt;
  }
  Guid guid;
  if (style == kStyleGpt && TryStringToGuid(argument, guid)) return GuidToString(guid);
  error = "'" + argument + "' is no GPT type: give a type GUID in braces or one of " + joined(names.items);
  return std::nullopt;
}

}  // namespace kestrin::cli
