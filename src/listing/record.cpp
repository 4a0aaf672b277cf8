// The record engine of the layout formatter: interprets a parsed layout for
// output records, in-memory writes and record reads, and writes free-form
// records. Applying a layout allocates nothing beyond the growth of the
// output string.

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "listing/layout.h"
#include "listing/layout_internal.h"

namespace quorvale {

namespace {

using namespace layout_impl;

/// The groups an interpreter is inside, with the repeats each has left.
class GroupStack {
 public:
  /// Enters the group whose first node is `begin`, to be run `count` times.
  void enter(int begin, int count) { frames_[depth_++] = Frame{begin, count}; }
  /// At a group's end: back to its start (pc set to it) while repeats are left.
  void end(int& pc) {
    if (--frames_[depth_ - 1].left > 0) {
      pc = frames_[depth_ - 1].begin;
    } else {
      --depth_;
    }
  }
  /// Leaves every group (reversion restarts outside them).
  void clear() { depth_ = 0; }

 private:
  struct Frame {
    int begin;
    int left;
  };
  Frame frames_[kMaxDepth];
  int depth_ = 0;
};

// ---------------------------------------------------------------------------
// Output records

// Builds records at the end of a string. The current record starts at
// `start_`; `pos_` is the 0-based column where the next output goes. Columns
// skipped over become blanks only when something is written beyond them;
// output after a move to the left overwrites what is there.
class RecordSink {
 public:
  explicit RecordSink(std::string& out) : out_(out), start_(out.size()) {}

  void put(const char* s, std::size_t n) {
    const std::size_t at = start_ + pos_;
    if (at > out_.size()) out_.append(at - out_.size(), ' ');
    const std::size_t overlap = std::min(n, out_.size() - at);
    if (overlap > 0) out_.replace(at, overlap, s, overlap);
    if (overlap < n) out_.append(s + overlap, n - overlap);
    pos_ += n;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  void put_blanks(std::size_t n) {
    const std::size_t at = start_ + pos_;
    if (at > out_.size()) out_.append(at - out_.size(), ' ');
    const std::size_t overlap = std::min(n, out_.size() - at);
    if (overlap > 0) out_.replace(at, overlap, overlap, ' ');
    if (overlap < n) out_.append(n - overlap, ' ');
    pos_ += n;
  }
  void skip(int n) { pos_ += static_cast<std::size_t>(n); }
  void tab(int column) { pos_ = static_cast<std::size_t>(column - 1); }
  void end_record() {
    out_.push_back('\n');
    start_ = out_.size();
    pos_ = 0;
    ++records_;
  }
  int records() const { return records_; }

 private:
  std::string& out_;
  std::size_t start_;
  std::size_t pos_ = 0;
  int records_ = 0;
};

const char* kind_name(Item::Kind k) {
  switch (k) {
    case Item::Kind::Integer: return "an integer";
    case Item::Kind::Double: return "a double";
    case Item::Kind::Single: return "a single real";
    case Item::Kind::Text: return "a text";
  }
  return "an item";
}

const char* op_name(Op op) {
  switch (op) {
    case Op::Integer: return "I";
    case Op::Fixed: return "F";
    case Op::Exponent: return "E";
    case Op::General: return "G";
    default: return "A";
  }
}

}  // namespace

// ---------------------------------------------------------------------------

struct LayoutEngine {
  static void mismatch(const Layout& layout, const Node& node, const char* what) {
    throw InternalError(std::string("layout \"") + layout.text_ + "\": " + what +
                        " item for descriptor " + op_name(node.op));
  }

  static void edit(const Layout& layout, const Node& node, const Item& item, RecordSink& sink) {
    if (node.op == Op::Text) {
      if (item.kind() != Item::Kind::Text) mismatch(layout, node, kind_name(item.kind()));
      const std::string_view t = item.text();
      const std::size_t w = node.width == 0 ? t.size() : static_cast<std::size_t>(node.width);
      if (t.size() >= w) {
        sink.put(t.data(), w);
      } else {
        sink.put_blanks(w - t.size());
        sink.put(t);
      }
      return;
    }
    char field[kMaxNumericWidth];
    const int w = node.width;
    if (node.op == Op::Integer) {
      if (item.kind() != Item::Kind::Integer) mismatch(layout, node, kind_name(item.kind()));
      edit_integer(field, w, node.digits, item.integer());
    } else {
      if (item.kind() != Item::Kind::Double && item.kind() != Item::Kind::Single)
        mismatch(layout, node, kind_name(item.kind()));
      const double x = item.real();
      switch (node.op) {
        case Op::Fixed: edit_fixed(field, w, node.digits, x); break;
        case Op::Exponent: edit_exponent(field, w, node.digits, x); break;
        default: edit_general(field, w, node.digits, x, 4, ExpStyle::Standard); break;
      }
    }
    sink.put(field, static_cast<std::size_t>(w));
  }

