#pragma once
// A digest of a text: FNV-1a of 64 bits, to tell whether two texts (the
// command files of two runs, say) are the same.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace quorvale {

/// FNV-1a of 64 bits of the bytes of `text`.
inline std::uint64_t fnv1a64(std::string_view text) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

/// The digest of `text` as "fnv1a64:" and 16 hexadecimal digits.
inline std::string text_digest(std::string_view text) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a64(text)));
  return std::string("fnv1a64:") + hex;
}

}  // namespace quorvale
