#include "input/reader.h"

#include <algorithm>
#include <climits>
#include <ios>
#include <istream>
#include <utility>

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
/// Characters of ignored text quoted in its warning.
constexpr std::size_t kQuoteWidth = 40;

/// True for the characters that end a word.
bool is_delimiter(char c) {
  return c == ':' || c == ';' || c == '=' || c == ' ' || c == '<' || c == '>';
}

/// True for the characters that count as blanks in an input line.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

Piece next_piece(const Instr& instr, int pos, int end) {
  const auto& cmd = instr.CMD;
  while (pos <= end && cmd[pos] == ' ') ++pos;
  if (pos > end) return {Piece::kEnd, pos, pos};
  if (cmd[pos] == '/' && pos + 1 <= end && cmd[pos + 1] == '*') {
    for (int q = pos; q + 1 <= end; ++q) {
      if (cmd[q] == '*' && cmd[q + 1] == '/') return {Piece::kComment, pos, q + 1};
    }
    return {Piece::kOpenComment, pos, end};
  }
  int d = pos;
  while (d <= end && !is_delimiter(cmd[d])) ++d;
  if (d == pos) return {Piece::kWord, pos, pos};  // one of ":=<>"
  return {Piece::kWord, pos, std::min(d - 1, pos + TOKLEN - 1)};
}

Reader::Reader(Status& status, Instr& instr, Listing& listing, std::istream& in)
    : status_(status), instr_(instr), listing_(listing), in_(&in) {}

void Reader::set_source(std::string name, std::optional<FileId> id, int lines_before) {
  source_ = std::move(name);
  source_id_ = id;
  lines_read_ = lines_before;
}

bool Reader::read_line80(std::string& line) {
  line.assign(kLineWidth, ' ');
  std::istream& in = *in_;
  std::streambuf* sb = in.rdbuf();
  if (sb == nullptr) return false;
  if (in.bad()) fail_read();
  if (!in.good()) return false;
  int n = 0;
  bool any = false;
  std::string ignored;  // text after column 80, from its first non-blank on
  bool more = false;    // more of it than is quoted
  auto take = [&](char c) {
    if (n < kLineWidth) {
      line[static_cast<std::size_t>(n)] = c;
    } else if (!is_space(c) || !ignored.empty()) {
      if (ignored.size() < kQuoteWidth) {
        ignored += is_space(c) ? ' ' : c;
      } else if (!is_space(c)) {
        more = true;
      }
    }
    ++n;
  };
  try {
    if (at_start_) {
      at_start_ = false;
      // A UTF-8 byte-order mark before the first line is no part of it; the
      // bytes of an incomplete one are text.
      static constexpr int kMark[] = {0xEF, 0xBB, 0xBF};
      int k = 0;
      while (k < 3 && sb->sgetc() == kMark[k]) {
        sb->sbumpc();
        ++k;
      }
      if (k < 3) {
        for (int i = 0; i < k; ++i) take(static_cast<char>(kMark[i]));
        any = k > 0;
      }
    }
    for (;;) {
      int ch = sb->sbumpc();
      if (ch == std::char_traits<char>::eof()) {
        in.setstate(std::ios::eofbit);
        if (!any) return false;
        break;
      }
      any = true;
      if (ch == '\n') break;
      take(static_cast<char>(ch));
    }
  } catch (const std::ios_base::failure&) {
    fail_read();
  }
  ++lines_read_;
  // A line ended by CR LF reads as the same line without the CR.
  if (n >= 1 && n <= kLineWidth && line[static_cast<std::size_t>(n - 1)] == '\r') {
    line[static_cast<std::size_t>(n - 1)] = ' ';
  }
  while (!ignored.empty() && ignored.back() == ' ') ignored.pop_back();
  if (!ignored.empty()) ignored_.push_back({lines_read_, more ? ignored + " ..." : ignored});
  return true;
}

