#pragma once
// The parameter line: the words that name the command input and the
// listing, set the page length and switch the echo off.

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace quorvale {

/// Writes the two-line prompt, reads the parameter line and splits it into words.
std::vector<std::string> args1(std::istream& in, std::ostream& out);

/// Removes the leading blanks of `text`, keeping its length (blank-filled at the end).
void lblksp(std::string& text);

/// Splits a line into blank-separated words.
std::vector<std::string> split_words(const std::string& line);

/// The run parameters the words set.
struct RunParams {
  std::string input;          ///< command input file; empty: standard input
  std::string listing;        ///< listing file; empty: standard output
  bool noecho = false;        ///< NOECHO given
  bool lines_given = false;   ///< a LINES= word was given
  std::string lines_field;    ///< the text after LINES=
  std::string json;           ///< JSON= file of the run's results; empty: none
  std::string csv;            ///< CSV= folder of the results tables; empty: none
  std::string report;         ///< REPORT= HTML page of the results; empty: none
  bool notrace = false;       ///< NOTRACE given: no trace line per likelihood evaluation
  std::string threads;        ///< the text after THREADS=; empty: not given
  std::string shard;          ///< the text after SHARD= (K/N); empty: not given
  std::string gradient;       ///< the text after GRADIENT= (exact or difference); empty: not given
  /// The words no form takes, in order, each with the known word nearest to
  /// it ("json=") when one is close, else empty.
  std::vector<std::pair<std::string, std::string>> ignored;
};

/// Applies every word to the parameters; unrecognised words are ignored and
/// listed in `ignored`.
RunParams parse_params(const std::vector<std::string>& words);

/// The one line that names the ignored words of `p` and the nearest known
/// word of each ("Parameter word ignored: jsno=o.json (did you mean json=?)."), ended by
/// a newline; empty when no word was ignored.
std::string ignored_words_line(const RunParams& p);

}  // namespace quorvale
