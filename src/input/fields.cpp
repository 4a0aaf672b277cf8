#include "input/fields.h"

#include <algorithm>
#include <string>

#include "base/instr.h"
#include "listing/layout.h"
#include "listing/listing.h"

namespace quorvale {

namespace {

/// Width of every statement field read by the parsers.
constexpr std::size_t kFieldWidth = 10;

/// Parses an integer written with an optional sign and digits, blanks ignored.
FieldRead<int> read_blank_free_int(std::string_view text) {
  FieldRead<int> result;
  long long v = 0;
  bool negative = false;
  bool sign_seen = false;
  bool digit_seen = false;
  for (char c : text) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign_seen && !digit_seen) {
      sign_seen = true;
      negative = c == '-';
      continue;
    }
    if (c < '0' || c > '9') {
      result.status = 1;
      return result;
    }
    digit_seen = true;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) {
      result.status = 1;
      return result;
    }
  }
  if (sign_seen && !digit_seen) {
    result.status = 1;
    return result;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) {
    result.status = 1;
    return result;
  }
  result.value = static_cast<int>(v);
  return result;
}

}  // namespace

std::string pad(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

int ivalue(std::string_view field, Listing& listing) {
  std::string f = pad(field, kFieldWidth);
  if (f.find_first_not_of(' ') == std::string::npos) return 0;
  FieldRead<int> r = read_bn_i10(f);
  if (r.status != 0) listing.error("Value of integer incorrect -- " + f);
  return r.value;
}

double value(std::string_view field, Listing& listing) {
  std::string f = pad(field, kFieldWidth);
  FieldRead<double> r = read_bn_f10(f);
  if (r.status != 0) listing.error("Incorrect value for number -- " + f);
  return r.value;
}

std::string_view number_word(const Instr& instr, int i) {
  if (i < 1 || i > MAXTOK || instr.TOKPOS[i] < 1) return {};
  int end = instr.TOKPOS[i];
  while (end <= MAXCHR && std::string_view(" ;:=<>").find(instr.CMD[end]) == std::string_view::npos) ++end;
  return instr.text(instr.TOKPOS[i], end - 1);
}

namespace {

/// Ends the run when the number at token i is longer than its field.
void check_width(const Instr& instr, int i, Listing& listing) {
  const std::string_view word = number_word(instr, i);
  if (word.size() > kFieldWidth) {
    listing.error("Number " + std::string(word) + " is longer than its field of " + std::to_string(kFieldWidth) +
                  " characters; it is not read cut.");
  }
}

}  // namespace

int ivalue(const Instr& instr, int i, Listing& listing) {
  check_width(instr, i, listing);
  return ivalue(instr.token(i).view(), listing);
}

double value(const Instr& instr, int i, Listing& listing) {
  check_width(instr, i, listing);
  return value(instr.token(i).view(), listing);
}

int nparm(std::string_view text, Listing& listing) {
  std::size_t open = text.find('(');
  std::size_t close = text.find(')');
  // Positions are 1-based: "(" at 2 or later, at least one character inside.
  if (open != std::string_view::npos && close != std::string_view::npos && open >= 1 &&
      close >= open + 2) {
    FieldRead<int> r = read_blank_free_int(text.substr(open + 1, close - open - 1));
    if (r.status == 0 && r.value != 0) return r.value;
  }
  listing.error("Bad S(I) parameter specification.");
}

int count(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return 0;
  int n = 0;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t at = text.find(pattern, from);
    if (at == std::string_view::npos) break;
    ++n;
    from = at + 1;
  }
  return n;
}

int verify(std::string_view text, std::string_view set) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (set.find(text[i]) == std::string_view::npos) return static_cast<int>(i) + 1;
  }
  return 0;
}

int mindex(std::string_view text, std::string_view set) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (set.find(text[i]) != std::string_view::npos) return static_cast<int>(i) + 1;
  }
  return 0;
}

int nonblk(std::string_view text, int n) {
  int last = std::min(n, static_cast<int>(text.size()));
  for (int i = last; i >= 1; --i) {
    if (text[static_cast<std::size_t>(i - 1)] != ' ') return i;
  }
  return 0;
}

void cvtcas(std::string& text, int n) {
  int last = std::min(n, static_cast<int>(text.size()));
  for (int i = 0; i < last; ++i) {
    char& c = text[static_cast<std::size_t>(i)];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

}  // namespace quorvale
