#include "listing/listing.h"

#include <iterator>
#include <ostream>
#include <utility>

#include "listing/run_end.h"

namespace quorvale {

namespace {

/// Listing text is handed to the stream in blocks of about this size.
constexpr std::size_t kFlushSize = 1 << 16;

/// Prefix of every echoed statement line; levels show 11, 14 or 17 of its characters.
constexpr std::string_view kEchoPrefix = " INPUT ---             ";

}  // namespace

Listing::Listing(Status& status, const Instr& instr, std::ostream& out, std::ostream& err)
    : status_(status), instr_(instr), out_(&out), err_(err) {}

Listing::~Listing() {
  try {
    write_out();
    out_->flush();
  } catch (...) {
    // A stream failing while the run unwinds must not end the program here.
  }
}

void Listing::set_stream(std::ostream& out) {
  // Nothing of the listing has gone to the old stream yet: its state is not the listing's.
  write_out();
  out_->flush();
  out_ = &out;
}

void Listing::write_out() {
  if (!buffer_.empty()) {
    out_->write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }
}

void Listing::check_stream() {
  if (out_->good()) return;
  failed_ = true;
  if (!ending_) throw RunEnd{kErrorEnd, 1};
}

void Listing::flush() {
  write_out();
  out_->flush();
  check_stream();
}

void Listing::maybe_flush() {
  if (buffer_.size() >= kFlushSize) {
    write_out();
    check_stream();
  }
}

std::string& ListingRecord::text() {
  if (ops_.empty() || ops_.back().kind != Kind::Text) ops_.push_back(Op{Kind::Text, 0, {}});
  return ops_.back().text;
}

void ListingRecord::replay(Listing& to) const {
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Kind::Text:
        to.put_text(op.text);
        break;
      case Kind::Reserve:
        to.linchk(op.lines);
        break;
      case Kind::Page:
        to.headng();
        break;
      case Kind::ErrorStream:
        to.err_text(op.text);
        break;
      case Kind::Warning:
        // Placed here, at the statement of the listing it is replayed on.
        to.warn_once(to.placed(op.text));
        break;
      case Kind::Fatal:
        to.error(op.text);
    }
  }
}

void Listing::put(const Layout& layout, std::span<const Item> items) {
  if (record_ != nullptr) {
    layout.write(record_->text(), items);
    return;
  }
  layout.write(buffer_, items);
  maybe_flush();
}

void Listing::put_free(std::span<const Item> items) {
  if (record_ != nullptr) {
    write_free(record_->text(), items);
    return;
  }
  write_free(buffer_, items);
  maybe_flush();
}

void Listing::put_text(std::string_view records) {
  if (record_ != nullptr) {
    record_->text().append(records);
    return;
  }
  buffer_.append(records);
  maybe_flush();
}

void Listing::err_free(std::initializer_list<Item> items) {
  std::string line;
  write_free(line, std::span<const Item>(items.begin(), items.size()));
  err_text(line);
}

void Listing::err_text(std::string_view text) {
  if (record_ != nullptr) {
    record_->ops_.push_back({ListingRecord::Kind::ErrorStream, 0, std::string(text)});
    return;
  }
  err_.write(text.data(), static_cast<std::streamsize>(text.size()));
  err_.flush();
}

void Listing::linchk(int n) {
  if (record_ != nullptr) {
    record_->ops_.push_back({ListingRecord::Kind::Reserve, n, {}});
    return;
  }
  if (n > status_.LINLFT) headng();
  status_.LINLFT -= n;
}

void Listing::headng() {
  static const Layout heading("(/A,A,A/1X,A15,A10,2X,A35,T70,4HPage,I5.3/1X,A)");
  static const Layout rule("(40A)");
  static const Layout gap("(/)");
  if (record_ != nullptr) {
    record_->ops_.push_back({ListingRecord::Kind::Page, 0, {}});
    return;
  }
  status_.LINLFT = status_.LINES - 5;
  ++status_.NPAGE;
  put(heading, {"\f", "Quorvale - Robust Design Survival Rate Estimation", " ", headst.DATE1,
                headst.DATE2, headst.BANNER, status_.NPAGE, headst.TITLE});
  std::vector<Item> dashes(40, Item(" -"));
  put(rule, dashes);
  put(gap, {});
}

