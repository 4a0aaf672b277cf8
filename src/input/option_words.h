#pragma once
// The vocabulary of a PROC statement's options, and the words of a
// statement that no option of its procedure takes. The procedures read their
// options token by token and pass over any word they do not know; this scan
// finds those words so that the run can say they were ignored.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/instr.h"

namespace quorvale {

/// How an option takes the words after its keyword.
enum class OptionForm {
  Flag,       ///< the keyword alone (NOVAR)
  Value,      ///< KEY = value: the next token and the word after it (NSIG = 5)
  Word,       ///< KEY value: the next word (SORTBY AIC)
  CountWord,  ///< KEY word = value: the three tokens after it (PRIMARY PERIODS = 5)
  List,       ///< KEY = value value ...: the "=" and every later token that starts with a digit or sign
  Name,       ///< NAME = word word ...: the value and the words after it up to the next option
  Phrase,     ///< two keywords in a row (ERROR TEST); `second` is the second one
};

/// One option of a procedure.
struct OptionSpec {
  std::string_view keyword;
  OptionForm form = OptionForm::Flag;
  std::string_view second = {};  ///< second keyword of a Phrase
};

/// What a scan of a PROC statement found.
struct OptionScan {
  /// Words no option takes, each with what stands with it ("NISG = 5"), as typed.
  std::vector<std::string> unknown;
  /// The words after NAME = (or GROUPS =, the other option of that form), as
  /// typed (empty without one; the last counts).
  std::vector<std::string> name_words;
};

/// Scans the words after the procedure's of a PROC statement (tokens 3 to
/// `ntok`, less any rest of a long procedure word) against the options `known`. DEBUG as the third token
/// counts for every procedure. A word cut into several tokens is one word.
OptionScan scan_options(const Instr& instr, int ntok, std::span<const OptionSpec> known);

}  // namespace quorvale