void Reader::fail_read() {
  error_line_ = lines_read_ + 1;
  status_.ISTART = status_.IEND;  // the statement before has been echoed already
  listing_.error("Could not read file " + source_ + " for input.");
}

int Reader::line_of(int p) const {
  int line = 0;
  for (const LineStart& start : starts_) {
    if (start.pos > p) break;
    line = start.line;
  }
  return line;
}

void Reader::erase(int a, int b) {
  Status& s = status_;
  auto& cmd = instr_.CMD;
  const int n = b - a + 1;
  std::copy(cmd.begin() + b + 1, cmd.begin() + s.LAST + 1, cmd.begin() + a);
  std::fill(cmd.begin() + s.LAST - n + 1, cmd.begin() + s.LAST + 1, ' ');
  s.LAST -= n;
  for (LineStart& start : starts_) {
    if (start.pos > b) {
      start.pos -= n;
    } else if (start.pos >= a) {
      start.pos = a;
    }
  }
  // Of the lines that now start at one position the last is the one that holds it.
  std::vector<LineStart> kept;
  for (std::size_t i = 0; i < starts_.size(); ++i) {
    if (i + 1 < starts_.size() && starts_[i + 1].pos == starts_[i].pos) continue;
    kept.push_back(starts_[i]);
  }
  starts_ = std::move(kept);
}

void Reader::drop_comment(int a, int b) {
  instr_.CMD[static_cast<std::size_t>(a)] = ' ';
  erase(a + 1, b);
}

void Reader::fillsg() {
  Status& s = status_;
  auto& cmd = instr_.CMD;
  if (s.IPOS == 1 && s.LAST > kRefillLimit) return;
  if (s.IPOS > 1) {
    const int shift = s.IPOS - 1;
    int moved = 0;
    if (s.IPOS <= s.LAST) {
      moved = s.LAST - s.IPOS + 1;
      std::copy(cmd.begin() + s.IPOS, cmd.begin() + s.LAST + 1, cmd.begin() + 1);
    }
    s.LAST = moved;
    s.IPOS = 1;
    // The line that holds the new position 1 stays, with those after it.
    std::size_t first = 0;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
      starts_[i].pos -= shift;
      if (starts_[i].pos <= 1) first = i;
    }
    starts_.erase(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(first));
    if (!starts_.empty() && starts_.front().pos < 1) starts_.front().pos = 1;
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
    if (!starts_.empty() && starts_.back().pos == s.LAST + 1) starts_.pop_back();
    starts_.push_back({s.LAST + 1, lines_read_});
    std::fill(cmd.begin() + s.LAST + 1, cmd.begin() + s.LAST + 1 + kLineWidth, ' ');
    std::copy(line.begin() + static_cast<std::ptrdiff_t>(from), line.end(),
              cmd.begin() + s.LAST + 1);
    s.LAST = nonblk(instr_.text(1, s.LAST + kLineWidth), s.LAST + kLineWidth);
    if (s.LAST > kFullMark) return;
  }
}

Reader::Pending Reader::scan_pending() const {
  Pending p;
  int pos = status_.IPOS;
  for (;;) {
    const Piece piece = next_piece(instr_, pos, status_.LAST);
    if (piece.kind == Piece::kEnd) break;
    if (piece.kind == Piece::kOpenComment) {
      p.open_comment = piece.from;
      break;
    }
    if (piece.kind == Piece::kComment) {
      if (p.comment_to == 0) {
        p.comment_from = piece.from;
        p.comment_to = piece.to;
      }
    } else if (p.text == 0) {
      p.text = piece.from;
    }
    pos = piece.to + 1;
  }
  return p;
}