  static void run(const Layout& layout, RecordSink& sink, std::span<const Item> items) {
    const std::vector<Node>& nodes = layout.nodes_;
    const int end = static_cast<int>(nodes.size());
    GroupStack groups;
    std::size_t next = 0;
    int pc = 0;
    for (;;) {
      if (pc == end) {
        if (next == items.size()) break;
        if (!layout.reversion_has_data_)
          throw InternalError("layout \"" + layout.text_ + "\": " +
                              std::to_string(items.size() - next) +
                              " items left with no descriptor to take them");
        sink.end_record();
        pc = layout.reversion_;
        groups.clear();
        continue;
      }
      const Node& node = nodes[pc];
      switch (node.op) {
        case Op::Literal: sink.put(node.text); break;
        case Op::Skip: sink.skip(node.width); break;
        case Op::Tab: sink.tab(node.width); break;
        case Op::Slash:
          for (int r = 0; r < node.repeat; ++r) sink.end_record();
          break;
        case Op::Colon:
          if (next == items.size()) goto done;
          break;
        case Op::BlankNull: break;
        case Op::GroupBegin: groups.enter(pc, node.count); break;
        case Op::GroupEnd: groups.end(pc); break;
        default:
          for (int r = 0; r < node.repeat; ++r) {
            if (next == items.size()) goto done;
            edit(layout, node, items[next++], sink);
          }
          break;
      }
      ++pc;
    }
  done:
    sink.end_record();
  }

  static int read(const Layout& layout, std::string_view record, std::span<const Target> targets);
};

void Layout::write(std::string& out, std::span<const Item> items) const {
  const std::size_t mark = out.size();
  try {
    RecordSink sink(out);
    LayoutEngine::run(*this, sink, items);
  } catch (...) {
    out.resize(mark);
    throw;
  }
}

std::string Layout::format(std::span<const Item> items) const {
  std::string out;
  write(out, items);
  return out;
}

std::string Layout::write_internal(std::span<const Item> items, std::size_t length) const {
  std::string out;
  RecordSink sink(out);
  LayoutEngine::run(*this, sink, items);
  if (sink.records() != 1)
    throw InternalError("layout \"" + text_ + "\": an in-memory write needs one record, not " +
                        std::to_string(sink.records()));
  out.pop_back();
  if (out.size() > length)
    throw InternalError("layout \"" + text_ + "\": " + std::to_string(out.size()) +
                        " characters do not fit a text of " + std::to_string(length));
  out.resize(length, ' ');
  return out;
}

// ---------------------------------------------------------------------------
// Free form

void write_free(std::string& out, std::span<const Item> items) {
  out.push_back(' ');
  bool prev_text = false;
  bool first = true;
  for (const Item& item : items) {
    const bool text = item.kind() == Item::Kind::Text;
    if (!first && !(text && prev_text)) out.push_back(' ');
    first = false;
    prev_text = text;
    char field[32];
    switch (item.kind()) {
      case Item::Kind::Text: out.append(item.text()); break;
      case Item::Kind::Integer:
        edit_integer(field, 11, -1, item.integer());  // 11 columns hold any 32-bit value
        out.append(field, 11);
        break;
      case Item::Kind::Double:
        edit_general(field, 25, 17, item.real(), 5, ExpStyle::ThreeDigit);
        out.append(field, 25);
        break;
      case Item::Kind::Single:
        edit_general(field, 15, 8, item.real(), 4, ExpStyle::Standard);
        out.append(field, 15);
        break;
    }
  }
  out.push_back('\n');
}

// ---------------------------------------------------------------------------
// Record reads

int LayoutEngine::read(const Layout& layout, std::string_view record,
                       std::span<const Target> targets) {
  const std::vector<Node>& nodes = layout.nodes_;
  auto fault = [&](const std::string& what) {
    throw InternalError("layout \"" + layout.text_ + "\" (input): " + what);
  };
  GroupStack groups;
  std::size_t next = 0;
  std::size_t pos = 0;
  // The w columns at the position, as far as the record reaches (the rest
  // reads as blanks).
  auto field_at = [&](std::size_t w) {
    const std::size_t at = std::min(pos, record.size());
    pos += w;
    return record.substr(at, std::min(w, record.size() - at));
  };
  const int end = static_cast<int>(nodes.size());
  for (int pc = 0; pc < end; ++pc) {
    const Node& node = nodes[pc];
    switch (node.op) {
      case Op::Literal: fault("a literal cannot be read"); break;
      case Op::Slash: fault("a read takes one record"); break;
      case Op::Skip: pos += static_cast<std::size_t>(node.width); break;
      case Op::Tab: pos = static_cast<std::size_t>(node.width - 1); break;
      case Op::Colon:
        if (next == targets.size()) return 0;
        break;
      case Op::BlankNull: break;
      case Op::GroupBegin: groups.enter(pc, node.count); break;
      case Op::GroupEnd: groups.end(pc); break;
      default:
        for (int r = 0; r < node.repeat; ++r) {
          if (next == targets.size()) return 0;
          const Target& t = targets[next++];
          if (node.op == Op::Text) {
            if (t.kind != Target::Kind::Text) fault("A needs a text variable");
            const std::size_t w = node.width == 0 ? t.length : static_cast<std::size_t>(node.width);
            const std::string_view f = field_at(w);
            t.text->assign(f.substr(0, std::min(f.size(), t.length)));
            t.text->resize(t.length, ' ');
          } else if (node.op == Op::Integer) {
            if (t.kind != Target::Kind::Integer) fault("I needs an integer variable");
            const FieldRead<int> v = parse_integer(field_at(static_cast<std::size_t>(node.width)));
            if (v.status != 0) return v.status;
            *t.integer = v.value;
          } else {
            if (t.kind != Target::Kind::Double) fault("F, E and G need a real variable");
            const FieldRead<double> v =
                parse_real(field_at(static_cast<std::size_t>(node.width)), node.digits);
            if (v.status != 0) return v.status;
            *t.real = v.value;
          }
        }
        break;
    }
  }
  if (next < targets.size()) fault("more variables than fields");
  return 0;
}

int Layout::read(std::string_view record, std::span<const Target> targets) const {
  return LayoutEngine::read(*this, record, targets);
}

}  // namespace quorvale
