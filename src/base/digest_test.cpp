#include "base/digest.h"

#include <gtest/gtest.h>

namespace quorvale {
namespace {

using namespace std::string_view_literals;

// The published FNV-1a 64 test vectors, and a text with a NUL and a byte
// above 127 (each byte taken unsigned) worked independently.
TEST(Digest, Fnv1a64KnownValues) {
  EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a64("foobar"), 0x85944171f73967e8ULL);
  EXPECT_EQ(fnv1a64("a\0\xe9"sv), 0xe5d2201904259917ULL);
  EXPECT_EQ(text_digest("a"), "fnv1a64:af63dc4c8601ec8c");
}

}  // namespace
}  // namespace quorvale
