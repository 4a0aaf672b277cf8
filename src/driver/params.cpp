#include "driver/params.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "listing/layout.h"

namespace quorvale {

void lblksp(std::string& text) {
  std::size_t k = text.find_first_not_of(' ');
  if (k == std::string::npos || k == 0) return;
  std::size_t n = text.size();
  text.erase(0, k);
  text.resize(n, ' ');
}

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::string rest = line;
  for (char& c : rest) {
    if (c == '\t' || c == '\r') c = ' ';
  }
  std::size_t pos = 0;
  while (pos < rest.size()) {
    std::size_t start = rest.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    std::size_t end = rest.find(' ', start);
    if (end == std::string::npos) end = rest.size();
    words.push_back(rest.substr(start, end - start));
    pos = end;
  }
  return words;
}

std::vector<std::string> args1(std::istream& in, std::ostream& out) {
  std::string prompt;
  write_free(prompt, {"Enter command line parameters [i=in_file] [l=out_file]"});
  write_free(prompt, {"   [lines=n] [noecho]:"});
  out << prompt << std::flush;
  std::string line;
  if (!std::getline(in, line)) return {};
  return split_words(line);
}

namespace {

/// The words of the parameter line in their lower-case spelling: a word is
/// known by its first characters ("json=o.json"), or whole (notrace).
constexpr std::string_view kKnownWords[] = {"i=", "l=", "lines=", "noecho", "json=", "csv=",
                                            "report=", "notrace", "threads=", "shard=",
                                            "gradient="};

/// Edits (insertions, deletions, changes, swaps of neighbours) that make `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

/// The known word nearest to `word` when it is close: its key (up to and
/// with "=", else the whole word) in lower case at most two edits away, and
/// fewer edits than half its length. Empty when none is.
std::string nearest_word(const std::string& word) {
  std::string key = word.substr(0, word.find('=') == std::string::npos ? word.size() : word.find('=') + 1);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  std::string_view best;
  std::size_t best_distance = 3;
  for (std::string_view known : kKnownWords) {
    const std::size_t d = edit_distance(key, known);
    if (d < best_distance && 2 * d < key.size()) {
      best = known;
      best_distance = d;
    }
  }
  return std::string(best);
}

}  // namespace

RunParams parse_params(const std::vector<std::string>& words) {
  RunParams p;
  auto starts = [](const std::string& word, const char* upper, const char* lower) {
    std::string_view w(word);
    return w.starts_with(upper) || w.starts_with(lower);
  };
  for (const std::string& word : words) {
    bool known = false;
    for (std::string_view form : kKnownWords) {
      std::string upper(form);
      for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      const bool whole = form.back() != '=' && form != "noecho";
      known = known || (whole ? word == form || word == upper : starts(word, upper.c_str(), std::string(form).c_str()));
    }
    if (!known) p.ignored.emplace_back(word, nearest_word(word));
    if (starts(word, "I=", "i=")) p.input = word.substr(2);
    if (starts(word, "L=", "l=")) p.listing = word.substr(2);
    if (starts(word, "NOECHO", "noecho")) p.noecho = true;
    if (starts(word, "JSON=", "json=")) p.json = word.substr(5);
    if (starts(word, "CSV=", "csv=")) p.csv = word.substr(4);
    if (starts(word, "REPORT=", "report=")) p.report = word.substr(7);
    if (word == "NOTRACE" || word == "notrace") p.notrace = true;
    if (starts(word, "THREADS=", "threads=")) p.threads = word.substr(8);
    if (starts(word, "SHARD=", "shard=")) p.shard = word.substr(6);
    if (starts(word, "GRADIENT=", "gradient=")) p.gradient = word.substr(9);
    if (starts(word, "LINES=", "lines=")) {
      p.lines_given = true;
      p.lines_field = word.substr(6);
    }
  }
  return p;
}

std::string ignored_words_line(const RunParams& p) {
  if (p.ignored.empty()) return {};
  std::string line = p.ignored.size() == 1 ? "Parameter word ignored:" : "Parameter words ignored:";
  for (std::size_t i = 0; i < p.ignored.size(); ++i) {
    line += i == 0 ? " " : ", ";
    line += p.ignored[i].first;
    if (!p.ignored[i].second.empty()) line += " (did you mean " + p.ignored[i].second + "?)";
  }
  return line + ".\n";
}

}  // namespace quorvale
