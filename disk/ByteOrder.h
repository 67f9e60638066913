#pragma once
// Explicit little-endian field access over byte spans. Every access is
// bounds-checked: an offset past the end is a programming error and throws
// std::out_of_range rather than touching memory outside the span.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace kestrin {

namespace detail {
inline void checkRange(std::size_t size, std::size_t offset, std::size_t width) {
  if (offset > size || width > size - offset) {
    throw std::out_of_range("little-endian field outside its buffer");
  }
}

template <typename T>
T readLe(std::span<const std::uint8_t> bytes, std::size_t offset) {
  checkRange(bytes.size(), offset, sizeof(T));
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
  }
  return static_cast<T>(value);
}

template <typename T>
void writeLe(std::span<std::uint8_t> bytes, std::size_t offset, T value) {
  checkRange(bytes.size(), offset, sizeof(T));
  auto raw = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(raw >> (8 * i));
  }
}
}  // namespace detail

inline std::uint8_t readU8(std::span<const std::uint8_t> b, std::size_t o) { return detail::readLe<std::uint8_t>(b, o); }
inline std::uint16_t readLe16(std::span<const std::uint8_t> b, std::size_t o) { return detail::readLe<std::uint16_t>(b, o); }
inline std::uint32_t readLe32(std::span<const std::uint8_t> b, std::size_t o) { return detail::readLe<std::uint32_t>(b, o); }
inline std::uint64_t readLe64(std::span<const std::uint8_t> b, std::size_t o) { return detail::readLe<std::uint64_t>(b, o); }
inline std::int64_t readLeI64(std::span<const std::uint8_t> b, std::size_t o) { return static_cast<std::int64_t>(readLe64(b, o)); }

inline void writeU8(std::span<std::uint8_t> b, std::size_t o, std::uint8_t v) { detail::writeLe(b, o, v); }
inline void writeLe16(std::span<std::uint8_t> b, std::size_t o, std::uint16_t v) { detail::writeLe(b, o, v); }
inline void writeLe32(std::span<std::uint8_t> b, std::size_t o, std::uint32_t v) { detail::writeLe(b, o, v); }
inline void writeLe64(std::span<std::uint8_t> b, std::size_t o, std::uint64_t v) { detail::writeLe(b, o, v); }
inline void writeLeI64(std::span<std::uint8_t> b, std::size_t o, std::int64_t v) { writeLe64(b, o, static_cast<std::uint64_t>(v)); }

}  // namespace kestrin
