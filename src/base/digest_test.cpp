#include "base/digest.h"

#include <gtest/gtest.h>

namespace quorvale {
namespace {

// The published FNV-1a 64 test vectors.
TEST(Digest, Fnv1a64KnownValues) {
  EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(fnv1a64("foobar"), 0x85944171f73967e8ULL);
  EXPECT_EQ(text_digest("a"), "fnv1a64:af63dc4c8601ec8c");
}

// Bytes past a NUL and high bytes count.
TEST(Digest, EveryByteCounts) {
  using namespace std::string_view_literals;
  EXPECT_NE(fnv1a64("a\0b"sv), fnv1a64("a\0c"sv));
  EXPECT_NE(fnv1a64("\xe9"), fnv1a64("\x69"));
}

}  // namespace
}  // namespace quorvale
