#pragma once
// The parameter line: the words that name the command input and the
// listing, set the page length and switch the echo off.

#include <iosfwd>
#include <string>
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
  std::string lines_field;    ///< the 10 characters after LINES=
  std::string json;           ///< JSON= file of the run's results; empty: none
  std::string csv;            ///< CSV= folder of the results tables; empty: none
  std::string report;         ///< REPORT= HTML page of the results; empty: none
  bool notrace = false;       ///< NOTRACE given: no trace line per likelihood evaluation
  std::string threads;        ///< the text after THREADS=; empty: not given
  std::string shard;          ///< the text after SHARD= (K/N); empty: not given
};

/// Applies every word to the parameters; unrecognised words are ignored.
RunParams parse_params(const std::vector<std::string>& words);

}  // namespace quorvale
