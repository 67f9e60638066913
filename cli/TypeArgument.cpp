#include "TypeArgument.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <ostream>

#include "Catalogue.h"
#include "CliArguments.h"
#include "CliCommands.h"
#include "Convert.h"
#include "Guid.h"
#include "PartitionStyle.h"
#include "TypeAliases.h"
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

struct TypeRow {
  const char* style;
  std::string name;
  std::string code;
  std::string description;
};

std::string withoutLeadingBlank(std::string text) { return text.empty() ? text : text.substr(1); }

// The row of a name of `style` whose code text (as TypeNameToCode gives
// it) is `code`; `label` describes a type the catalogue does not know.
TypeRow typeRow(std::uint32_t style, const std::string& name, const std::string& code, std::string_view label) {
  TypeRow row{style == kStyleMbr ? "mbr" : "gpt", name, code, {}};
  if (style == kStyleMbr) {
    const auto type = static_cast<std::uint8_t>(std::stoi(code));
    static constexpr char kHex[] = "0123456789ABCDEF";
    row.code = std::string("0x") + kHex[type >> 4] + kHex[type & 0x0F];
    row.description = withoutLeadingBlank(TypeDescriptionByByte(type));
  } else {
    row.code = GuidToString(StringToGuid(code));
    row.description = withoutLeadingBlank(TypeDescriptionByGuid(row.code));
  }
  if (row.description.empty()) row.description = label;
  return row;
}

std::vector<TypeRow> typeRows(std::uint32_t style) {
  std::vector<TypeRow> rows;
  const TypeNameList names = style == kStyleMbr ? ChangeTypeListMbr() : ChangeTypeListGpt();
  for (const std::string& name : names.items) {
    std::string code;
    TypeNameToCode(style, name, code);
    rows.push_back(typeRow(style, name, code, ""));
  }
  for (const TypeAlias& alias : TypeAliases()) {
    if (std::optional<std::string> code = TypeAliasCode(style, alias.name)) {
      rows.push_back(typeRow(style, std::string(alias.name), *code, alias.label));
    }
  }
  return rows;
}

}  // namespace

std::optional<std::string> TypeArgumentText(std::uint32_t style, const std::string& argument, std::string& error) {
  // The type-change lists hold every name of their style.
  const TypeNameList names = style == kStyleMbr ? ChangeTypeListMbr() : ChangeTypeListGpt();
  for (const std::string& name : names.items) {
    if (sameIgnoringCase(name, argument)) return name;
  }
  if (std::optional<std::string> code = TypeAliasCode(style, argument)) return code;
  if (style == kStyleMbr) {
    std::optional<std::int32_t> code = TryStrToInt(argument);
    if (code && *code >= 0 && *code <= 0xFF) return std::to_string(*code);
    error = "'" + argument +
            "' is no MBR type: give a type byte (0x83, 131), a short name (linux, swap, ...) or one of " +
            joined(names.items) + "; 'kestrin-cli types mbr' lists every name";
    return std::nullopt;
  }
  Guid guid;
  if (style == kStyleGpt && TryGuidWithOrWithoutBraces(argument, guid)) return GuidToString(guid);
  error = "'" + argument +
          "' is no GPT type: give a type GUID, a GPT fdisk code (8300, ef00, ...), a short name (linux, swap, "
          "...) or one of " +
          joined(names.items) + "; 'kestrin-cli types gpt' lists every name";
  return std::nullopt;
}

int ListTypes(const CommandSpec&, const CliRequest& request, CliStreams& io, FailureLog&) {
  std::vector<std::uint32_t> styles{kStyleMbr, kStyleGpt};
  if (!request.positional.empty()) {
    const std::string& wanted = request.positional[0];
    if (sameIgnoringCase(wanted, "mbr")) {
      styles = {kStyleMbr};
    } else if (sameIgnoringCase(wanted, "gpt")) {
      styles = {kStyleGpt};
    } else {
      throw UsageError("the style must be mbr or gpt, not '" + wanted + "'", request.command);
    }
  }
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (std::uint32_t style : styles) {
    for (const TypeRow& row : typeRows(style)) {
      if (request.json) {
        json.push_back(
            {{"style", row.style}, {"name", row.name}, {"code", row.code}, {"description", row.description}});
      } else {
        io.out << row.style << '\t' << row.name << '\t' << row.code << '\t' << row.description << '\n';
      }
    }
  }
  if (request.json) io.out << nlohmann::ordered_json{{"types", std::move(json)}}.dump(2) << '\n';
  return 0;
}

}  // namespace kestrin::cli
