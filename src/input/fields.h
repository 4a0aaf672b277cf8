#pragma once
// Field value parsers (tokens to numbers and parameter numbers) and the
// small string helpers used by the reader and the procedures.

#include <string>
#include <string_view>

namespace quorvale {

class Listing;
struct Instr;

/// Integer value of a 10-character field; a malformed field is a fatal error.
int ivalue(std::string_view field, Listing& listing);
/// Real value of a 10-character field; a malformed field is a fatal error.
double value(std::string_view field, Listing& listing);
/// The number word of the statement that starts at token i, as typed: up
/// to the next blank or one of ";:=<>". Longer than a token, it was cut.
std::string_view number_word(const Instr& instr, int i);
/// Integer value of token i of the statement. A number written longer than
/// its 10-character field is a fatal error, never read cut.
int ivalue(const Instr& instr, int i, Listing& listing);
/// Real value of token i of the statement, with the same check of its length.
double value(const Instr& instr, int i, Listing& listing);
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
