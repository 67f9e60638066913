// UTF-8 to UTF-16 and back, as the Windows port converts paths and message
// texts. Expected values come from the compiler's own string literals, the
// Unicode standard's worked example of ill-formed input, Python's codecs
// (where Python is installed) and, on Windows, the system's converters.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "Utf16.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using kestrin::Utf16ToUtf8;
using kestrin::Utf8ToUtf16;

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text.push_back(static_cast<char>(v));
  return text;
}

std::string fromU8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Every Unicode scalar value (no surrogates), in order, as UTF-16.
std::u16string allScalarValues() {
  std::u16string text;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c < 0x10000) {
      text.push_back(static_cast<char16_t>(c));
    } else {
      text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return text;
}

// Short byte strings rich in lead and continuation bytes, so most are
// ill-formed in some way: truncated, overlong, surrogates, out of range.
std::vector<std::string> randomByteStrings(std::size_t count) {
  std::mt19937 random(20240611);
  const std::vector<int> interesting = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                        0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5,
                                        0xF8, 0xFE, 0xFF};
  std::vector<std::string> strings;
  for (std::size_t i = 0; i < count; ++i) {
    std::string s;
    const std::size_t length = 1 + random() % 8;
    for (std::size_t j = 0; j < length; ++j) {
      s.push_back(static_cast<char>(random() % 3 == 0 ? random() % 256 : interesting[random() % interesting.size()]));
    }
    strings.push_back(s);
  }
  return strings;
}

TEST(Utf16, ConvertsWellFormedTextAsTheCompilerEncodesIt) {
  const std::string utf8 = fromU8(u8"ASCII ~ é ß ߿ ࠀ € 日本語 \uFFFD \uFFFF 😀 \U00010000 \U0010FFFF");
  const std::u16string utf16 = u"ASCII ~ é ß ߿ ࠀ € 日本語 \uFFFD \uFFFF 😀 \U00010000 \U0010FFFF";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf16ToUtf8(u""), "");
}

TEST(Utf16, KeepsANulInsideTheText) {
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(Utf16, ReplacesEachMaximalIllFormedPartOnce) {
  // The worked example of the Unicode standard (chapter 3, U+FFFD
  // substitution of maximal subparts).
  EXPECT_EQ(Utf8ToUtf16(bytes({0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64})),
            u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd");
  // Overlong forms, encoded surrogates and values past U+10FFFF never decode.
  EXPECT_EQ(Utf8ToUtf16(bytes({0xC0, 0xAF})), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(bytes({0xE0, 0x80, 0xAF})), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(bytes({0xED, 0xA0, 0x80})), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(bytes({0xF4, 0x90, 0x80, 0x80})), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(bytes({0xF8, 0x88, 0x80, 0x80, 0x80})), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  // A sequence cut short at the end is one part.
  EXPECT_EQ(Utf8ToUtf16(bytes({0x41, 0xF0, 0x9F, 0x98})), u"A\uFFFD");
  EXPECT_EQ(Utf8ToUtf16(bytes({0xE2, 0x82})), u"\uFFFD");
}

TEST(Utf16, ReplacesUnpairedSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), fromU8(u8"\uFFFD"));
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t{0xDC00}, u'b'}), fromU8(u8"a\uFFFDb"));
  // A low surrogate before a high one is no pair.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t{0xDC00}, char16_t{0xD800}}), fromU8(u8"\uFFFD\uFFFD"));
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', char16_t{0xDBFF}}), fromU8(u8"x\uFFFD"));
}

TEST(Utf16, EveryScalarValueSurvivesTheRoundTrip) {
  const std::u16string all = allScalarValues();
  const std::string utf8 = Utf16ToUtf8(all);
  // 128 one-byte, 1920 two-byte, 61440 three-byte (no surrogates) and
  // 1048576 four-byte sequences.
  EXPECT_EQ(utf8.size(), 128u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
  EXPECT_EQ(Utf8ToUtf16(utf8), all);
}

TEST(Utf16, AgreesWithPythonsCodecs) {
  if (!kestrin::test::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  // Every scalar value, encoded by Python.
  const auto encoded = kestrin::test::Run(
      {"python3", "-c",
       "import sys; sys.stdout.buffer.write(''.join(chr(c) for c in range(0x110000) "
       "if not 0xD800 <= c <= 0xDFFF).encode('utf-8'))"});
  ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
  EXPECT_EQ(Utf16ToUtf8(allScalarValues()), encoded.out);

  // Ill-formed input, decoded by Python with its replacement, which follows
  // the same maximal-part rule. One string a line, in hexadecimal.
  const std::vector<std::string> strings = randomByteStrings(3000);
  std::string input;
  for (const std::string& s : strings) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (char c : s) {
      input += kHex[static_cast<unsigned char>(c) >> 4];
      input += kHex[static_cast<unsigned char>(c) & 0xF];
    }
    input += '\n';
  }
  const auto decoded = kestrin::test::Run(
      {"python3", "-c",
       "import sys\n"
       "for line in sys.stdin:\n"
       "    t = bytes.fromhex(line.strip()).decode('utf-8', 'replace').encode('utf-16-le')\n"
       "    print(t.hex())\n"},
      input);
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  std::size_t line = 0, start = 0;
  int mismatches = 0;
  while (start < decoded.out.size() && line < strings.size()) {
    const std::size_t end = decoded.out.find('\n', start);
    const std::string hex = decoded.out.substr(start, end - start);
    std::u16string expected;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4) {
      const unsigned low = std::stoul(hex.substr(i, 2), nullptr, 16);
      const unsigned high = std::stoul(hex.substr(i + 2, 2), nullptr, 16);
      expected.push_back(static_cast<char16_t>(low | (high << 8)));
    }
    if (Utf8ToUtf16(strings[line]) != expected && ++mismatches <= 5) {
      ADD_FAILURE() << "line " << line << " differs from Python: " << hex;
    }
    ++line;
    start = end + 1;
  }
  EXPECT_EQ(line, strings.size());
  EXPECT_EQ(mismatches, 0);
}

#ifdef _WIN32

std::u16string systemUtf8ToUtf16(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return std::u16string(wide.begin(), wide.end());
}

// Only well-formed text is compared: how the system replaces ill-formed
// input is its own policy (Wine's even drops the character after some
// ill-formed parts), while the Python comparison above checks ours against
// the standard's recommendation.
TEST(Utf16, AgreesWithTheSystemsConvertersOnEveryScalarValue) {
  const std::u16string all = allScalarValues();
  const std::string allUtf8 = Utf16ToUtf8(all);
  EXPECT_EQ(systemUtf8ToUtf16(allUtf8), all);
  EXPECT_EQ(Utf8ToUtf16(allUtf8), all);

  const std::wstring wide(all.begin(), all.end());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
  std::string systemUtf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), systemUtf8.data(), length, nullptr,
                        nullptr);
  EXPECT_EQ(allUtf8, systemUtf8);
}

#endif

}  // namespace
