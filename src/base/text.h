#pragma once
// Small text helpers shared by the layers.

#include <string>
#include <string_view>

namespace quorvale {

/// `s` without its trailing blanks: the names and labels the fixed-width
/// tables pad with blanks, as a person typed them.
inline std::string trimmed(std::string_view s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

}  // namespace quorvale