void Listing::prtcmd() {
  static const Layout empty_line("(2X)");
  static const Layout piece_line("(3A)");
  if (status_.NOECHO == 1) return;
  if (status_.IEND <= status_.ISTART) return;
  while (status_.ISTART < status_.IEND && instr_.CMD[status_.ISTART] == ' ') ++status_.ISTART;
  if (status_.ISTART >= status_.IEND) return;

  // No level is set only when the very first statement is not a PROC
  // statement; it is echoed like a PROC statement.
  const int level = status_.ECHOLV == EchoLevel::Unset ? 1 : static_cast<int>(status_.ECHOLV);
  if (level == 1) {
    linchk(2);
    put(empty_line, {});
    put(empty_line, {});
  } else if (level == 2) {
    linchk(1);
    put(empty_line, {});
  }
  std::size_t prefix_len = 11 + 3 * static_cast<std::size_t>(level - 1);
  if (prefix_len > kEchoPrefix.size()) prefix_len = kEchoPrefix.size();
  std::string_view prefix = kEchoPrefix.substr(0, prefix_len);

  const int iend = status_.IEND;
  int pos = status_.ISTART;
  for (;;) {
    int f = iend;
    // A comment ends its line unless the statement's ";" follows it at once.
    for (int q = pos; q + 1 <= iend; ++q) {
      if (instr_.CMD[q] == '*' && instr_.CMD[q + 1] == '/') {
        if (!(q + 2 <= iend && instr_.CMD[q + 2] == ';')) f = q + 1;
        break;
      }
    }
    if (f > pos + 59) {
      int cut = 0;
      for (int b = pos + 59; b >= pos + 1; --b) {
        if (instr_.CMD[b] == ' ') {
          cut = b;
          break;
        }
      }
      f = cut != 0 ? cut : pos + 59;
    }
    linchk(1);
    put(piece_line, {" ", prefix, instr_.text(pos, f)});
    if (f >= iend) break;
    pos = f + 1;
  }
}

void Listing::error(std::string_view message) {
  static const Layout to_err("(/1x,a)");
  static const Layout to_listing("(/1X,A)");
  if (record_ != nullptr) {
    record_->ops_.push_back({ListingRecord::Kind::Fatal, 0, std::string(message)});
    throw RunEnd{kErrorEnd, 1};
  }
  ending_ = true;
  prtcmd();
  flush();
  err_text(to_err.format({message}));
  put(to_listing, {message});
  flush();
  ending_ = false;
  throw RunEnd{kErrorEnd, 1, std::string(message)};
}

void Listing::warn(std::string_view message) {
  if (record_ != nullptr) {
    warn(message, {});
    record_->ops_.push_back({ListingRecord::Kind::Warning, 0, std::string(message)});
    return;
  }
  warn(message, placed(message));
}

void Listing::warn(std::string_view message, std::string_view err_line) {
  static const Layout warning("(/1X,A,A)");
  linchk(2);
  put(warning, {"* *  WARNING  * *   ", message});
  warnings_.emplace_back(message);
  if (!err_line.empty()) warn_once(std::string(err_line));
}

std::string Listing::placed(std::string_view message) const {
  const std::string place = where_ ? where_() : std::string();
  return place.empty() ? std::string(message) : place + ": " + std::string(message);
}

void Listing::warn_once(std::string line) {
  // Names padded to their field in the listing end the line without their blanks.
  line.erase(line.find_last_not_of(' ') + 1);
  if (record_ != nullptr) {
    record_->ops_.push_back({ListingRecord::Kind::ErrorStream, 0, line + "\n"});
    return;
  }
  if (!warned_.insert(line).second) return;
  err_text(line + "\n");
}

std::vector<std::string> Listing::take_warnings(std::size_t mark) {
  if (mark >= warnings_.size()) return {};
  std::vector<std::string> taken(std::make_move_iterator(warnings_.begin() + static_cast<std::ptrdiff_t>(mark)),
                                 std::make_move_iterator(warnings_.end()));
  warnings_.resize(mark);
  return taken;
}

void Listing::trace(std::initializer_list<Item> items) {
  if (tracing_) put_free(items);
}

}  // namespace quorvale
