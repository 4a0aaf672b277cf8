#include "convert/inp.h"

#include <algorithm>
#include <climits>

#include "model/group_names.h"

namespace quorvale::convert {

namespace {

/// A word of the input, or a ";", with the line it starts on.
struct Word {
  std::string text;  ///< the characters, or ";" for a record end
  int line = 0;      ///< input line of its first character
};

/// Blank characters that separate words (a carriage return included, so
/// that files with DOS line ends read alike).
bool is_blank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v';
}

/// Splits the text into words and ";" marks, dropping comments.
std::vector<Word> split_words(std::string_view text) {
  std::vector<Word> words;
  int line = 1;
  std::size_t i = 0;
  auto flush = [&](Word& w) {
    if (!w.text.empty()) words.push_back(w);
    w = Word{};
  };
  Word current;
  while (i < text.size()) {
    const char ch = text[i];
    if (ch == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      flush(current);
      const int opened = line;
      const std::size_t close = text.find("*/", i + 2);
      if (close == std::string_view::npos) {
        throw ConvertError(opened, "comment opened with \"/*\" is never closed with \"*/\"");
      }
      for (std::size_t k = i; k < close; ++k) line += text[k] == '\n' ? 1 : 0;
      i = close + 2;
      continue;
    }
    if (is_blank(ch)) {
      flush(current);
    } else if (ch == ';') {
      flush(current);
      words.push_back(Word{";", line});
    } else {
      if (current.text.empty()) current.line = line;
      current.text += ch;
    }
    if (ch == '\n') ++line;
    ++i;
  }
  flush(current);
  return words;
}

/// A character shown in a message: printable as itself, otherwise its code.
std::string shown(char ch) {
  const auto code = static_cast<unsigned char>(ch);
  if (code >= 32 && code < 127) return std::string("'") + ch + "'";
  return "character code " + std::to_string(code);
}

/// Checks that a history holds only 0 and 1.
void check_history(const Word& w) {
  for (std::size_t k = 0; k < w.text.size(); ++k) {
    const char ch = w.text[k];
    if (ch == '0' || ch == '1') continue;
    const std::string where = " at occasion " + std::to_string(k + 1) + " of history \"" + w.text + "\"";
    if (ch == '.') {
      throw ConvertError(w.line, "missing occasion '.'" + where +
                                     ": missing occasions are not supported; every history needs 0 or 1 "
                                     "on every occasion");
    }
    throw ConvertError(w.line, shown(ch) + where + ": a history holds only 0 (not caught) and 1 (caught)");
  }
}

/// A frequency of a record: a whole number, a minus sign for animals not
/// released after their last capture.
long long read_frequency(const Word& w) {
  std::string_view digits = w.text;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  bool whole = !digits.empty();
  for (char ch : digits) whole = whole && ch >= '0' && ch <= '9';
  if (!whole) throw ConvertError(w.line, "frequency \"" + w.text + "\" is not a whole number");
  long long n = 0;
  for (char ch : digits) {
    n = n * 10 + (ch - '0');
    if (n > INT_MAX) {
      throw ConvertError(w.line, "frequency \"" + w.text + "\" is too large: at most " + std::to_string(INT_MAX) +
                                     " animals per history");
    }
  }
  return negative ? -n : n;
}

/// "1 frequency", "2 frequencies".
std::string frequencies_text(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " frequency" : " frequencies");
}

/// Only the characters 0 and 1.
bool zeros_and_ones(const std::string& text) { return text.find_first_not_of("01") == std::string::npos; }

/// Refuses a history written in groups ("11 00 00 10 ;"): after the history
/// word `words[i]`, words of 0 and 1 on its line of which one starts with a
/// 0 and has more digits, as no frequency is written.
void refuse_groups(const std::vector<Word>& words, std::size_t i) {
  const Word& first = words[i];
  std::string shown = first.text;
  std::string joined = first.text;
  bool group = false;
  for (std::size_t k = i + 1; k < words.size() && words[k].line == first.line && zeros_and_ones(words[k].text); ++k) {
    const std::string& w = words[k].text;
    group = group || (w.size() > 1 && w.front() == '0');
    shown += " " + w;
    joined += w;
  }
  if (group) {
    throw ConvertError(first.line, "history written in groups (\"" + shown +
                                       "\"): a history is one string of 0 and 1 without blanks (\"" + joined +
                                       "\"), then its frequency and \";\"");
  }
}

}  // namespace

std::vector<History> read_inp(std::string_view text, int groups) {
  // A UTF-8 byte-order mark before the first line is no part of it.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::vector<Word> words = split_words(text);
  std::vector<History> histories;
  std::size_t i = 0;
  while (i < words.size()) {
    const Word& first = words[i];
    if (first.text == ";") throw ConvertError(first.line, "\";\" without a history before it");
    check_history(first);
    refuse_groups(words, i);
    History h{first.text, {}, first.line};
    if (i + 1 >= words.size() || words[i + 1].text == ";") {
      throw ConvertError(first.line, "history \"" + first.text + "\" has no frequency");
    }
    // One frequency per group, all on the line of the first.
    std::size_t k = i + 1;
    for (; k < words.size() && words[k].text != ";" && words[k].line == words[i + 1].line; ++k) {
      h.frequencies.push_back(read_frequency(words[k]));
    }
    const std::size_t n = h.frequencies.size();
    if (n > static_cast<std::size_t>(kMaxGroups)) {
      throw ConvertError(first.line, "history \"" + first.text + "\" has " + frequencies_text(n) + ": at most " +
                                         std::to_string(kMaxGroups) + " groups, one frequency each");
    }
    const std::string each = ": every history needs one frequency for each group";
    if (groups > 0 && n != static_cast<std::size_t>(groups)) {
      throw ConvertError(first.line, "history \"" + first.text + "\" has " + frequencies_text(n) +
                                         ", but --groups names " + std::to_string(groups) +
                                         (groups == 1 ? " group" : " groups") + each);
    }
    if (!histories.empty() && n != histories.front().frequencies.size()) {
      const History& front = histories.front();
      throw ConvertError(first.line, "history \"" + first.text + "\" has " + frequencies_text(n) +
                                         ", but the first history (line " + std::to_string(front.line) + ") has " +
                                         std::to_string(front.frequencies.size()) + each);
    }
    if (std::all_of(h.frequencies.begin(), h.frequencies.end(), [](long long f) { return f == 0; })) {
      if (n == 1) {
        throw ConvertError(words[i + 1].line, "frequency 0: every history needs a number of animals other than 0 "
                                              "(negative for animals not released after their last capture)");
      }
      throw ConvertError(first.line, "frequencies all 0: every history needs a number of animals other than 0 "
                                     "in at least one group");
    }
    if (k >= words.size() || words[k].text != ";") {
      throw ConvertError(first.line, "missing \";\" at the end of the record of history \"" + first.text + "\"");
    }
    histories.push_back(std::move(h));
    i = k + 1;
  }
  if (histories.empty()) throw ConvertError(0, "no encounter history in the input");
  return histories;
}

}  // namespace quorvale::convert
