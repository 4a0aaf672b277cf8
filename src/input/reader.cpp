#include "input/reader.h"

#include <algorithm>
#include <istream>

#include "input/fields.h"

namespace quorvale {

namespace {

/// Columns of one input line that are read.
constexpr int kLineWidth = 80;
/// The buffer is not refilled while fewer than 80 places are free.
constexpr int kRefillLimit = MAXCHR - kLineWidth;  // 1240
/// Lines are read until the buffer holds more than this many characters.
constexpr int kFullMark = kRefillLimit - 3;  // 1237
/// Past this position the buffer is compacted before the next statement.
constexpr int kCompactMark = MAXCHR / 2;  // 660

/// True for the characters that end a word.
bool is_delimiter(char c) {
  return c == ':' || c == ';' || c == '=' || c == ' ' || c == '<' || c == '>';
}

}  // namespace

Reader::Reader(Status& status, Instr& instr, Listing& listing, std::istream& in)
    : status_(status), instr_(instr), listing_(listing), in_(&in) {}

bool Reader::read_line80(std::string& line) {
  line.assign(kLineWidth, ' ');
  std::istream& in = *in_;
  std::streambuf* sb = in.rdbuf();
  if (sb == nullptr || !in.good()) return false;
  int n = 0;
  bool any = false;
  for (;;) {
    int ch = sb->sbumpc();
    if (ch == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      if (!any) return false;
      break;
    }
    any = true;
    if (ch == '\n') break;
    if (n < kLineWidth) line[static_cast<std::size_t>(n)] = static_cast<char>(ch);
    ++n;
  }
  // A line ended by CR LF reads as the same line without the CR.
  if (n >= 1 && n <= kLineWidth && line[static_cast<std::size_t>(n - 1)] == '\r') {
    line[static_cast<std::size_t>(n - 1)] = ' ';
  }
  return true;
}

void Reader::fillsg() {
  Status& s = status_;
  auto& cmd = instr_.CMD;
  if (s.IPOS == 1 && s.LAST > kRefillLimit) return;
  if (s.IPOS > 1) {
    int moved = 0;
    if (s.IPOS <= s.LAST) {
      moved = s.LAST - s.IPOS + 1;
      std::copy(cmd.begin() + s.IPOS, cmd.begin() + s.LAST + 1, cmd.begin() + 1);
    }
    s.LAST = moved;
    s.IPOS = 1;
  }
  std::fill(cmd.begin() + s.LAST + 1, cmd.end(), ' ');
  if (s.EOFFLG == 1) return;
  if (s.LAST > kRefillLimit) return;

  std::string line;
  for (;;) {
    if (!read_line80(line)) {
      s.EOFFLG = 1;
      return;
    }
    std::replace(line.begin(), line.end(), '\t', ' ');
    std::size_t k = line.find_first_not_of(' ');
    // Exactly one leading blank is kept, so that an indented line stays
    // separated from the previous one.
    std::size_t from = (k == std::string::npos || k == 0) ? 0 : k - 1;
    std::fill(cmd.begin() + s.LAST + 1, cmd.begin() + s.LAST + 1 + kLineWidth, ' ');
    std::copy(line.begin() + static_cast<std::ptrdiff_t>(from), line.end(),
              cmd.begin() + s.LAST + 1);
    s.LAST = nonblk(instr_.text(1, s.LAST + kLineWidth), s.LAST + kLineWidth);
    if (s.LAST > kFullMark) return;
  }
}

void Reader::getcmd() {
  Status& s = status_;
  const auto& cmd = instr_.CMD;
  listing_.prtcmd();
  for (auto& t : instr_.TOKEN) t.clear();
  instr_.TOKPOS.fill(0);

  if (s.IPOS > s.LAST) {
    if (s.EOFFLG != 1) fillsg();
    if (s.IPOS > s.LAST && s.EOFFLG == 1) {
      instr_.TOKEN[1].assign("PROC");
      instr_.TOKEN[2].assign("STOP");
      return;
    }
  }
  if (s.IPOS > kCompactMark && s.EOFFLG == 0) fillsg();

  auto find_semicolon = [&]() -> int {
    for (int p = s.IPOS; p <= s.LAST; ++p) {
      if (cmd[p] == ';') return p;
    }
    return 0;
  };
  int semi = find_semicolon();
  if (semi == 0) {
    if (s.IPOS > 1 && s.EOFFLG == 0) {
      fillsg();
      semi = find_semicolon();
    }
    if (semi == 0) listing_.error("Length of command exceeded MAXCHR characters.");
  }
  s.IEND = semi;
  s.ISTART = s.IPOS;

  int ntok = 0;
  for (int i = 1;; ++i) {
    while (cmd[s.IPOS] == ' ') ++s.IPOS;  // the ";" at IEND stops the scan
    if (s.IPOS == s.IEND) break;
    if (cmd[s.IPOS] == '/' && cmd[s.IPOS + 1] == '*') {
      int close = 0;
      for (int q = s.IPOS; q + 1 <= s.IEND; ++q) {
        if (cmd[q] == '*' && cmd[q + 1] == '/') {
          close = q;
          break;
        }
      }
      if (close == 0) listing_.error("No closing comment string (*/).");
      s.IPOS = close + 2;
      if (s.IPOS >= s.IEND) break;
      --i;  // the comment produced no token
      continue;
    }
    int d = s.IPOS;
    while (!is_delimiter(cmd[d])) ++d;
    Token& token = instr_.TOKEN[i];
    instr_.TOKPOS[i] = s.IPOS;
    if (d == s.IPOS) {
      token.assign(instr_.text(s.IPOS, s.IPOS));
      ++s.IPOS;
    } else if (d - s.IPOS <= TOKLEN) {
      token.assign(instr_.text(s.IPOS, d - 1));
      s.IPOS = d;
    } else {
      token.assign(instr_.text(s.IPOS, s.IPOS + TOKLEN - 1));
      s.IPOS += TOKLEN;
    }
    for (std::size_t c = 0; c < TOKLEN; ++c) {
      if (token[c] >= 'a' && token[c] <= 'z') token[c] = static_cast<char>(token[c] - 'a' + 'A');
    }
    ntok = i;
    if (s.IPOS == s.IEND) break;
    if (i == MAXTOK) break;
  }
  s.NTOK = ntok;
  s.IPOS = s.IEND + 1;
}

}  // namespace quorvale
