// The arguments of set-name, resize and set-attribute, checked and turned
// into the answers of the editor commands' prompts.

#include <algorithm>
#include <cctype>

#include "CliArguments.h"
#include "GptAttributeBits.h"
#include "GptOperations.h"
#include "SizeArgument.h"
#include "Utf16.h"

namespace kestrin::cli {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::vector<std::string> NameAnswers(const CliRequest& request) {
  const std::string& name = request.positional.at(2);
  if (std::string refusal = GptNameRefusal(Utf8ToUtf16(name)); !refusal.empty()) {
    throw UsageError(refusal + ": '" + name + "'", request.command);
  }
  return {name};
}

std::vector<std::string> SizeAnswers(const CliRequest& request) {
  const std::string& size = request.positional.at(2);
  if (lowered(size) == "max") return {"max"};
  const std::size_t first = size.find_first_not_of(' ');
  if (first != std::string::npos && size[first] == '-') {
    throw UsageError("the size must not be negative, not '" + size + "'", request.command);
  }
  return {SizeArgumentMib(size, request.command)};
}

std::vector<std::string> AttributeBitAnswers(const CliRequest& request) {
  const std::string& bit = request.positional.at(2);
  const std::string state = lowered(request.positional.at(3));
  std::optional<unsigned> number = GptAttributeBit(bit);
  if (!number) {
    std::string names;
    for (const GptAttributeName& named : GptAttributeNames()) {
      names += ", " + std::string(named.name) + " (" + std::to_string(named.bit) + ")";
    }
    throw UsageError("BIT must be a number from 0 to 63 or a name" + names.replace(0, 1, ":") + "; not '" + bit + "'",
                     request.command);
  }
  if (state != "on" && state != "off") {
    throw UsageError("the state must be on or off, not '" + request.positional.at(3) + "'", request.command);
  }
  return {std::to_string(*number), state};
}

}  // namespace kestrin::cli