bool Reader::no_semicolon() {
  Status& s = status_;
  auto& cmd = instr_.CMD;
  const Pending p = scan_pending();
  if (p.comment_to != 0) {
    // A comment is no part of any statement: whatever its length, dropping
    // it (a blank stays in its place) makes room.
    drop_comment(p.comment_from, p.comment_to);
    return true;
  }
  const int u = p.open_comment;
  if (u != 0 && s.EOFFLG == 0) {
    // Of a comment still open only "/*", a blank and a last "*" (which the
    // next line may close) are kept. The blank keeps a "/" that follows
    // from closing it as "/*/".
    const bool star = cmd[s.LAST] == '*';
    const int last_kept = u + (star ? 3 : 2);
    if (s.LAST > last_kept) {
      cmd[u + 2] = ' ';
      if (star) cmd[u + 3] = '*';
      erase(last_kept + 1, s.LAST);
      cut_comment_ = u;
      return true;
    }
  }
  if (s.EOFFLG == 1 && p.text == 0 && u == 0) return false;

  const int first = (p.text != 0 && (u == 0 || p.text < u)) ? p.text : u;
  if (s.EOFFLG == 0) {
    error_line_ = line_of(first);
    listing_.error("Length of command exceeded MAXCHR characters.");
  }
  // The input has ended inside a statement: its text is echoed as it stands.
  s.ISTART = first;
  s.IEND = s.LAST;
  if (u != 0) {
    error_line_ = line_of(u);
    listing_.error("No closing comment string (*/).");
  }
  error_line_ = line_of(first);
  listing_.error("No closing semicolon (;) for the statement starting at line " + std::to_string(error_line_) + ".");
}

void Reader::supply_stop() {
  report_ignored(INT_MAX);
  current_proc_ = true;
  begun_ = false;
  instr_.TOKEN[1].assign("PROC");
  instr_.TOKEN[2].assign("STOP");
}

void Reader::report_ignored(int line) {
  auto it = ignored_.begin();
  for (; it != ignored_.end() && it->line <= line; ++it) {
    const std::string number = std::to_string(it->line);
    listing_.warn("Text after column 80 of line " + number + " ignored: " + it->text,
                  source_ + ":" + number + ": Text after column 80 ignored: " + it->text);
  }
  ignored_.erase(ignored_.begin(), it);
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
      supply_stop();
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
  while (semi == 0) {
    if (s.EOFFLG == 0 && (s.IPOS > 1 || s.LAST <= kFullMark)) {
      fillsg();
    } else if (!no_semicolon()) {
      // Only blanks and comments were left: the input has ended.
      s.IPOS = s.LAST + 1;
      supply_stop();
      return;
    }
    semi = find_semicolon();
  }
  if (cut_comment_ != 0) {
    // The rest of a comment whose middle was dropped goes too: it is not echoed in part.
    const Piece piece = next_piece(instr_, cut_comment_, semi - 1);
    if (piece.kind == Piece::kComment) {
      drop_comment(piece.from, piece.to);
      semi = find_semicolon();
    }
    cut_comment_ = 0;
  }
  s.IEND = semi;
  s.ISTART = s.IPOS;
  error_line_ = 0;
  // The statement is placed at its first word; comments before it do not count.
  int first = s.IEND;
  for (int pos = s.ISTART;;) {
    const Piece piece = next_piece(instr_, pos, s.IEND - 1);
    if (piece.kind != Piece::kComment) {
      if (piece.kind != Piece::kEnd) first = piece.from;
      break;
    }
    pos = piece.to + 1;
  }
  statement_line_ = line_of(first);
  report_ignored(line_of(s.IEND));

  int ntok = 0;
  int pos = s.IPOS;
  while (ntok < MAXTOK) {
    const Piece piece = next_piece(instr_, pos, s.IEND - 1);
    if (piece.kind == Piece::kEnd) break;
    if (piece.kind == Piece::kOpenComment) listing_.error("No closing comment string (*/).");
    pos = piece.to + 1;
    if (piece.kind == Piece::kComment) continue;
    Token& token = instr_.TOKEN[static_cast<std::size_t>(++ntok)];
    instr_.TOKPOS[static_cast<std::size_t>(ntok)] = piece.from;
    token.assign(instr_.text(piece.from, piece.to));
    for (std::size_t c = 0; c < TOKLEN; ++c) {
      if (token[c] >= 'a' && token[c] <= 'z') token[c] = static_cast<char>(token[c] - 'a' + 'A');
    }
  }
  s.NTOK = ntok;
  s.IPOS = s.IEND + 1;
  current_proc_ = instr_.TOKEN[1] == "PROC";
  begun_ = false;
}

