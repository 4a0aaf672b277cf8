#include "driver/params.h"

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

RunParams parse_params(const std::vector<std::string>& words) {
  RunParams p;
  auto starts = [](const std::string& word, const char* upper, const char* lower) {
    std::string_view w(word);
    return w.starts_with(upper) || w.starts_with(lower);
  };
  for (const std::string& word : words) {
    if (starts(word, "I=", "i=")) p.input = word.substr(2);
    if (starts(word, "L=", "l=")) p.listing = word.substr(2);
    if (starts(word, "NOECHO", "noecho")) p.noecho = true;
    if (starts(word, "JSON=", "json=")) p.json = word.substr(5);
    if (starts(word, "CSV=", "csv=")) p.csv = word.substr(4);
    if (starts(word, "REPORT=", "report=")) p.report = word.substr(7);
    if (word == "NOTRACE" || word == "notrace") p.notrace = true;
    if (starts(word, "THREADS=", "threads=")) p.threads = word.substr(8);
    if (starts(word, "SHARD=", "shard=")) p.shard = word.substr(6);
    if (starts(word, "LINES=", "lines=")) {
      p.lines_given = true;
      std::string field = word.size() > 6 ? word.substr(6, 10) : std::string();
      field.resize(10, ' ');
      p.lines_field = field;
    }
  }
  return p;
}

}  // namespace quorvale
