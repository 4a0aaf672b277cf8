#include "input/option_words.h"

#include <cstring>

namespace quorvale {

namespace {

/// True for the one-character tokens that split words (":", "=", "<", ">").
bool is_delimiter(const Token& t) {
  return t.trimmed().size() == 1 && std::strchr(":=<>", t.first()) != nullptr;
}

/// Walks the words of one statement: a word longer than a token is cut into
/// several tokens that follow each other without a gap.
class Words {
 public:
  Words(const Instr& instr, int ntok) : in_(instr), ntok_(ntok) {}

  bool more(int i) const { return i <= ntok_; }
  const Token& token(int i) const { return in_.token(i); }

  /// The token after the last piece of the word that starts at token i.
  int after(int i) const {
    int j = i + 1;
    while (j <= ntok_ && in_.TOKPOS[j] == in_.TOKPOS[j - 1] + TOKLEN && in_.token(j - 1).trimmed().size() == TOKLEN &&
           !is_delimiter(in_.token(j))) {
      ++j;
    }
    return j;
  }
  /// Skips `n` words from token i (fewer when the statement ends).
  int skip(int i, int n) const {
    for (; n > 0 && more(i); --n) i = after(i);
    return i;
  }
  /// The words of tokens from..to-1 as typed, one blank between words.
  std::string text(int from, int to) const {
    std::string out;
    for (int i = from; i < to;) {
      const int end = after(i);
      const int last = end - 1;
      if (!out.empty()) out += ' ';
      out += in_.text(in_.TOKPOS[i], in_.TOKPOS[last] + static_cast<int>(in_.token(last).trimmed().size()) - 1);
      i = end;
    }
    return out;
  }

 private:
  const Instr& in_;
  int ntok_;
};

const OptionSpec* find(std::span<const OptionSpec> known, const Token& t) {
  for (const OptionSpec& spec : known) {
    if (t == spec.keyword) return &spec;
  }
  return nullptr;
}

}  // namespace

OptionScan scan_options(const Instr& instr, int ntok, std::span<const OptionSpec> known) {
  const Words words(instr, ntok);
  OptionScan scan;
  // A procedure word longer than a token goes on into token 3.
  int i = words.after(2);
  while (words.more(i)) {
    const int next = words.after(i);
    if (i == 3 && words.token(i) == "DEBUG") {
      i = next;
      continue;
    }
    const OptionSpec* spec = find(known, words.token(i));
    if (spec != nullptr && spec->form == OptionForm::Phrase && !(words.more(next) && words.token(next) == spec->second)) {
      spec = nullptr;  // the first keyword alone
    }
    if (spec == nullptr) {
      // An unknown word, with the "= value" that came with it.
      int end = next;
      if (words.more(end) && words.token(end) == "=") end = words.skip(end, 2);
      scan.unknown.push_back(words.text(i, end));
      i = end;
      continue;
    }
    switch (spec->form) {
      case OptionForm::Flag:
        i = next;
        break;
      case OptionForm::Value:
        i = words.skip(next, 2);
        break;
      case OptionForm::Word:
      case OptionForm::Phrase:
        i = words.skip(next, 1);
        break;
      case OptionForm::CountWord:
        i = words.skip(next, 3);
        break;
      case OptionForm::List:
        i = words.skip(next, 1);
        while (words.more(i) && static_cast<unsigned char>(words.token(i).first()) <= '9') i = words.after(i);
        break;
      case OptionForm::Name: {
        const int value = words.skip(next, 1);
        i = words.skip(value, 1);
        scan.name_words.clear();
        if (value < i) scan.name_words.push_back(words.text(value, i));
        // Further words belong to the name up to the next option: a known
        // keyword, or any word followed by "=".
        while (words.more(i) && find(known, words.token(i)) == nullptr) {
          const int end = words.after(i);
          if (words.more(end) && words.token(end) == "=") break;
          scan.name_words.push_back(words.text(i, end));
          i = end;
        }
        break;
      }
    }
  }
  return scan;
}

}  // namespace quorvale