std::string Reader::option_word(std::string_view key) {
  int found = 0;
  for (int i = 1; i + 2 <= status_.NTOK; ++i) {
    if (instr_.token(i) == key && instr_.token(i + 1) == "=") found = i + 2;
  }
  if (found == 0) {
    const std::string k(key);
    listing_.error("Option " + k + " needs a value (" + k + " = value).");
  }
  return std::string(instr_.raw_word(found));
}

void Reader::refuse_overwrite(const std::string& name, std::string_view what) {
  const std::optional<FileId> id = file_id(name);
  if (!id) return;
  const char* role = nullptr;
  if (id == source_id_) {
    role = "the command file";
  } else if (id == listing_id_) {
    role = "the listing file";
  } else {
    return;
  }
  listing_.error(std::string(what) + " " + name + " is " + role + "; it is not overwritten.");
}

void Reader::warn_ignored(const std::string& message) {
  // The statement is shown first, then what of it was ignored.
  listing_.prtcmd();
  status_.ISTART = status_.IEND;
  const std::string place = where();
  listing_.warn(message, place.empty() ? message : place + ": " + message);
}

void Reader::warn_left_over(int used, std::string_view statement) {
  if (status_.NTOK <= used) return;
  std::string words;
  for (int i = used + 1; i <= status_.NTOK; ++i) {
    // Tokens cut from one long word share its text: show each word once.
    if (i > used + 1 && instr_.TOKPOS[i] < instr_.TOKPOS[i - 1] + static_cast<int>(instr_.raw_word(i - 1).size())) {
      continue;
    }
    if (!words.empty()) words += ' ';
    words += instr_.raw_word(i);
  }
  warn_ignored("Words after a complete " + std::string(statement) + " statement ignored: " + words);
}

void Reader::refuse_statement_words(std::span<const std::string_view> words) {
  for (int i = 3; i <= status_.NTOK; ++i) {
    // A later piece of a word cut into tokens is no word of its own.
    const int at = instr_.TOKPOS[i];
    if (instr_.TOKPOS[i - 1] + TOKLEN == at && instr_.token(i - 1).trimmed().size() == TOKLEN) continue;
    for (std::string_view w : words) {
      if (!(instr_.token(i) == w)) continue;
      std::string procedure = "PROC " + std::string(instr_.raw_word(2));
      cvtcas(procedure, static_cast<int>(procedure.size()));
      listing_.error("Missing \";\" before " + std::string(instr_.raw_word(i).substr(0, w.size())) + " at line " +
                     std::to_string(line_of(at)) + ": the " + procedure +
                     " statement would take it and the words after it as its own.");
    }
  }
}

void Reader::warn_unknown_options(const OptionScan& scan, std::string_view procedure) {
  if (scan.unknown.empty()) return;
  std::string words;
  for (const std::string& w : scan.unknown) {
    if (!words.empty()) words += ", ";
    words += w;
  }
  warn_ignored("Options not known to " + std::string(procedure) + " ignored: " + words);
}

std::string Reader::warning_place() const {
  if (error_line_ == 0 && current_proc_ && !begun_ && procedure_line_ != 0) {
    return source_ + ":" + std::to_string(procedure_line_);
  }
  return where();
}

std::string Reader::where() const {
  const int line = error_line_ != 0 ? error_line_ : statement_line_;
  if (line == 0) return {};
  return source_ + ":" + std::to_string(line);
}

}  // namespace quorvale
