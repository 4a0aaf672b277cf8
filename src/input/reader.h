#pragma once
// The command reader: joins input lines into the statement buffer, finds the
// next statement and splits it into tokens. It knows where each statement
// came from (file and line) and which files the run must not overwrite.

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/instr.h"
#include "input/files.h"
#include "input/option_words.h"
#include "listing/listing.h"

namespace quorvale {

/// One piece of statement text as the tokenizer walks it.
struct Piece {
  enum Kind { kEnd, kWord, kComment, kOpenComment };
  Kind kind = kEnd;
  int from = 0;  ///< first position in CMD
  int to = 0;    ///< last position: the token's last character, or the "/" of "*/"
};

/// The next piece of CMD(pos:end) after blanks: a token (at most 10
/// characters, or one of ":=<>"), a comment "/* ... */", a comment that is
/// not closed before `end`, or the end.
Piece next_piece(const Instr& instr, int pos, int end);

/// Reads statements from the command input, one at a time.
class Reader {
 public:
  Reader(Status& status, Instr& instr, Listing& listing, std::istream& in);

  /// Reads the command input from `in` from now on.
  void set_input(std::istream& in) { in_ = &in; }
  /// The command input being read.
  std::istream& input() const { return *in_; }
  /// Names the input as `other` does, at the same line (for a second reader
  /// of the same commands).
  void same_source(const Reader& other) {
    source_ = other.source_;
    source_id_ = other.source_id_;
    lines_read_ = other.lines_read_;
  }
  /// Names the command input in messages: `name` ("(stdin)" for standard
  /// input), its identity when it is a regular file, and the number of its
  /// lines read before the commands (the parameter line).
  void set_source(std::string name, std::optional<FileId> id, int lines_before = 0);
  /// Remembers the listing file, which no other output of the run may replace.
  void set_listing_file(std::optional<FileId> id) { listing_id_ = id; }
  /// Identity of the command input, when it is a regular file.
  const std::optional<FileId>& source_id() const { return source_id_; }

  /// Refills the statement buffer from the input, compacting it first.
  void fillsg();
  /// Echoes the previous statement, then makes the next statement current.
  void getcmd();
  /// States the echo level of the current statement, the one just read: its
  /// echo, when the next statement is read or a fatal error shows it, is set
  /// off at that level. Until this is called a statement is echoed at the
  /// level of the statement before it.
  void echo_as(EchoLevel level) { status_.ECHOLV = level; }

  /// The word after "KEY =" in the current statement as it was typed, case
  /// and length kept, up to the next blank or ";"; the last such option
  /// counts. A key without "=" and a word is a fatal error.
  std::string option_word(std::string_view key);
  /// Ends the run before an output opens `name` when that is the command
  /// file or the listing file; `what` names the output ("Model file").
  void refuse_overwrite(const std::string& name, std::string_view what);
  /// "FILE:LINE" of the statement the run is at (or of the line a reading
  /// error concerns); empty before the first statement.
  std::string where() const;
  /// Marks the current PROC statement as the procedure being run (the
  /// driver, as it starts the procedure).
  void begin_procedure() {
    procedure_line_ = statement_line_;
    begun_ = true;
  }
  /// "FILE:LINE" where a warning written now is placed: the current
  /// statement, or the statement of the procedure being run when the
  /// current one is the PROC statement after it, read ahead to end its
  /// statements; empty before the first statement.
  std::string warning_place() const;
  /// A piece of the current statement that is ignored: a warning in the
  /// listing and one line "FILE:LINE: message" on standard error.
  void warn_ignored(const std::string& message);
  /// Warns of the words of the current statement after its first `used`
  /// tokens, which a complete `statement` leaves unread.
  void warn_left_over(int used, std::string_view statement);
  /// Ends the run when a word of the current PROC statement after its
  /// procedure's is one of `words`, each the first word of a statement that
  /// follows it: the ";" before that word is missing, and the statement would
  /// take it, and all after it, as options or name.
  void refuse_statement_words(std::span<const std::string_view> words);
  /// Warns of the words of the current PROC statement that no option of
  /// `procedure` takes ("PROC ESTIMATE"), when there are any.
  void warn_unknown_options(const OptionScan& scan, std::string_view procedure);

 private:
  /// Input line where text stored from position `pos` of the buffer on comes from.
  struct LineStart {
    int pos;
    int line;
  };
  /// Text after column 80 of an input line, reported when its statement is reached.
  struct Ignored {
    int line;
    std::string text;
  };
  /// What is left in the buffer when no ";" is found.
  struct Pending {
    int text = 0;                          ///< first position of statement text
    int comment_from = 0, comment_to = 0;  ///< the first closed comment
    int open_comment = 0;                  ///< a comment not closed in the buffer
  };

  /// Reads one input line as 80 columns; false at the end of the input.
  bool read_line80(std::string& line);
  /// Ends the run: the command input cannot be read.
  [[noreturn]] void fail_read();
  /// Input line of buffer position p (0 when unknown).
  int line_of(int p) const;
  /// Removes CMD(a:b) from the buffer, moving the rest up.
  void erase(int a, int b);
  /// Replaces the comment CMD(a:b) by one blank.
  void drop_comment(int a, int b);
  /// Walks CMD(IPOS:LAST), which holds no ";".
  Pending scan_pending() const;
  /// Handles a buffer that is full, or an input that has ended, with no ";"
  /// in sight: makes room by dropping comments, or ends the input; false
  /// when the input has ended with nothing but blanks and comments left.
  bool no_semicolon();
  /// Supplies "PROC STOP" at the end of the input.
  void supply_stop();
  /// Writes the warnings of ignored text of lines up to `line`.
  void report_ignored(int line);

  Status& status_;
  Instr& instr_;
  Listing& listing_;
  std::istream* in_;
  std::string source_ = "(stdin)";
  std::optional<FileId> source_id_;
  std::optional<FileId> listing_id_;
  int lines_read_ = 0;             ///< input lines read, the parameter line included
  bool at_start_ = true;           ///< no line of the command input read yet
  std::vector<LineStart> starts_;  ///< lines of the buffer's text, in order of position
  std::vector<Ignored> ignored_;   ///< ignored text not yet reported
  int statement_line_ = 0;         ///< line where the current statement starts
  int error_line_ = 0;             ///< line a reading error concerns
  int cut_comment_ = 0;            ///< start of a comment whose middle was dropped for room
  int procedure_line_ = 0;         ///< line of the PROC statement of the procedure being run
  bool current_proc_ = false;      ///< the current statement is a PROC statement
  bool begun_ = false;             ///< the current statement's procedure has begun
};

}  // namespace quorvale
