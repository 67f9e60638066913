#include "SizeArgument.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "CliArguments.h"
#include "Convert.h"

namespace kestrin::cli {

namespace {

constexpr std::uint64_t kMib = 1024 * 1024;
constexpr std::uint64_t kMaxBytes = static_cast<std::uint64_t>(INT64_MAX);

// The multiplier of a unit ("K", "mib", ...), or 0 when the text is no unit.
std::uint64_t unitFactor(std::string unit) {
  std::transform(unit.begin(), unit.end(), unit.begin(), [](unsigned char c) { return std::toupper(c); });
  if (unit.size() == 3 && unit.compare(1, 2, "IB") == 0) unit.resize(1);
  if (unit == "K") return 1ull << 10;
  if (unit == "M") return 1ull << 20;
  if (unit == "G") return 1ull << 30;
  if (unit == "T") return 1ull << 40;
  return 0;
}

// Bytes of "<digits><unit>", nullopt when the text has no unit; throws
// UsageError for digits with an unknown unit or a value past 63 bits.
std::optional<std::uint64_t> bytesWithUnit(const std::string& text, const char* what, const CommandSpec* command) {
  // A number as the window reads it ("0x10", "$10", "16") has no unit.
  if (TryStrToInt64(text)) return std::nullopt;
  const std::size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string::npos) return std::nullopt;
  const std::uint64_t factor = unitFactor(text.substr(digits));
  if (factor == 0) {
    throw UsageError(std::string(what) + " '" + text + "' has an unknown unit: use K, M, G, T, KiB, MiB, GiB or TiB",
                     command);
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
    if (value > (kMaxBytes - digit) / 10) throw UsageError(std::string(what) + " '" + text + "' is too large", command);
    value = value * 10 + digit;
  }
  if (value > kMaxBytes / factor) throw UsageError(std::string(what) + " '" + text + "' is too large", command);
  return value * factor;
}

}  // namespace

std::string SizeArgumentMib(const std::string& text, const CommandSpec* command) {
  std::optional<std::uint64_t> bytes = bytesWithUnit(text, "the size", command);
  if (!bytes) return text;
  if (*bytes % kMib != 0) {
    throw UsageError("the size '" + text + "' is not a whole number of MiB (" + std::to_string(*bytes) + " bytes)",
                     command);
  }
  return std::to_string(*bytes / kMib);
}

std::string OffsetArgumentBytes(const std::string& text, std::uint32_t sectorSize, const CommandSpec* command) {
  std::optional<std::uint64_t> bytes = bytesWithUnit(text, "the offset", command);
  std::optional<std::int64_t> value;
  if (bytes) {
    value = static_cast<std::int64_t>(*bytes);
  } else {
    value = TryStrToInt64(text);
  }
  if (!value) return text;
  if (*value % static_cast<std::int64_t>(sectorSize) != 0) {
    throw UsageError(
        "the offset '" + text + "' is not a whole number of " + std::to_string(sectorSize) + "-byte sectors", command);
  }
  return std::to_string(*value);
}

}  // namespace kestrin::cli
