#pragma once
// Field value parsers (tokens to numbers and parameter numbers) and the
// small string helpers used by the reader and the procedures.

#include <string>
#include <string_view>

namespace quorvale {

class Listing;

/// Integer value of a 10-character field; a malformed field is a fatal error.
int ivalue(std::string_view field, Listing& listing);
/// Real value of a 10-character field; a malformed field is a fatal error.
double value(std::string_view field, Listing& listing);
/// Parameter number written between the parentheses of an S(I) reference.
int nparm(std::string_view text, Listing& listing);
/// Number of (possibly overlapping) occurrences of `pattern` in `text`.
int count(std::string_view text, std::string_view pattern);

/// First position (1-based) of `text` whose character is not in `set`; 0 if none.
int verify(std::string_view text, std::string_view set);
/// First position (1-based) of `text` whose character is in `set`; 0 if none.
int mindex(std::string_view text, std::string_view set);
/// Position of the last non-blank among the first `n` characters; 0 if none.
int nonblk(std::string_view text, int n);
/// Folds the letters a-z among the first `n` characters to upper case.
void cvtcas(std::string& text, int n);

/// `text` cut or blank-padded to exactly `width` characters.
std::string pad(std::string_view text, std::size_t width);
/// `text` blank-padded to at least `width` characters, never cut.
inline std::string pad_min(std::string_view text, std::size_t width) {
  return pad(text, text.size() > width ? text.size() : width);
}

}  // namespace quorvale
