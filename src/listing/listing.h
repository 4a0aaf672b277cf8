#pragma once
// The paged listing: line reservation and page headings, the statement echo,
// and the fatal-error and warning routines.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/instr.h"
#include "listing/layout.h"

namespace quorvale {

/// Page-heading texts.
struct HeadSt {
  std::string TITLE = std::string(90, ' ');   ///< run title (PROC TITLE)
  std::string BANNER = std::string(30, ' ');  ///< program name and version
  std::string DATE2 = std::string(10, ' ');   ///< characters 16-25 of the date text
  std::string DATE1 = std::string(15, ' ');   ///< characters 1-15 of the date text
};

class Listing;

/// Listing output kept for replay on another listing: formatted text, line
/// reservations, page starts, error-stream text and a fatal error, in the
/// order they were written. A refit run on a private listing records its
/// output this way, and the run's listing replays it in replicate order, so
/// that page breaks fall where they would have fallen had it been written
/// there directly.
class ListingRecord {
 public:
  /// Writes everything recorded on `to`, in order; a recorded fatal error
  /// ends the run there, as Listing::error does.
  void replay(Listing& to) const;
  /// Forgets everything recorded.
  void clear() { ops_.clear(); }
  bool empty() const { return ops_.empty(); }

 private:
  friend class Listing;
  enum class Kind : std::uint8_t { Text, Reserve, Page, ErrorStream, Warning, Fatal };
  struct Op {
    Kind kind;
    int lines = 0;     ///< Reserve: lines asked for
    std::string text;  ///< Text, ErrorStream, Warning and Fatal: what was written (a warning without its place)
  };
  std::vector<Op> ops_;
  /// The text of the last operation when it is text, else a new one's.
  std::string& text();
};

/// The listing and the error stream of one run.
class Listing {
  friend class ListingRecord;  // a replayed warning is placed and written once here

 public:
  Listing(Status& status, const Instr& instr, std::ostream& out, std::ostream& err);
  ~Listing();
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  /// Sends the listing to `out` from now on.
  void set_stream(std::ostream& out);

  /// Reserves n lines, starting a new page first when fewer are left.
  void linchk(int n);
  /// Starts a new page with the heading.
  void headng();
  /// Echoes the current statement into the listing.
  void prtcmd();
  /// Fatal error: echoes the statement, writes the message to both streams, ends the run.
  [[noreturn]] void error(std::string_view message);
  /// Writes a marked warning line and returns; the text is kept in
  /// warnings(). The error stream gets it too, as "FILE:LINE: message" at
  /// the place set_where() gives, once for each place and text: a warning
  /// repeated at one statement (a refit for every replicate) is not.
  void warn(std::string_view message);
  /// A warning whose line on the error stream is `err_line` as it stands
  /// (its place included, no newline), once like the others.
  void warn(std::string_view message, std::string_view err_line);
  /// Where the warnings of the run are placed ("FILE:LINE", or empty before
  /// the first statement): the command reader tells. Unset, they have no place.
  void set_where(std::function<std::string()> where) { where_ = std::move(where); }
  /// Number of warnings written and not yet taken.
  std::size_t warning_count() const { return warnings_.size(); }
  /// Takes the warnings written since the count was `mark`, in order.
  std::vector<std::string> take_warnings(std::size_t mark);
  /// Writes one free-form trace line of the likelihood, unless tracing is off.
  void trace(std::initializer_list<Item> items);
  /// Switches the trace lines on or off (on by default).
  void set_tracing(bool on) { tracing_ = on; }
  /// Whether trace lines are written.
  bool tracing() const { return tracing_; }
  /// From now on, output, line reservations, page starts and a fatal error
  /// go to `record` instead (nullptr: written again). Warnings are still
  /// kept here for take_warnings.
  void record_into(ListingRecord* record) { record_ = record; }

  /// Writes the records of one output statement with `layout`.
  void put(const Layout& layout, std::span<const Item> items);
  void put(const Layout& layout, std::initializer_list<Item> items) {
    put(layout, std::span<const Item>(items.begin(), items.size()));
  }
  /// Writes one free-form record.
  void put_free(std::span<const Item> items);
  void put_free(std::initializer_list<Item> items) {
    put_free(std::span<const Item>(items.begin(), items.size()));
  }
  /// Writes records already formatted (each ended by '\n').
  void put_text(std::string_view records);
  /// Writes one free-form record to the error stream.
  void err_free(std::initializer_list<Item> items);
  /// Writes text to the error stream as it stands.
  void err_text(std::string_view text);
  /// Records whether the error stream is a terminal (the driver decides);
  /// lines meant only for a person watching, such as progress, go there only then.
  void set_err_terminal(bool terminal) { err_terminal_ = terminal; }
  /// Whether the error stream is a terminal; false unless set.
  bool err_terminal() const { return err_terminal_; }
  /// Pushes buffered listing text out to its stream. A stream that can no
  /// longer be written ends the run (RunEnd, error end); failed() tells why.
  void flush();
  /// Whether a write of the listing to its stream has failed.
  bool failed() const { return failed_; }

  HeadSt headst;

 private:
  Status& status_;
  const Instr& instr_;
  std::ostream* out_;
  std::ostream& err_;
  bool err_terminal_ = false;
  std::string buffer_;  ///< listing text not yet handed to the stream
  std::vector<std::string> warnings_;  ///< texts of the warnings written
  std::function<std::string()> where_;  ///< the place of a warning on the error stream
  std::set<std::string> warned_;       ///< warning lines written to the error stream
  /// Writes a warning line to the error stream unless it was written before.
  void warn_once(std::string line);
  /// The warning `message` with the place where_ gives.
  std::string placed(std::string_view message) const;
  bool tracing_ = true;                ///< trace lines are written
  ListingRecord* record_ = nullptr;    ///< where output goes instead, when set
  bool failed_ = false;                ///< a write to the stream failed
  bool ending_ = false;                ///< error() is writing its message: a failed write does not end the run there
  void maybe_flush();
  /// Hands the buffered text to the stream.
  void write_out();
  /// Marks a stream that failed; ends the run unless error() is at work.
  void check_stream();
};

}  // namespace quorvale
