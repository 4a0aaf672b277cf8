#include "base/text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>

namespace quorvale {
namespace {

TEST(Utf8, Iso8859BytesBecomeTheirCharacters) {
  // é is U+00E9, written C3 A9 in UTF-8; the no-break space U+00A0 is C2 A0; ÿ U+00FF is C3 BF.
  EXPECT_EQ(as_utf8("p\xe9riode"), "p\xc3\xa9riode");
  EXPECT_EQ(as_utf8("\x80\xa0\xff"), "\xc2\x80\xc2\xa0\xc3\xbf");
  // A lead byte cut short at the end, or followed by no continuation byte.
  EXPECT_EQ(as_utf8("ann\xc3"), "ann\xc3\x83");
  EXPECT_EQ(as_utf8("\xc3" "a"), "\xc3\x83" "a");
}

TEST(Utf8, WellFormedTextPassesUnchanged) {
  for (const char* text : {"", "plain ASCII, \"quoted\" & <marked>", "p\xc3\xa9riode", "\xe2\x82\xac 12",
                           "\xf0\x9d\x84\x9e", "\xf4\x8f\xbf\xbf", "\xed\x9f\xbf", "\xee\x80\x80"}) {
    EXPECT_TRUE(is_utf8(text)) << text;
    EXPECT_EQ(as_utf8(text), text);
  }
}

TEST(Utf8, IllFormedSequencesAreReadByteByByte) {
  // An overlong "/" (C0 AF), a surrogate (ED A0 80), an overlong three-byte
  // form (E0 9F BF), a code point above U+10FFFF (F4 90 80 80) and stray
  // continuation bytes: none is UTF-8, each byte is a character of its own.
  EXPECT_EQ(as_utf8("\xc0\xaf"), "\xc3\x80\xc2\xaf");
  EXPECT_EQ(as_utf8("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
  EXPECT_EQ(as_utf8("\xe0\x9f\xbf"), "\xc3\xa0\xc2\x9f\xc2\xbf");
  EXPECT_EQ(as_utf8("\xf4\x90\x80\x80"), "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80");
  EXPECT_EQ(as_utf8("\xbf\x80"), "\xc2\xbf\xc2\x80");
}

TEST(Utf8, AgreesWithTheJsonLibrary) {
  // What is_utf8 accepts is what the JSON library serialises; what it
  // converts, the library serialises too, and a second conversion keeps it.
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> high(0x80, 0xff);
  for (int trial = 0; trial < 20000; ++trial) {
    std::string s;
    const int n = length(rng);
    for (int k = 0; k < n; ++k) s += static_cast<char>(trial % 2 == 0 ? byte(rng) : high(rng));
    bool library_accepts = true;
    try {
      (void)nlohmann::json(s).dump();
    } catch (const nlohmann::json::exception&) {
      library_accepts = false;
    }
    ASSERT_EQ(is_utf8(s), library_accepts) << testing::PrintToString(s);
    const std::string converted = as_utf8(s);
    ASSERT_NO_THROW((void)nlohmann::json(converted).dump()) << testing::PrintToString(s);
    ASSERT_EQ(as_utf8(converted), converted);
    if (library_accepts) {
      ASSERT_EQ(converted, s);
    }
  }
}

}  // namespace
}  // namespace quorvale
