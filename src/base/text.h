#pragma once
// Small text helpers shared by the layers.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvale {

/// `s` without its trailing blanks: the names and labels the fixed-width
/// tables pad with blanks, as a person typed them.
inline std::string trimmed(std::string_view s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

/// The length of the well-formed UTF-8 sequence that starts `text` at `at`
/// (1 to 4), or 0 when the byte there starts none: a stray continuation
/// byte, an overlong form, a surrogate, a code point above U+10FFFF or a
/// sequence cut short.
inline std::size_t utf8_sequence(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range the second byte must be in
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(at + k) < 0x80 || byte(at + k) > 0xBF) return 0;
  }
  return length;
}

/// True when `text` is well-formed UTF-8 throughout.
inline bool is_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = utf8_sequence(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

/// Appends `text` as UTF-8: well-formed UTF-8 sequences as they are, every
/// other byte read as ISO-8859-1 and written as the two bytes of its
/// character (a name typed as "p\xe9riode" becomes "p\xc3\xa9riode"). The
/// result files hold what the listing holds as typed, always as valid UTF-8.
inline void append_utf8(std::string& out, std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = utf8_sequence(text, at);
    if (n > 0) {
      out.append(text.data() + at, n);
      at += n;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[at++]);
    out += static_cast<char>(0xC0 | (b >> 6));
    out += static_cast<char>(0x80 | (b & 0x3F));
  }
}

/// `typed` as UTF-8 without a copy when it already is; otherwise converted
/// into `storage`, which the view then refers to.
inline std::string_view utf8_view(std::string_view typed, std::string& storage) {
  if (is_utf8(typed)) return typed;
  storage.clear();
  append_utf8(storage, typed);
  return storage;
}

/// `text` as UTF-8, as append_utf8 writes it.
inline std::string as_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_utf8(out, text);
  return out;
}

}  // namespace quorvale
